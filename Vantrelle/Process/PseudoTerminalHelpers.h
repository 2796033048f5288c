#pragma once
// The low-level steps of running a program on a pseudo-terminal: fork and exec on a new pty,
// setting its window size, asking how many bytes wait, and building C string arrays.
#include <sys/ioctl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrelle {

// A null-terminated array of strdup'ed C strings, as execve wants them. Owns its memory.
class CStringArray {
 public:
  CStringArray() = default;
  CStringArray(char** strings, size_t count) : strings(strings), count(count) {}
  CStringArray(CStringArray&& other) noexcept;
  CStringArray& operator=(CStringArray&& other) noexcept;
  CStringArray(const CStringArray&) = delete;
  CStringArray& operator=(const CStringArray&) = delete;
  ~CStringArray();

  char** data() const { return strings; }
  size_t size() const { return count; }

 private:
  void release();
  char** strings = nullptr;
  size_t count = 0;
};

struct ForkedChild {
  int32_t pid;
  int32_t masterFd;
};

struct AvailableBytes {
  int32_t status;
  int32_t size;
};

class PseudoTerminalHelpers {
 public:
  // Starts `andExec` (used as given, no PATH search) on a new pseudo-terminal with exactly `args` as
  // its argument vector and `env` as its environment. The master descriptor is close-on-exec.
  // Returns nothing, having freed what it made, when memory or the pty cannot be had.
  static std::optional<ForkedChild> fork(const std::string& andExec, const std::vector<std::string>& args,
                                         const std::vector<std::string>& env,
                                         const std::optional<std::string>& currentDirectory,
                                         winsize& desiredWindowSize);

  static int32_t setWinSize(int32_t masterPtyDescriptor, winsize& windowSize);
  static AvailableBytes availableBytes(int32_t fd);
  static std::optional<CStringArray> allocateCStringArray(const std::vector<std::string>& strings);
};

}  // namespace vantrelle
