#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Hands links to the application the desktop has chosen for links of their scheme. Links come
// from pages and from programs in terminals, so only a well-formed link of a scheme that some
// application has registered itself for is handed over, and a file link only to a folder or to a
// file of this machine that shows (text, a picture, a document): never a file the program chosen
// for its type would run (an installer, a script, a launcher, a program of another system), and
// never a text a handler could misread as several arguments or as an option.
class LinkOpener {
 public:
  // A link longer than this is no link a user meant to follow; no program's command line takes it.
  static constexpr std::size_t maximumLength = 32 * 1024;

  // Why the link is not handed over, or nothing when it may be (a file link is looked up).
  static std::optional<std::string> refusal(std::string_view link);
  // Hands the link to its scheme's application. Returns why it was not, or nothing once the launch
  // has been asked for; a launch that fails later is logged.
  static std::optional<std::string> open(const std::string& link);
};

}  // namespace platform
