#include "app/URL.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace zorvel {

namespace {

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (std::tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

bool isAllowedCharacter(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7F) return false;
  switch (c) {
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
      return false;
    default:
      return true;
  }
}

bool isValidText(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!isAllowedCharacter(text[i])) return false;
    if (text[i] == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) return false;
  }
  return true;
}

bool isValidScheme(std::string_view s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
  std::vector<std::string_view> output;
  bool absolute = !input.empty() && input.front() == '/';
  std::string_view rest = absolute ? input.substr(1) : input;
  bool trailingSlash = false;
  while (true) {
    std::size_t slash = rest.find('/');
    std::string_view segment = rest.substr(0, slash);
    bool last = slash == std::string_view::npos;
    if (segment == ".") {
      trailingSlash = last;
    } else if (segment == "..") {
      if (!output.empty()) output.pop_back();
      trailingSlash = last;
    } else {
      output.push_back(segment);
      trailingSlash = false;
    }
    if (last) break;
    rest = rest.substr(slash + 1);
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < output.size(); ++i) {
    if (i > 0) result.push_back('/');
    result.append(output[i]);
  }
  if (trailingSlash && !result.empty() && result.back() != '/') result.push_back('/');
  return result;
}

std::string mergePaths(const std::optional<std::string>& baseAuthority, const std::string& basePath,
                       const std::string& referencePath) {
  if (baseAuthority && basePath.empty()) return "/" + referencePath;
  std::size_t slash = basePath.rfind('/');
  if (slash == std::string::npos) return referencePath;
  return basePath.substr(0, slash + 1) + referencePath;
}

}  // namespace

std::optional<URL> URL::parseReference(std::string_view text) {
  if (!isValidText(text)) return std::nullopt;
  URL url;
  std::size_t schemeEnd = text.find_first_of(":/?#");
  if (schemeEnd != std::string_view::npos && text[schemeEnd] == ':') {
    std::string_view scheme = text.substr(0, schemeEnd);
    if (!isValidScheme(scheme)) return std::nullopt;
    url.scheme_ = std::string(scheme);
    text.remove_prefix(schemeEnd + 1);
  }
  if (std::size_t hash = text.find('#'); hash != std::string_view::npos) {
    url.fragment_ = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  if (std::size_t question = text.find('?'); question != std::string_view::npos) {
    url.query_ = std::string(text.substr(question + 1));
    text = text.substr(0, question);
  }
  if (text.substr(0, 2) == "//") {
    text.remove_prefix(2);
    std::size_t slash = text.find('/');
    url.authority_ = std::string(text.substr(0, slash));
    text = slash == std::string_view::npos ? std::string_view{} : text.substr(slash);
    // The port must be a number; anything else makes the whole text unusable.
    std::string_view authority = *url.authority_;
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (auto colon = authority.rfind(':');
        colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
      for (char c : authority.substr(colon + 1))
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      if (authority.size() - colon - 1 > 5) return std::nullopt;
    }
  }
  url.path_ = std::string(text);
  return url;
}

std::optional<URL> URL::parse(std::string_view text) {
  auto url = parseReference(text);
  if (!url || !url->scheme_) return std::nullopt;
  return url;
}

URL URL::resolving(const URL& r) const {
  URL t;
  if (r.scheme_) {
    t.scheme_ = r.scheme_;
    t.authority_ = r.authority_;
    t.path_ = removeDotSegments(r.path_);
    t.query_ = r.query_;
  } else {
    if (r.authority_) {
      t.authority_ = r.authority_;
      t.path_ = removeDotSegments(r.path_);
      t.query_ = r.query_;
    } else {
      if (r.path_.empty()) {
        t.path_ = path_;
        t.query_ = r.query_ ? r.query_ : query_;
      } else {
        t.path_ = removeDotSegments(r.path_.front() == '/' ? r.path_ : mergePaths(authority_, path_, r.path_));
        t.query_ = r.query_;
      }
      t.authority_ = authority_;
    }
    t.scheme_ = scheme_;
  }
  t.fragment_ = r.fragment_;
  return t;
}

std::optional<URL> URL::resolving(std::string_view reference) const {
  auto r = parseReference(reference);
  if (!r) return std::nullopt;
  return resolving(*r);
}

std::string URL::string() const {
  std::string s;
  if (scheme_) s += *scheme_ + ":";
  if (authority_) s += "//" + *authority_;
  s += path_;
  if (query_) s += "?" + *query_;
  if (fragment_) s += "#" + *fragment_;
  return s;
}

std::optional<std::string> URL::host() const {
  if (!authority_) return std::nullopt;
  std::string_view a = *authority_;
  if (auto at = a.rfind('@'); at != std::string_view::npos) a.remove_prefix(at + 1);
  if (!a.empty() && a.front() == '[') {
    auto close = a.find(']');
    return std::string(a.substr(0, close == std::string_view::npos ? a.size() : close + 1));
  }
  auto colon = a.rfind(':');
  std::string_view host = a.substr(0, colon);
  if (host.empty()) return std::nullopt;
  return std::string(host);
}

std::optional<int> URL::port() const {
  if (!authority_) return std::nullopt;
  std::string_view a = *authority_;
  auto close = a.rfind(']');
  auto colon = a.rfind(':');
  if (colon == std::string_view::npos || (close != std::string_view::npos && colon < close)) return std::nullopt;
  std::string_view digits = a.substr(colon + 1);
  int port = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return port;
}

std::optional<std::string> URL::path() const {
  auto decoded = percentDecode(path_);
  if (!decoded || decoded->find('\0') != std::string::npos) return std::nullopt;
  return decoded;
}

bool URL::hasSameOrigin(const URL& other) const {
  return scheme_ == other.scheme_ && host() == other.host() && port() == other.port();
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
    out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
    i += 2;
  }
  return out;
}

std::string percentEncodePathSegment(std::string_view text) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(digits[u >> 4]);
      out.push_back(digits[u & 0xF]);
    }
  }
  // "." and ".." would still move the path even when every byte is unreserved.
  if (out == "." || out == "..") {
    std::string escaped;
    for (std::size_t i = 0; i < out.size(); ++i) escaped += "%2E";
    return escaped;
  }
  return out;
}

bool isUUID(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !isHex(text[i])) return false;
  }
  return true;
}

}  // namespace zorvel
