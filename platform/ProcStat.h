#pragma once
// What /proc/<pid>/stat says of a process: one reading of the line, for everything here that asks
// the kernel about other processes.
#include <sys/types.h>

#include <optional>
#include <string_view>
#include <vector>

namespace platform {

struct ProcStat {
  pid_t pid = 0;
  char state = '?';
  pid_t parent = 0;
  pid_t processGroup = 0;
  pid_t session = 0;
  // When it started, in clock ticks since the machine started: with the id, it names one process,
  // as an id alone passes to another process once this one has gone.
  unsigned long long startTime = 0;

  // Exited and not yet reaped, or being reaped.
  bool isZombie() const { return state == 'Z' || state == 'X'; }

  // The fields of one stat line, nothing when it is not one.
  static std::optional<ProcStat> parse(std::string_view line);
  // The process's line, nothing once it is gone.
  static std::optional<ProcStat> of(pid_t pid);
  // Every process of the machine that could be read.
  static std::vector<ProcStat> all();
};

}  // namespace platform
