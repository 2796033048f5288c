#include "platform/RunningApplications.h"

#include <dirent.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace platform {

namespace {

std::string readLink(const std::string& path) {
  std::error_code error;
  auto target = std::filesystem::read_symlink(path, error);
  return error ? std::string() : target.string();
}

// The state letter of /proc/<pid>/stat comes after the parenthesised command name, which may
// itself hold spaces and parentheses, so it is found from the last ')'.
bool isZombie(const std::string& procDirectory) {
  std::ifstream file(procDirectory + "/stat");
  std::string line;
  if (!std::getline(file, line)) return true;
  auto close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return true;
  char state = line[close + 2];
  return state == 'Z' || state == 'X';
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
    applications.push_back({static_cast<pid_t>(pid), executable, isZombie(directory)});
  }
  ::closedir(proc);
  return applications;
}

}  // namespace platform
