// The environment the demo hands its shell: the user's own, with the terminal's variables over it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrelle::demo {

// `host` is a null-terminated list of NAME=value strings, as `environ` is. The terminal's entries
// (TERM, COLORTERM, LANG and the rest) replace the user's entries of the same names; everything
// else is kept, above all PATH: without it programs that look up other programs by name (man
// finding its pager, git its editor) quietly fall back or fail.
inline std::vector<std::string> shellEnvironment(const char* const* host, const std::vector<std::string>& terminal) {
  auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> environment;
  for (; host && *host; host++) {
    std::string_view entry = *host;
    bool replaced = false;
    for (const auto& own : terminal) replaced = replaced || nameOf(own) == nameOf(entry);
    if (!replaced && entry.find('=') != std::string_view::npos) environment.emplace_back(entry);
  }
  environment.insert(environment.end(), terminal.begin(), terminal.end());
  return environment;
}

}  // namespace vantrelle::demo
