#include "app/DownloadDestination.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/GLibPtr.h"

namespace zorvel::DownloadDestination {

namespace fs = std::filesystem;

namespace {

constexpr int maximumCopies = 999;
// What a file system that cannot say takes: the bound of every common Linux one.
constexpr long usualNameBytes = 255;

std::string systemError(int error) { return std::system_category().message(error); }

std::string inQuotes(std::string_view name) {
  std::string text(1, '"');
  text.append(name).push_back('"');
  return text;
}

// Whether `path` lies below `home`, not at it, by their names alone.
bool isWithin(const fs::path& path, const fs::path& home) {
  const fs::path inner = path.lexically_normal(), outer = home.lexically_normal();
  if (!inner.is_absolute() || !outer.is_absolute()) return false;
  auto [at, from] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  // A home named with a final slash ends in an empty part.
  if (at != outer.end() && at->empty() && std::next(at) == outer.end()) at = outer.end();
  return at == outer.end() && from != inner.end() && !from->empty();
}

// The byte count at most `bytes` that ends `text` between two characters.
std::size_t characterBoundary(std::string_view text, std::size_t bytes) {
  if (bytes >= text.size()) return text.size();
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return bytes;
}

}  // namespace

fs::path folder() {
  const char* configured = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  if (configured) return configured;
  return fs::path(g_get_home_dir()) / "Downloads";
}

std::optional<std::string> make(const fs::path& folder, const fs::path& home) {
  fs::path wanted = folder.lexically_normal();
  if (wanted.has_parent_path() && wanted.filename().empty()) wanted = wanted.parent_path();
  std::vector<fs::path> missing;
  for (fs::path at = wanted;; at = at.parent_path()) {
    struct stat status {};
    if (::stat(at.c_str(), &status) == 0) {
      if (S_ISDIR(status.st_mode)) break;
      return at == wanted
                 ? "the downloads folder " + wanted.string() + " is not a folder"
                 : "the downloads folder " + wanted.string() + " cannot be made: " + at.string() + " is not a folder";
    }
    if (errno != ENOENT && errno != ENOTDIR)
      return "the downloads folder " + wanted.string() + " cannot be used: " + systemError(errno);
    missing.push_back(at);
    if (!at.has_parent_path() || at.parent_path() == at) break;
  }
  if (missing.size() > 1 && !isWithin(missing.back(), home))
    return "the downloads folder " + wanted.string() + " is missing, and so is " + missing.back().string() +
           " outside the home, which is not made for it";
  // Made as the desktop makes a user's folders: the user's own, readable by others as the umask
  // allows.
  for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
    if (::mkdir(at->c_str(), 0755) == 0) continue;
    if (errno != EEXIST) return "the downloads folder " + wanted.string() + " could not be made: " + systemError(errno);
    // Made meanwhile by someone else, or a link to nothing in the way.
    struct stat status {};
    if (::stat(at->c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
      return "the downloads folder " + wanted.string() + " could not be made: " + at->string() +
             " is a link to nothing, or not a folder";
  }
  return std::nullopt;
}

std::string copyName(std::string_view name, int copy, std::size_t limit) {
  const std::size_t dot = name.rfind('.');
  // The extension stays last; a name that is all extension (".profile") has none.
  std::string_view stem = dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
  std::string_view extension = name.substr(stem.size());
  const std::string suffix = copy > 0 ? " (" + std::to_string(copy) + ")" : "";
  if (stem.size() + suffix.size() + extension.size() > limit) {
    if (suffix.size() + extension.size() >= limit) {
      stem = name;
      extension = {};
    }
    const std::size_t room = limit > suffix.size() + extension.size() ? limit - suffix.size() - extension.size() : 0;
    stem = stem.substr(0, characterBoundary(stem, room));
  }
  return std::string(stem) + suffix + std::string(extension);
}

Reservation reserve(const fs::path& folder, std::string_view suggested) {
  std::string name = fs::path(suggested).filename().string();
  if (name.empty() || name == "." || name == "..") name = "download";
  long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  if (limit <= 0) limit = usualNameBytes;
  for (int copy = 0; copy <= maximumCopies; ++copy) {
    const fs::path candidate = folder / copyName(name, copy, static_cast<std::size_t>(limit));
    // Never through a link, dangling or not: a name taken by anything goes to the next copy.
    const int file = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file >= 0) {
      ::close(file);
      return {candidate, {}};
    }
    if (errno != EEXIST)
      return {{}, inQuotes(name) + " could not be saved in " + folder.string() + ": " + systemError(errno)};
  }
  return {{}, "the downloads folder " + folder.string() + " holds too many files named " + inQuotes(name)};
}

std::optional<std::string> lackOfRoom(const fs::path& folder, std::uint64_t expectedBytes) {
  struct statvfs room {};
  if (expectedBytes == 0 || ::statvfs(folder.c_str(), &room) != 0) return std::nullopt;
  const std::uint64_t free = std::uint64_t(room.f_bavail) * room.f_frsize;
  if (free >= expectedBytes) return std::nullopt;
  auto size = [](std::uint64_t bytes) { return std::string(platform::GCharPtr(g_format_size(bytes)).get()); };
  return "its file system has no room for it (" + size(expectedBytes) + ", and " + size(free) + " free)";
}

}  // namespace zorvel::DownloadDestination
