#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zorvel {

// A URL reference as RFC 3986 defines it: parsing, reference resolution and the few component
// views the bridge needs. Text with spaces, controls, non-ASCII bytes or broken percent escapes
// is not a URL.
class URL {
 public:
  static std::optional<URL> parseReference(std::string_view text);
  // An absolute URL: a reference that has a scheme.
  static std::optional<URL> parse(std::string_view text);

  // The reference resolved against this URL (RFC 3986 section 5.2.2).
  URL resolving(const URL& reference) const;
  std::optional<URL> resolving(std::string_view reference) const;

  std::string string() const;

  const std::optional<std::string>& scheme() const { return scheme_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::string& rawPath() const { return path_; }
  std::optional<std::string> host() const;
  std::optional<int> port() const;
  // The path with its percent escapes decoded; absent when it decodes to a NUL byte.
  std::optional<std::string> path() const;

  // Same scheme, host and port, where an absent part equals only an absent part.
  bool hasSameOrigin(const URL& other) const;

 private:
  std::optional<std::string> scheme_;
  std::optional<std::string> authority_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
};

std::optional<std::string> percentDecode(std::string_view text);
// Escapes everything but the unreserved characters, so the result is one path segment.
std::string percentEncodePathSegment(std::string_view text);
// The 8-4-4-4-12 hexadecimal form, either case.
bool isUUID(std::string_view text);

}  // namespace zorvel
