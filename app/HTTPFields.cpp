#include "app/HTTPFields.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace zorvel::HTTPFields {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool isToken(std::string_view text) {
  static constexpr std::string_view extra = "!#$%&'*+-.^_`|~";
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || extra.find(c) != std::string_view::npos;
  });
}

bool isFieldValue(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

namespace {

constexpr std::array<std::string_view, 21> forbiddenNames{"Accept-Charset",
                                                          "Accept-Encoding",
                                                          "Access-Control-Request-Headers",
                                                          "Access-Control-Request-Method",
                                                          "Connection",
                                                          "Content-Length",
                                                          "Cookie",
                                                          "Cookie2",
                                                          "Date",
                                                          "DNT",
                                                          "Expect",
                                                          "Host",
                                                          "Keep-Alive",
                                                          "Origin",
                                                          "Referer",
                                                          "Set-Cookie",
                                                          "TE",
                                                          "Trailer",
                                                          "Transfer-Encoding",
                                                          "Upgrade",
                                                          "Via"};
constexpr std::array<std::string_view, 2> forbiddenPrefixes{"Proxy-", "Sec-"};
constexpr std::array<std::string_view, 3> methodOverrides{"X-HTTP-Method", "X-HTTP-Method-Override",
                                                          "X-Method-Override"};
constexpr std::array<std::string_view, 3> forbiddenMethods{"CONNECT", "TRACE", "TRACK"};

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

template <std::size_t N>
bool isOneOf(std::string_view text, const std::array<std::string_view, N>& names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view name) { return equalsIgnoringCase(text, name); });
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view space = " \t";
  auto first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A server that honours an override reads the value as a list of methods, and may take any of them.
bool namesForbiddenMethod(std::string_view value) {
  while (true) {
    auto comma = value.find(',');
    if (isForbiddenMethod(trimmed(value.substr(0, comma)))) return true;
    if (comma == std::string_view::npos) return false;
    value.remove_prefix(comma + 1);
  }
}

}  // namespace

bool isForbiddenMethod(std::string_view method) { return isOneOf(method, forbiddenMethods); }

bool isForbiddenRequestField(std::string_view name, std::string_view value) {
  if (isOneOf(name, forbiddenNames)) return true;
  if (std::any_of(forbiddenPrefixes.begin(), forbiddenPrefixes.end(),
                  [&](std::string_view prefix) { return startsWithIgnoringCase(name, prefix); }))
    return true;
  return isOneOf(name, methodOverrides) && namesForbiddenMethod(value);
}

void set(Fields& fields, const std::string& name, const std::string& value) {
  auto it =
      std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return equalsIgnoringCase(f.first, name); });
  if (it == fields.end()) {
    fields.emplace_back(name, value);
    return;
  }
  *it = {name, value};
  fields.erase(
      std::remove_if(std::next(it), fields.end(), [&](const auto& f) { return equalsIgnoringCase(f.first, name); }),
      fields.end());
}

}  // namespace zorvel::HTTPFields
