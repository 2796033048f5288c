#include "app/HTTPFields.h"

#include <algorithm>
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

void set(Fields& fields, const std::string& name, const std::string& value) {
  auto it =
      std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return equalsIgnoringCase(f.first, name); });
  if (it != fields.end())
    *it = {name, value};
  else
    fields.emplace_back(name, value);
}

}  // namespace zorvel::HTTPFields
