#include "platform/RunningApplications.h"

#include <dirent.h>

#include <cstdlib>
#include <filesystem>

#include "platform/ProcStat.h"

namespace platform {

namespace {

std::string readLink(const std::string& path) {
  std::error_code error;
  auto target = std::filesystem::read_symlink(path, error);
  return error ? std::string() : target.string();
}

// A process whose line is gone has exited since its folder was listed.
bool isZombie(pid_t pid) {
  auto stat = ProcStat::of(pid);
  return !stat || stat->isZombie();
}

}  // namespace

std::string ownExecutablePath() { return readLink("/proc/self/exe"); }

std::vector<RunningApplication> runningApplications() {
  std::vector<RunningApplication> applications;
  DIR* proc = ::opendir("/proc");
  if (!proc) return applications;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (!end || *end != '\0' || pid <= 0) continue;
    std::string directory = std::string("/proc/") + entry->d_name;
    std::string executable = readLink(directory + "/exe");
    if (executable.empty()) continue;
    applications.push_back({static_cast<pid_t>(pid), executable, isZombie(static_cast<pid_t>(pid))});
  }
  ::closedir(proc);
  return applications;
}

}  // namespace platform
