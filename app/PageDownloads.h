#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// Files a page has the web engine save into the user's downloads folder. Each one takes the opening
// of a press of the user's own on the page (`PageActivation`); one without, and one that fails, is
// logged, so none ends silently. A link to the page's own data (blob: and data:) is a download
// only when the user follows one that asks to be downloaded: the engine asks the application about
// it as about any link, and the policy never lets such a link replace the page.
namespace PageDownloads {

// Watches every download of the one network session that all web views share.
void watch();

// Where a download named `suggested` is saved in `folder`: under the last part of that name (a
// name the page gives could climb out of the folder), "download" for one without, and never over
// a file (or a link) already there, which gets " (1)", " (2)" and so on before its extension
// instead. Nothing when even those are all taken.
std::optional<std::filesystem::path> freeDestination(const std::filesystem::path& folder, std::string_view suggested);

// A link to the page's own data that the user followed, as the relay tells of it: the first
// characters of its address and the address's whole length, as an address can be far longer than
// a message the relay sends for it.
struct FollowedLink {
  static constexpr std::size_t keptCharacters = 4096;
  std::string start;
  std::size_t length = 0;

  bool names(std::string_view address) const;
};

// Remembers the link the user just followed on the view, in place of any before it.
void noteFollowed(WebKitWebView* view, FollowedLink link);
// Whether the navigation to `address` is that link's, which is then downloaded. Each navigation of
// the view ends the note: a click the page cancelled leaves one that nothing follows.
bool takeFollowed(WebKitWebView* view, const char* address);

}  // namespace PageDownloads

}  // namespace zorvel
