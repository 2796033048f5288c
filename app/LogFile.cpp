#include "app/LogFile.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zorvel::LogFile {

namespace {

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

enum class Appended { written, full, missing };

// A file that is a link or not ours to write is left alone.
Appended appendToExisting(const std::filesystem::path& file, const std::string& line, std::uintmax_t limit) {
  int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? Appended::missing : Appended::written;
  struct stat status {};
  bool measured = ::fstat(fd, &status) == 0;
  if (measured && static_cast<std::uintmax_t>(status.st_size) + line.size() > limit) {
    ::close(fd);
    return Appended::full;
  }
  // A line cut short (the disk or the user's quota is full) is taken back whole, so the next
  // line written does not run on from its remains.
  if (!writeAll(fd, line) && measured) {
    [[maybe_unused]] int cut = ::ftruncate(fd, status.st_size);
  }
  ::close(fd);
  return Appended::written;
}

// The new file appears whole or not at all; one made meanwhile by another writer is kept.
void createWithLine(const std::filesystem::path& file, const std::string& line, std::uintmax_t limit) {
  std::string temporary = file.string() + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // 0600
  if (fd < 0) return;
  bool written = writeAll(fd, line);
  ::close(fd);
  if (written && ::link(temporary.c_str(), file.c_str()) != 0 && errno == EEXIST) {
    appendToExisting(file, line, limit);
  }
  ::unlink(temporary.c_str());
}

}  // namespace

void appendLine(const std::filesystem::path& file, const std::string& line, std::uintmax_t limit) {
  if (line.size() > limit) return;
  // The first lines can come before anything else has made the data directory.
  if (g_mkdir_with_parents(file.parent_path().c_str(), 0700) != 0) return;
  switch (appendToExisting(file, line, limit)) {
    case Appended::written:
      return;
    case Appended::full: {
      auto previous = file;
      previous += ".1";
      if (::rename(file.c_str(), previous.c_str()) != 0) return;
      break;
    }
    case Appended::missing:
      break;
  }
  createWithLine(file, line, limit);
}

}  // namespace zorvel::LogFile
