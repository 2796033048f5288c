#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/URLSession.h"
#include "tests/LoopbackPort.h"
#include "tests/Programs.h"

namespace e2e {

// One line of a file of /proc/<pid>, or nothing when the process is gone.
inline std::optional<std::string> procText(pid_t pid, const char* file) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  return text;
}

inline pid_t parentOf(pid_t pid) {
  auto stat = procText(pid, "stat");
  if (!stat) return 0;
  auto close = stat->rfind(')');
  if (close == std::string::npos) return 0;
  int parent = 0;
  std::sscanf(stat->c_str() + close + 2, "%*c %d", &parent);
  return parent;
}

// Web content processes started, directly or through a sandbox helper, by the application,
// oldest first.
inline std::vector<pid_t> webProcessesOf(pid_t app) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    pid_t pid = std::atoi(entry.path().filename().c_str());
    auto name = pid > 0 ? procText(pid, "comm") : std::nullopt;
    if (!name || name->rfind("WebKitWebProces", 0) != 0) continue;
    for (pid_t p = parentOf(pid); p > 1; p = parentOf(p)) {
      if (p == app) {
        found.push_back(pid);
        break;
      }
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Children of the application that run as its task terminals (they carry the direct-child mark).
inline std::vector<pid_t> terminalChildrenOf(pid_t app) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    pid_t pid = std::atoi(entry.path().filename().c_str());
    if (pid <= 0 || parentOf(pid) != app) continue;
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::string environment((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (environment.find(std::string("ZORVEL_DESKTOP_DIRECT_CHILD=1\0", 30)) != std::string::npos) {
      found.push_back(pid);
    }
  }
  return found;
}

// What a shell command prints on its standard output (xprop, xdotool and the like). A program it
// runs that is missing fails the test at once.
inline std::string commandOutput(const std::string& command) {
  testing::programs::require(command);
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[256];
    while (size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, got);
    ::pclose(pipe);
  }
  return output;
}

inline bool processExists(pid_t pid) {
  if (pid <= 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Asks again and again until the predicate holds. For what other processes show only when asked
// (their windows, /proc, the core's live state over HTTP): nothing tells this process when those
// change. What the application logs and the core records is waited on with DesktopRun::waitUntil.
template <typename Predicate>
bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (predicate()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return predicate();
}

// Drains a descriptor that only signals.
inline void drainSignals(int fd) {
  char chunk[4096];
  while (::read(fd, chunk, sizeof chunk) > 0) {
  }
}

// One run of the real application with the reference core, in a private data and config
// directory on a free port. Whatever it started is ended when the run is destroyed.
class DesktopRun {
 public:
  explicit DesktopRun(std::map<std::string, std::string> extra = {}) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorvel-e2e-XXXXXX").string();
    directory = ::mkdtemp(pattern.data());
    port = reservedPort.port();
    recordPath = directory + "/record.jsonl";
    logPath = directory + "/desktop.log";
    environment = {{"ZORVEL_DESKTOP_DATA_DIR", directory + "/data"}, {"ZORVEL_DESKTOP_PORT", std::to_string(port)},
                   {"XDG_CONFIG_HOME", directory + "/config"},       {"ZORVEL_REFCORE_RECORD", recordPath},
                   {"ZORVEL_DESKTOP_DISABLE_NOTIFICATIONS", "1"},    {"G_MESSAGES_DEBUG", "all"}};
    for (auto& [name, value] : extra) environment[name] = value;
    // The core appends its records to a file of this directory.
    changes = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ::inotify_add_watch(changes, directory.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
  }
  DesktopRun(const DesktopRun&) = delete;
  DesktopRun& operator=(const DesktopRun&) = delete;

  ~DesktopRun() {
    stop();
    for (pid_t pid : corePIDs()) killCore(pid);
    std::filesystem::remove_all(directory);
    ::close(changes);
  }

  // Waits until the predicate, which may read only the application's log and the core's records,
  // holds. It is asked again whenever either grows. A predicate that makes the core record
  // something (any request to it) would wake itself at once: use e2e::waitUntil for those.
  template <typename Predicate>
  bool waitUntil(Predicate predicate, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return predicate();
      pollfd grown[] = {{changes, POLLIN, 0}, {logState->grown, POLLIN, 0}};
      ::poll(grown, 2, static_cast<int>(left.count()));
      drainSignals(changes);
      drainSignals(logState->grown);
    }
    return true;
  }

  // Whether the process is a core of this run and still running. A core's id passes to another
  // process once the core has gone, and on a busy machine that can happen within seconds.
  bool isCoreAlive(pid_t pid) const {
    if (!processExists(pid)) return false;
    auto command = procText(pid, "cmdline");
    return command && command->find(directory + "/data") != std::string::npos;
  }

  // Waits until a core of this run has ended. The process is held by a descriptor, which tells when
  // it ends, before it is checked, so its id passing to another meanwhile is no matter.
  bool waitUntilCoreGone(pid_t pid, std::chrono::milliseconds timeout) const {
    int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (handle < 0) return true;
    pollfd ended{handle, POLLIN, 0};
    bool gone = !isCoreAlive(pid) || ::poll(&ended, 1, static_cast<int>(timeout.count())) == 1;
    ::close(handle);
    return gone;
  }

  // Kills a core of this run that is still there, and nothing else: the process is held by a
  // descriptor before it is checked, so its id cannot pass to another between check and kill.
  void killCore(pid_t pid) const {
    if (pid <= 0) return;
    int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (handle < 0) return;
    if (isCoreAlive(pid)) ::syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0);
    ::close(handle);
  }

  std::shared_ptr<platform::ChildProcess> launch(std::vector<std::string> arguments = {}) {
    platform::ChildProcess::Options options;
    options.executable = executable;
    options.arguments = std::move(arguments);
    options.environment.emplace();
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
      std::string text(*entry);
      auto equals = text.find('=');
      if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (auto& [name, value] : environment) merged[name] = value;
    for (auto& name : removed) merged.erase(name);
    for (auto& [name, value] : merged) options.environment->push_back(name + "=" + value);
    options.input = platform::ChildProcess::Stream::null;
    options.output = platform::ChildProcess::Stream::null;
    options.error = platform::ChildProcess::Stream::pipe;
    auto process = platform::ChildProcess::launch(options, nullptr);
    if (process) startLogDrain(process);
    return process;
  }

  void start(std::vector<std::string> arguments = {}) {
    app = launch(std::move(arguments));
    ASSERT_TRUE(app);
  }

  // Quits the application as the system would, and waits a bounded time for it.
  void stop() {
    if (!app) return;
    app->terminate();
    if (!app->waitUntilExit(std::chrono::seconds(10))) app->kill();
    app->waitUntilExit(std::chrono::seconds(5));
  }

  std::vector<nlohmann::json> records() const {
    std::vector<nlohmann::json> all;
    std::ifstream file(recordPath);
    std::string line;
    while (std::getline(file, line)) {
      auto record = nlohmann::json::parse(line, nullptr, false);
      if (record.is_object()) all.push_back(record);
    }
    return all;
  }

  std::vector<nlohmann::json> starts() const { return ofType("start"); }
  std::vector<pid_t> corePIDs() const {
    std::vector<pid_t> pids;
    for (auto& start : starts()) pids.push_back(start.value("pid", 0));
    return pids;
  }

  std::vector<nlohmann::json> ofType(const std::string& type) const {
    std::vector<nlohmann::json> matching;
    for (auto& record : records()) {
      if (record.value("type", "") == type) matching.push_back(record);
    }
    return matching;
  }

  // Control lines the application wrote to the core, parsed, in order.
  std::vector<nlohmann::json> controlIn() const {
    std::vector<nlohmann::json> lines;
    for (auto& record : ofType("control")) {
      if (record.value("direction", "") != "in" || !record["line"].is_string()) continue;
      auto line = nlohmann::json::parse(record["line"].get<std::string>(), nullptr, false);
      if (line.is_object()) lines.push_back(line);
    }
    return lines;
  }

  bool readyProbeAnswered(size_t cores = 1) const {
    size_t answered = 0;
    for (auto& request : ofType("request")) {
      if (request.value("path", "") == "/desktop-runtime" && request.value("status", 0) == 200) {
        ++answered;
      }
    }
    return answered >= cores;
  }

  std::string log() const {
    std::lock_guard guard(logState->mutex);
    return logState->text;
  }

  platform::URLResponse request(const std::string& method, const std::string& path,
                                const nlohmann::json& body = nullptr) {
    platform::URLRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(port) + path;
    request.method = method;
    if (!body.is_null()) {
      request.body = body.dump();
      request.headers = {{"Content-Type", "application/json"}};
    }
    request.timeout = std::chrono::seconds(10);
    return platform::URLSession::shared().sendSynchronously(request);
  }

  std::string executable = std::string(ZORVEL_BUNDLE_DIR) + "/bin/zorvel-desktop";
  std::string directory;
  // The core's port, this run's alone for as long as the run lasts.
  testing::LoopbackPort reservedPort;
  int port = 0;
  std::string recordPath;
  std::string logPath;
  std::map<std::string, std::string> environment;
  std::vector<std::string> removed;
  std::shared_ptr<platform::ChildProcess> app;

 private:
  struct LogState {
    LogState() = default;
    LogState(const LogState&) = delete;
    LogState& operator=(const LogState&) = delete;
    ~LogState() { ::close(grown); }
    std::mutex mutex;
    std::string text;
    int grown = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);  // signalled whenever the text grows
  };

  void startLogDrain(const std::shared_ptr<platform::ChildProcess>& process) {
    std::thread([state = logState, process] {
      char chunk[4096];
      while (true) {
        ssize_t got = ::read(process->errorDescriptor(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        {
          std::lock_guard guard(state->mutex);
          state->text.append(chunk, static_cast<size_t>(got));
        }
        const uint64_t one = 1;
        [[maybe_unused]] auto signalled = ::write(state->grown, &one, sizeof one);
      }
    }).detach();
  }

  std::shared_ptr<LogState> logState = std::make_shared<LogState>();
  int changes = -1;
};

}  // namespace e2e
