#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;

namespace zorvel {

// Serves zorvel-ui://app/<path> from the UI directory of the bundle. Each request is answered
// whole, on the main thread, before the callback returns.
class BundledUIURLSchemeHandler {
 public:
  static constexpr const char* scheme = "zorvel-ui";
  static constexpr const char* errorDomain = "ZorvelDesktop.UI";

  struct Resource {
    std::filesystem::path file;
    std::string relativePath;
    std::string mimeType;
    std::optional<std::string> textEncodingName;
  };
  struct Failure {
    std::string message;
  };

  // `rootURL` is the bundle's UI directory; absent when the bundle has no resources directory.
  explicit BundledUIURLSchemeHandler(std::optional<std::filesystem::path> rootURL);

  const std::optional<std::filesystem::path>& rootURL() const { return root; }

  void start(WebKitURISchemeRequest* request) const;

  // Which file a URL names, or why it is refused.
  std::variant<Resource, Failure> resolve(std::string_view url) const;
  // The whole file of a resolved resource. Links are followed only while they stay inside the
  // UI directory: a file whose real path lies elsewhere is not found.
  std::variant<std::string, Failure> read(const Resource& resource) const;

  static std::string mimeType(std::string_view extension);
  static std::optional<std::string> textEncodingName(std::string_view extension);

 private:
  std::optional<std::filesystem::path> root;
};

}  // namespace zorvel
