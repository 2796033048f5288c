#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// Files a page has the web engine save into the user's downloads folder. Each one takes the opening
// of a press of the user's own on the page (`PageActivation`); one without, and one that fails, is
// logged, so none ends silently, and a failure of one the user asked for is also shown to them. A
// link to the page's own data (blob: and data:) is a download only when the user follows one that
// asks to be downloaded: the engine asks the application about it as about any link, and the
// policy never lets such a link replace the page.
namespace PageDownloads {

// Watches every download of the one network session that all web views share. A failure of a
// download the user asked for is logged and handed to `showFailure`, which replaces the one
// given before.
void watch(std::function<void(const std::string&)> showFailure);

// A link to the page's own data that the user clicked, as the relay tells of it: the first
// characters of its address and the address's whole length, as an address can be far longer than
// a message the relay sends for it, and whether the link asks to be downloaded.
struct FollowedLink {
  static constexpr std::size_t keptCharacters = 4096;
  std::string start;
  std::size_t length = 0;
  bool download = false;

  bool names(std::string_view address) const;
};

// Remembers the link the user just clicked on the view, in place of any before it.
void noteFollowed(WebKitWebView* view, FollowedLink link);

// How the navigation to an address came about: by the user's click on a link that asks to be
// downloaded (it is downloaded), by the user's click on one that does not, or by nothing of the
// user's on the link that the relay saw. Each navigation of the view ends the note: a click the
// page cancelled leaves one that nothing follows.
enum class Followed { toDownload, byClick, notClicked };
Followed takeFollowed(WebKitWebView* view, const char* address);

}  // namespace PageDownloads

}  // namespace zorvel
