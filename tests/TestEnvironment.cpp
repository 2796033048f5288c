// Every test program runs in the same locale whatever the machine or the caller's environment
// holds: a UTF-8 locale that every current C library has, with the toolkit's texts untranslated.
//
// Every test program also runs in a home of its own: HOME and the XDG folders point into a fresh
// folder, made for this process and removed when it ends, so nothing a test or a program it starts
// writes (GTK's list of recent files, WebKit's data, caches and sandbox folders, a shell's or an
// editor's history) reaches the home of whoever runs the tests, and two test programs, or two
// checkouts testing at once, never share one. Settings stay in memory rather than going to the
// session's settings service, which keeps them in the home it was started with.
//
// The programs a test starts inherit all of it. It runs before main and before any other static
// initialiser of the program, as GLib reads the home and the XDG folders once, on first use.
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string variable(const char* name) {
  const char* value = ::getenv(name);
  return value ? value : "";
}

// Removes a folder tree, also where a test left a folder without write or search permission.
void removeTree(const fs::path& root) {
  std::error_code error;
  if (fs::remove_all(root, error) != static_cast<std::uintmax_t>(-1) && !error) return;
  ::chmod(root.c_str(), 0700);
  for (auto entry = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
       !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
    if (entry->is_directory(error) && !entry->is_symlink(error)) ::chmod(entry->path().c_str(), 0700);
  }
  fs::remove_all(root, error);
}

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True for the child that a death test in the "threadsafe" style starts by running this program
// again: it lives in its parent's home, and ends with _exit(), which would leave a home of its own.
bool isDeathTestChild() {
  const std::string arguments = fileText("/proc/self/cmdline");
  return arguments.find(std::string(1, '\0') + "--gtest_internal_run_death_test") != std::string::npos;
}

// True when the process was started with `home` as its home.
bool startedIn(pid_t pid, const std::string& home) {
  const std::string environment = '\0' + fileText("/proc/" + std::to_string(pid) + "/environ");
  return environment.find('\0' + ("HOME=" + home) + '\0') != std::string::npos;
}

// Ends every other process started in `home` and waits, a few seconds at most, until they are
// gone. The web engine's helpers (and whatever else a test started and left running, children and
// orphans alike) outlive the program that started them, and one that writes its data as it ends
// would make the home again once it has been removed.
void endProcessesIn(const std::string& home) {
  std::vector<int> ending;
  std::error_code error;
  for (auto entry = fs::directory_iterator("/proc", error); !error && entry != fs::directory_iterator();
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (pid == ::getpid() || !startedIn(pid, home)) continue;
    // Held by a descriptor, checked again, and signalled through it: the number may have gone to
    // another process in between.
    const int process = int(::syscall(SYS_pidfd_open, pid, 0));
    if (process < 0) continue;
    if (startedIn(pid, home) && ::syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0) == 0) {
      ending.push_back(process);
    } else {
      ::close(process);
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int process : ending) {
    pollfd ended{process, POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    ::poll(&ended, 1, int(std::max<int64_t>(left.count(), 0)));
    ::close(process);
  }
}

class PrivateHome {
 public:
  PrivateHome() {
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::setenv("LANG", "C.UTF-8", 1);
    ::unsetenv("LANGUAGE");
    if (isDeathTestChild()) return;

    std::error_code error;
    fs::path temporary = fs::temp_directory_path(error);
    if (error) temporary = "/tmp";
    std::string pattern = (temporary / "zorvel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return;
    root = pattern;
    owner = ::getpid();

    const fs::path home = root / "home", runtime = root / "run";
    for (const fs::path& folder :
         {home, home / ".config", home / ".local" / "share", home / ".cache", home / ".local" / "state", runtime}) {
      fs::create_directories(folder, error);
      ::chmod(folder.c_str(), 0700);
    }

    // What the caller's session offers through its home and runtime folder stays in reach: the X
    // server's authority file, the Wayland display and the session bus.
    const std::string callerHome = variable("HOME"), callerRuntime = variable("XDG_RUNTIME_DIR");
    if (variable("XAUTHORITY").empty() && !callerHome.empty() && fs::exists(callerHome + "/.Xauthority", error))
      ::setenv("XAUTHORITY", (callerHome + "/.Xauthority").c_str(), 1);
    const std::string wayland = variable("WAYLAND_DISPLAY");
    if (!wayland.empty() && wayland.front() != '/' && !callerRuntime.empty())
      ::setenv("WAYLAND_DISPLAY", (callerRuntime + "/" + wayland).c_str(), 1);
    if (variable("DBUS_SESSION_BUS_ADDRESS").empty() && !callerRuntime.empty() &&
        fs::exists(callerRuntime + "/bus", error))
      ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + callerRuntime + "/bus").c_str(), 1);

    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local" / "share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home / ".local" / "state").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    // A fresh home has no shader cache worth keeping, and the GL driver's cache is written by
    // helper processes (the web engine's) that may still be ending after this program has removed
    // its folder: they would make it again, and leave it behind.
    ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
  }

  // Only the process that made the folder removes it: a child forked by a test that leaves through
  // exit() runs this too.
  ~PrivateHome() {
    if (root.empty() || ::getpid() != owner) return;
    endProcessesIn((root / "home").string());
    removeTree(root);
  }

  PrivateHome(const PrivateHome&) = delete;
  PrivateHome& operator=(const PrivateHome&) = delete;

 private:
  fs::path root;
  pid_t owner = 0;
};

// Made first and destroyed last of the program's own static objects.
__attribute__((init_priority(101))) PrivateHome privateHome;

}  // namespace
