#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zorvel {

// Where a page's download is saved: a file of its own in the downloads folder, never over one
// already there, under a name the file system takes. A failure says why in words the user can act
// on, as the web engine's own error for a file it could not make says only that the load was
// cancelled.
namespace DownloadDestination {

// The user's downloads folder; with none configured, "Downloads" in the home, the folder the
// desktop's user folders would have made there.
std::filesystem::path folder();

// Makes `folder` when it is missing (a user may remove it while the application runs), and its
// missing parents while they lie within `home`: a folder elsewhere is made only where its parent
// is. Why it is not there to save into, or nothing.
std::optional<std::string> make(const std::filesystem::path& folder, const std::filesystem::path& home);

// `name`, or its copy `copy` (" (1)", " (2)" and so on before its extension), in at most `limit`
// bytes: a name too long for the file system is cut short before its extension, between two
// characters. An extension that leaves no room is cut with the rest.
std::string copyName(std::string_view name, int copy, std::size_t limit);

struct Reservation {
  std::filesystem::path file;  // empty when none was made
  std::string failure;         // why not
};

// Makes the empty file the download is written into, in `folder`, under the last part of the
// name the page suggests (a name could climb out of the folder), "download" for one without, or
// the first free copy of it. Made at once, the name is the download's alone: two downloads of one
// name saved at the same time take two.
Reservation reserve(const std::filesystem::path& folder, std::string_view suggested);

// Why a download of `expectedBytes` (0 when the server did not say) fails in `folder` for want of
// room ("its file system has no room for it ..."), or nothing when the folder's file system has
// that room: the engine says only that the load was cancelled when the disk is full.
std::optional<std::string> lackOfRoom(const std::filesystem::path& folder, std::uint64_t expectedBytes);

}  // namespace DownloadDestination

}  // namespace zorvel
