#include "app/CoreSupervisor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "app/ControlChannel.h"
#include "app/CoreAccess.h"
#include "app/CoreLaunch.h"
#include "app/RuntimeAuthority.h"
#include "platform/ChildProcess.h"
#include "platform/Dispatch.h"
#include "platform/URLSession.h"

namespace zorvel {

namespace {

using platform::ChildProcess;
using platform::DispatchQueue;

// The core's standard error, drained for the core's whole life so a chatty core never blocks on
// a full pipe; only its tail is kept for the failure text.
struct ErrorDrain {
  std::mutex mutex;
  std::condition_variable finished;
  BoundedTail tail;
  bool done = false;

  static std::shared_ptr<ErrorDrain> start(const CoreProcess& process) {
    auto drain = std::make_shared<ErrorDrain>();
    int fd = process->errorDescriptor();
    std::thread([drain, process, fd] {
      char chunk[8192];
      while (fd >= 0) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        std::lock_guard guard(drain->mutex);
        drain->tail.append(std::string_view(chunk, static_cast<size_t>(got)));
      }
      std::lock_guard guard(drain->mutex);
      drain->done = true;
      drain->finished.notify_all();
    }).detach();
    return drain;
  }

  // Waits a bounded time for the end of the output: a grandchild may hold the pipe open.
  std::string text(std::chrono::milliseconds wait) {
    std::unique_lock guard(mutex);
    finished.wait_for(guard, wait, [&] { return done; });
    return tail.text();
  }
};

// Every core this process started and has not yet seen exit, so quitting can end them all, also
// one still starting up.
struct LiveCores {
  std::mutex mutex;
  std::vector<std::weak_ptr<ChildProcess>> processes;
  bool closed = false;
};

LiveCores& liveCores() {
  static LiveCores* cores = new LiveCores();
  return *cores;
}

// Starts the process unless quitting has closed the list; null with the reason when it cannot
// start, and without one when the list is closed.
CoreProcess startLiveCore(const ChildProcess::Options& options, std::optional<std::string>& failure) {
  auto& cores = liveCores();
  std::lock_guard guard(cores.mutex);
  if (cores.closed) return nullptr;
  failure.emplace();
  auto process = ChildProcess::launch(options, &*failure);
  std::erase_if(cores.processes, [](const auto& known) { return known.expired(); });
  if (process) cores.processes.push_back(process);
  return process;
}

// Follows a started core: bootstrap, readiness, and the report of how it went.
void superviseStartedCore(const CoreLaunchRequest& request, const CoreLaunchEvents& events,
                          const CoreProcess& process) {
  auto drain = ErrorDrain::start(process);
  // The handler is dropped once it has run, so holding the process here makes no lasting cycle.
  process->setTerminationHandler([terminated = events.terminated, process] {
    DispatchQueue::main().async([terminated, process] { terminated(process); });
  });
  // The core reads its input at its own pace; our writes wait for it only a bounded time.
  int input = process->inputDescriptor();
  if (int flags = ::fcntl(input, F_GETFL); flags >= 0) ::fcntl(input, F_SETFL, flags | O_NONBLOCK);

  bool installed = false;
  DispatchQueue::main().sync([&] { installed = events.install(process); });
  if (installed) {
    request.controlChannel->startControlReader(process);
    request.controlChannel->writeControl(request.bootstrapMessage, process);
    if (waitForCoreReadiness(request, process)) {
      bool current = false;
      DispatchQueue::main().sync([&] { current = events.answered(process); });
      // A core that answered the probe and then exited before it was counted as ready has had
      // its exit handled as a failed start; it was ready, so it is restarted like one.
      DispatchQueue::main().async([events, process, current] {
        if (current) {
          events.becameReady(process);
        } else {
          events.exitedAfterAnswer();
        }
      });
      return;
    }
  }
  // Every wait here is bounded: ask the core to end, then kill it if it does not.
  process->terminateAndReap(std::chrono::seconds(2));
  if (*request.quitting) return;
  std::string reason = CoreLaunch::failureReason(drain->text(std::chrono::seconds(1)));
  DispatchQueue::main().async([failed = events.failed, reason] { failed(reason); });
}

}  // namespace

void launchCore(const CoreLaunchRequest& request, const CoreLaunchEvents& events) {
  ChildProcess::Options options;
  options.executable = request.executable;
  options.arguments = request.arguments;
  options.environment = request.environment;
  options.input = options.output = options.error = ChildProcess::Stream::pipe;
  // Whatever the core starts ends with it, by a crash as by a quit: left running, it would keep
  // the core's port (and its work) from the next core.
  options.ownSession = true;
  std::optional<std::string> failure;
  auto process = startLiveCore(options, failure);
  if (process) {
    superviseStartedCore(request, events, process);
  } else if (failure) {
    DispatchQueue::main().async([failed = events.failed, reason = *failure] { failed(reason); });
  }
}

bool waitForCoreReadiness(const CoreLaunchRequest& request, const CoreProcess& process) {
  // Only the process asked can give an answer that counts, and only its socket gets the token:
  // without a process there is nothing to tell its answer from anyone's.
  if (!process) return false;
  std::string url = "http://127.0.0.1:" + std::to_string(request.port) + "/desktop-runtime";
  const pid_t corePID = process->processIdentifier();
  const CoreAccess access{request.desktopToken, [corePID] { return corePID; }};
  // Shared by every request of this probe: an answer counts whenever it arrives before the
  // deadline, also after later requests have gone out.
  struct Answers {
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    int inFlight = 0;
  };
  auto answers = std::make_shared<Answers>();
  const auto& quitting = *request.quitting;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  // Waits until the condition holds, an acceptable answer has come, the time is up or the
  // application quits; whether an acceptable answer has come.
  auto waitFor = [&](std::chrono::milliseconds wait, auto&& condition) {
    auto until = std::min(deadline, std::chrono::steady_clock::now() + wait);
    std::unique_lock guard(answers->mutex);
    while (!answers->ready && !condition() && !quitting && std::chrono::steady_clock::now() < until) {
      // Quitting sets a flag without a notification, so the wait is sliced.
      answers->changed.wait_until(guard,
                                  std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)));
    }
    return answers->ready;
  };
  auto never = [] { return false; };
  while (std::chrono::steady_clock::now() < deadline) {
    if (!process->isRunning()) {
      // A core that answered and then exited did become ready; its answer may still be on its
      // way, and requests to a process that has gone end at once.
      return waitFor(std::chrono::seconds(15), [&] { return answers->inFlight == 0; });
    }
    if (quitting) return false;
    // A fresh request each round: one the core accepted but never answers must not use up the
    // whole window.
    platform::URLRequest probe;
    probe.url = url;
    probe.timeout = std::chrono::seconds(60);
    access.authorize(probe);
    {
      std::lock_guard guard(answers->mutex);
      ++answers->inFlight;
    }
    platform::URLSession::shared().dataTask(probe, [answers, corePID](platform::URLResponse response) {
      bool ready = !response.error && CoreLaunch::isReadyAnswer(response.body, corePID);
      std::lock_guard guard(answers->mutex);
      --answers->inFlight;
      answers->ready = answers->ready || ready;
      answers->changed.notify_all();
    });
    if (waitFor(std::chrono::milliseconds(500), never)) return true;
    if (waitFor(std::chrono::milliseconds(125), never)) return true;
  }
  return waitFor(std::chrono::milliseconds(0), never);
}

void terminateLiveCores() {
  std::vector<CoreProcess> running;
  {
    auto& cores = liveCores();
    std::lock_guard guard(cores.mutex);
    cores.closed = true;
    for (auto& weak : cores.processes) {
      if (auto process = weak.lock()) running.push_back(process);
    }
    cores.processes.clear();
  }
  for (auto& process : running) process->terminate();
  for (auto& process : running) process->terminateAndReap(std::chrono::seconds(2));
}

CoreSupervisor::CoreSupervisor(DesktopRuntimeAuthority& authority)
    : runtimeAuthority(authority), controlChannel(std::make_shared<ControlChannel>(authority)) {}

CoreLaunchRequest CoreSupervisor::request(const std::string& executable, std::vector<std::string> arguments,
                                          std::vector<std::string> environment, int port) const {
  return CoreLaunchRequest{executable,
                           std::move(arguments),
                           std::move(environment),
                           port,
                           runtimeAuthority.desktopToken(),
                           CoreLaunch::bootstrapMessage(runtimeAuthority),
                           controlChannel,
                           quitting};
}

bool CoreSupervisor::install(const CoreProcess& process) {
  // A core that already exited is not installed: its exit was handled before it got here.
  if (!process->isRunning() || terminationInProgress()) return false;
  coreProcess = process;
  coreControlInput = process;
  return true;
}

bool CoreSupervisor::markReady(const CoreProcess& process) {
  if (coreProcess != process) return false;
  readyCorePIDs.insert(process->processIdentifier());
  readyCore->store(process->processIdentifier());
  return true;
}

std::function<pid_t()> CoreSupervisor::readyCoreProcess() const {
  return [ready = std::shared_ptr<const std::atomic<pid_t>>(readyCore)] { return ready->load(); };
}

bool CoreSupervisor::isCurrent(const CoreProcess& process) const {
  return coreProcess == process && process->isRunning();
}

bool CoreSupervisor::didTerminate(const CoreProcess& process) {
  pid_t pid = process->processIdentifier();
  bool wasReady = readyCorePIDs.erase(pid) > 0;
  // From here until the next core is ready, the page's requests fail rather than go to whoever
  // takes the port meanwhile.
  pid_t exited = pid;
  readyCore->compare_exchange_strong(exited, 0);
  runtimeAuthority.revoke("core:" + std::to_string(pid));
  if (coreProcess != process) return false;
  coreProcess.reset();
  coreControlInput.reset();
  return wasReady;
}

void CoreSupervisor::terminateCurrentCore() {
  if (coreProcess) coreProcess->terminate();
}

}  // namespace zorvel
