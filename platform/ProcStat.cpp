#include "platform/ProcStat.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

namespace platform {

namespace {

// The next field of the line after `at`: skips one space, then reads up to the next.
std::optional<long long> nextNumber(std::string_view line, size_t& at) {
  if (at >= line.size() || line[at] != ' ') return std::nullopt;
  ++at;
  long long value = 0;
  auto [end, error] = std::from_chars(line.data() + at, line.data() + line.size(), value);
  if (error != std::errc() || end == line.data() + at) return std::nullopt;
  at = static_cast<size_t>(end - line.data());
  return value;
}

// Passes over the next field after `at`, whatever its value.
bool skipField(std::string_view line, size_t& at) {
  if (at + 1 >= line.size() || line[at] != ' ') return false;
  const size_t end = line.find(' ', at + 1);
  if (end == at + 1) return false;
  at = end == std::string_view::npos ? line.size() : end;
  return true;
}

}  // namespace

std::optional<ProcStat> ProcStat::parse(std::string_view line) {
  // "pid (command) state parent group session ...": the command may itself hold spaces and
  // parentheses, so the fields after it are found from the last ')'.
  const size_t open = line.find(" (");
  const size_t close = line.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  ProcStat stat;
  size_t at = 0;
  auto [end, error] = std::from_chars(line.data(), line.data() + open, stat.pid);
  if (error != std::errc() || end != line.data() + open || stat.pid <= 0) return std::nullopt;
  at = close + 1;
  if (at + 2 >= line.size() || line[at] != ' ') return std::nullopt;
  stat.state = line[at + 1];
  at += 2;
  auto parent = nextNumber(line, at);
  auto group = nextNumber(line, at);
  auto session = nextNumber(line, at);
  if (!parent || !group || !session) return std::nullopt;
  // From the terminal to the interval timer: fields 7 to 21, then the start time.
  for (int field = 7; field <= 21; ++field) {
    if (!skipField(line, at)) return std::nullopt;
  }
  auto started = nextNumber(line, at);
  if (!started || *started < 0) return std::nullopt;
  stat.parent = static_cast<pid_t>(*parent);
  stat.processGroup = static_cast<pid_t>(*group);
  stat.session = static_cast<pid_t>(*session);
  stat.startTime = static_cast<unsigned long long>(*started);
  return stat;
}

std::optional<ProcStat> ProcStat::of(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  // The fields read here come within the first few hundred bytes whatever the command's name.
  char text[1024];
  ssize_t got;
  do {
    got = ::read(file, text, sizeof text);
  } while (got < 0 && errno == EINTR);
  ::close(file);
  if (got <= 0) return std::nullopt;
  auto stat = parse(std::string_view(text, static_cast<size_t>(got)));
  if (stat && stat->pid != pid) return std::nullopt;
  return stat;
}

std::vector<ProcStat> ProcStat::all() {
  std::vector<ProcStat> processes;
  DIR* proc = ::opendir("/proc");
  if (!proc) return processes;
  while (dirent* entry = ::readdir(proc)) {
    pid_t pid = 0;
    const std::string_view name(entry->d_name);
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size() || pid <= 0) continue;
    if (auto stat = of(pid)) processes.push_back(*stat);
  }
  ::closedir(proc);
  return processes;
}

}  // namespace platform
