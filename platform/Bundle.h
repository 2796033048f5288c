#pragma once
// The application's install tree: <prefix>/bin/zorvel-desktop beside <prefix>/share/zorvel/, which
// holds the resources and Info.json (the application's Info keys by their own names).
#include <map>
#include <optional>
#include <string>

namespace platform {

class Bundle {
 public:
  // The bundle of the running executable, found from its own path.
  static Bundle& main();

  // A bundle over a resource directory, with no executable of its own (tests, tools).
  explicit Bundle(std::string resourcePath, std::string executablePath = {});

  const std::string& executablePath() const { return executable; }
  const std::string& resourcePath() const { return resources; }

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
  std::map<std::string, std::string> info;
};

}  // namespace platform
