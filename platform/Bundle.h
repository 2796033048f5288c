#pragma once
// The application's install tree: <prefix>/bin/zorvel-desktop beside <prefix>/share/zorvel/, which
// holds the resources and Info.json (the application's Info keys by their own names), and
// <prefix>/libexec/zorvel/, which holds the helper programs (the reference core). The build's bundle
// tree has the same layout; an install may move share and libexec, as the build configuration says.
#include <map>
#include <optional>
#include <string>

namespace platform {

class Bundle {
 public:
  // The bundle of the running executable, found from its own path.
  static Bundle& main();

  // A bundle over a resource directory, with no executable of its own (tests, tools).
  explicit Bundle(std::string resourcePath, std::string executablePath = {}, std::string helperPath = {});

  const std::string& executablePath() const { return executable; }
  const std::string& resourcePath() const { return resources; }
  // The folder of the helper programs; empty when the bundle has none.
  const std::string& helperPath() const { return helpers; }

  // The path of an existing resource file "name.ext" (or "name" when ext is empty), else nothing.
  // Names that would leave the resource directory are refused.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& ext = {}) const;

  // A string value of Info.json; absent when the key is missing or its value is not a string.
  std::optional<std::string> infoString(const std::string& key) const;
  std::optional<std::string> bundleIdentifier() const;

 private:
  void loadInfo();

  std::string resources;
  std::string executable;
  std::string helpers;
  std::map<std::string, std::string> info;
};

}  // namespace platform
