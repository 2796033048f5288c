#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Graphics/KittyGraphicsReplies.h"
#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {
namespace {

// Clients name the files and objects they want the terminal to delete with this marker.
constexpr std::string_view kMarker = "tty-graphics-protocol";
constexpr size_t kReadStep = 4096;

// Decoded text of a path or object name: valid UTF-8 without zero bytes.
std::optional<std::string> decodeName(KittyCommandPayload& payload, bool& decoded) {
  auto bytes = payload.take(65'536);
  decoded = bytes && !bytes->empty();
  if (!decoded) return std::nullopt;
  if (std::find(bytes->begin(), bytes->end(), uint8_t(0)) != bytes->end() || !isValidUtf8(*bytes)) {
    return std::nullopt;
  }
  return std::string(bytes->begin(), bytes->end());
}

std::optional<std::string> resolvePath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Kernel and device trees are never read as image files; /dev/shm holds ordinary files.
bool isRefusedSystemPath(std::string_view path) {
  if (startsWith(path, "/proc/") || startsWith(path, "/sys/")) return true;
  return startsWith(path, "/dev/") && !startsWith(path, "/dev/shm/");
}

std::string_view directoryOf(std::string_view path) {
  auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

std::string_view baseNameOf(std::string_view path) {
  auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) close(fd);
  }
};

KittyPayloadResult finishLoad(const KittyGraphicsControl& control, std::optional<std::vector<uint8_t>> data) {
  if (!data) return {std::nullopt, KittyMessage::badPayload};
  auto inflated = decompressKittyData(std::move(*data), control.compression);
  if (!inflated) return {std::nullopt, KittyMessage::badPayload};
  auto payload = decodeKittyPayloadData(control, std::move(*inflated));
  if (!payload) return {std::nullopt, KittyMessage::badPayload};
  return {std::move(payload), std::nullopt};
}

}  // namespace

// A temporary file must sit directly in a temporary directory: a client may have the terminal
// delete files only there, never in a directory below it or elsewhere that shares a prefix.
bool isKittyTempPath(std::string_view resolvedPath) {
  std::string_view directory = directoryOf(resolvedPath);
  if (directory.empty()) return false;
  if (directory == "/tmp" || directory == "/dev/shm") return true;
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir == nullptr || *tmpdir == '\0') return false;
  std::string configured(tmpdir);
  while (configured.size() > 1 && configured.back() == '/') configured.pop_back();
  if (directory == configured) return true;
  auto resolved = resolvePath(configured);
  return resolved && directory == *resolved;
}

KittyPayloadResult loadKittyFilePayload(const KittyGraphicsControl& control, KittyCommandPayload payload,
                                        bool temporary) {
  bool decoded = false;
  auto path = decodeName(payload, decoded);
  if (!decoded) return {std::nullopt, KittyMessage::badPayload};
  if (!path) return {std::nullopt, KittyMessage::badPath};
  auto resolved = resolvePath(*path);
  if (!resolved || isRefusedSystemPath(*resolved)) return {std::nullopt, KittyMessage::badPath};
  if (temporary && !(isKittyTempPath(*resolved) && baseNameOf(*resolved).find(kMarker) != std::string_view::npos)) {
    return {std::nullopt, KittyMessage::badTempPath};
  }
  return finishLoad(control, readKittyFileData(*resolved, control.dataOffset, control.dataSize, temporary));
}

std::optional<std::vector<uint8_t>> readKittyFileData(const std::string& path, int64_t offset, int64_t size,
                                                      bool deleteAfterRead) {
  if (offset < 0 || size < 0) return std::nullopt;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (info.st_size > kKittySizeLimit || info.st_size < offset) return std::nullopt;
  // No blocking open and no link following: the checked path must be what is opened, and the
  // descriptor is checked again in case the file was swapped in between.
  FileCloser file{open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return std::nullopt;
  if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kKittySizeLimit || info.st_size < offset) {
    return std::nullopt;
  }
  auto removeIfAsked = [&] {
    if (deleteAfterRead) unlink(path.c_str());
  };
  if (offset != 0 && lseek(file.fd, off_t(offset), SEEK_SET) < 0) {
    removeIfAsked();
    return std::nullopt;
  }
  int64_t wanted = (size == 0 || size >= kKittySizeLimit) ? kKittySizeLimit : size;
  int64_t count = std::min<int64_t>(info.st_size - offset, wanted);
  std::vector<uint8_t> data;
  if (count > 0) data.reserve(size_t(count));
  while (int64_t(data.size()) < count) {
    size_t used = data.size();
    size_t step = std::min<size_t>(kReadStep, size_t(count) - used);
    data.resize(used + step);
    ssize_t got = read(file.fd, data.data() + used, step);
    if (got < 0) {
      removeIfAsked();
      return std::nullopt;
    }
    data.resize(used + size_t(got));
    if (got == 0) break;
  }
  removeIfAsked();
  return data;
}

KittyPayloadResult loadKittySharedMemoryPayload(const KittyGraphicsControl& control, KittyCommandPayload payload) {
  bool decoded = false;
  auto name = decodeName(payload, decoded);
  if (!name) return {std::nullopt, KittyMessage::badPayload};
  auto expected = kittyExpectedDataSize(control);
  if (!expected && control.format != 100) return {std::nullopt, KittyMessage::badPayload};
  return finishLoad(control, readKittySharedMemory(*name, expected, control.dataOffset, control.dataSize));
}

std::optional<std::vector<uint8_t>> readKittySharedMemory(const std::string& name, std::optional<int64_t> expectedSize,
                                                          int64_t offset, int64_t size) {
  if (offset < 0 || size < 0) return std::nullopt;
  FileCloser object{shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0)};
  if (object.fd < 0) return std::nullopt;
  // Only objects that the client marked for the terminal are removed once read.
  struct Unlinker {
    const std::string& name;
    ~Unlinker() {
      if (name.find(kMarker) != std::string::npos) shm_unlink(name.c_str());
    }
  } unlinker{name};
  struct stat info {};
  if (fstat(object.fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  int64_t length = info.st_size;
  if (length < 1 || length > kKittySizeLimit) return std::nullopt;
  int64_t end = length;
  if (expectedSize) {
    if (length < *expectedSize) return std::nullopt;
    end = *expectedSize;
  }
  if (size != 0) end = std::min(end, offset + size);
  if (end <= offset || end > length) return std::nullopt;
  // Read with pread rather than a mapping: a client that shrinks the object meanwhile then gives a
  // short read instead of a bus error in the terminal.
  std::vector<uint8_t> data(size_t(end - offset));
  size_t done = 0;
  while (done < data.size()) {
    ssize_t got = pread(object.fd, data.data() + done, data.size() - done, off_t(offset) + off_t(done));
    if (got <= 0) return std::nullopt;
    done += size_t(got);
  }
  return data;
}

}  // namespace vantrelle
