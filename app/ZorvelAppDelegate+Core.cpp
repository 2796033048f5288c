#include <fcntl.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/ConnectionSettings.h"
#include "app/CoreLaunch.h"
#include "app/WebBridge.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/ChildProcess.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/URLSession.h"

extern char** environ;

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

  static std::shared_ptr<ErrorDrain> start(const std::shared_ptr<ChildProcess>& process) {
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

std::map<std::string, std::string> currentEnvironment() {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string text(*entry);
    size_t equals = text.find('=');
    if (equals != std::string::npos) {
      environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
  }
  return environment;
}

nlohmann::json bundleInfo() {
  std::ifstream file(platform::Bundle::main().resourcePath() + "/Info.json");
  auto info = nlohmann::json::parse(file, nullptr, false);
  return info.is_object() ? info : nlohmann::json::object();
}

std::string validUTF8(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

}  // namespace

namespace {
const platform::Logger& coreLog();
}

// Every core this process started and has not yet seen exit, so quitting can end them all, also
// one still starting up.
struct LiveCores {
  std::mutex mutex;
  std::vector<std::weak_ptr<ChildProcess>> processes;
  bool closed = false;
};

static LiveCores& liveCores() {
  static LiveCores* cores = new LiveCores();
  return *cores;
}

void ZorvelAppDelegate::setErrorLabel(const std::string& text, const char* styleClass) {
  webErrorLabel.remove_css_class("zorvel-secondary");
  if (styleClass) webErrorLabel.add_css_class(styleClass);
  webErrorLabel.set_text(validUTF8(text));
  webErrorLabel.set_visible(true);
}

void ZorvelAppDelegate::ensureCoreAndLoadZorvel() {
  setErrorLabel("Starting Zorvel core\u2026", "zorvel-secondary");
  int port = CoreLaunch::portOf(baseURL);
  pid_t ownPID = ::getpid();
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  DispatchQueue::global(platform::QoS::userInitiated).async([weak, port, ownPID] {
    if (auto self = weak.lock()) self->runCoreLaunch(port, ownPID);
  });
}

void ZorvelAppDelegate::runCoreLaunch(int port, pid_t ownPID) {
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  auto showFailure = [weak](std::string reason) {
    DispatchQueue::main().async([weak, reason] {
      if (auto self = weak.lock()) self->showCoreFailure(reason);
    });
  };

  ChildProcess::Options options;
  options.executable = cliPath;
  options.arguments = CoreLaunch::arguments(desktopDataDirectory, port, ownPID);
  options.environment.emplace();
  for (const auto& [name, value] :
       CoreLaunch::environment(currentEnvironment(), bundleInfo(), setupPreview, executableSearchPath)) {
    options.environment->push_back(name + "=" + value);
  }
  options.input = options.output = options.error = ChildProcess::Stream::pipe;

  std::shared_ptr<ChildProcess> process;
  std::string failure;
  {
    auto& cores = liveCores();
    std::lock_guard guard(cores.mutex);
    if (cores.closed) return;
    process = ChildProcess::launch(options, &failure);
    std::erase_if(cores.processes, [](const auto& known) { return known.expired(); });
    if (process) cores.processes.push_back(process);
  }
  if (!process) {
    showFailure(failure);
    return;
  }
  auto drain = ErrorDrain::start(process);
  // The handler is dropped once it has run, so holding the process here makes no lasting cycle.
  process->setTerminationHandler([weak, process] {
    DispatchQueue::main().async([weak, process] {
      if (auto self = weak.lock()) self->coreDidTerminate(process);
    });
  });
  // The core reads its input at its own pace; our writes wait for it only a bounded time.
  int input = process->inputDescriptor();
  if (int flags = ::fcntl(input, F_GETFL); flags >= 0) ::fcntl(input, F_SETFL, flags | O_NONBLOCK);

  bool installed = false;
  DispatchQueue::main().sync([&] {
    auto self = weak.lock();
    // A core that already exited is not installed: its exit was handled before it got here.
    if (!self || !process->isRunning() || self->terminationInProgress) return;
    self->coreProcess = process;
    self->coreControlInput = process;
    installed = true;
  });
  if (installed) {
    startControlReader(process);
    writeControl(CoreLaunch::bootstrapMessage(runtimeAuthority), process);
    if (waitForCore(process, port)) {
      bool exitHandled = false;
      DispatchQueue::main().sync([&] {
        auto self = weak.lock();
        if (!self) return;
        if (self->coreProcess == process) {
          self->readyCorePIDs.insert(process->processIdentifier());
        } else {
          exitHandled = true;
        }
      });
      DispatchQueue::main().async([weak, process, exitHandled] {
        auto self = weak.lock();
        if (!self) return;
        // A core that answered the probe and then exited before it was counted as ready has had
        // its exit handled as a failed start; it was ready, so it is restarted like one.
        if (exitHandled) {
          self->scheduleCoreRestart();
        } else {
          self->coreBecameReady(process);
        }
      });
      return;
    }
  }
  // Every wait here is bounded: ask the core to end, then kill it if it does not.
  process->terminateAndReap(std::chrono::seconds(2));
  if (weak.expired() || terminationInProgress) return;
  showFailure(CoreLaunch::failureReason(drain->text(std::chrono::seconds(1))));
}

bool ZorvelAppDelegate::waitForCore(const std::shared_ptr<ChildProcess>& process, int port) {
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/desktop-runtime";
  std::optional<pid_t> corePID;
  if (process) corePID = process->processIdentifier();
  // Shared by every request of this probe: an answer counts whenever it arrives before the
  // deadline, also after later requests have gone out.
  struct Answers {
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    int inFlight = 0;
  };
  auto answers = std::make_shared<Answers>();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  // Waits until the condition holds, an acceptable answer has come, the time is up or the
  // application quits; whether an acceptable answer has come.
  auto waitFor = [&](std::chrono::milliseconds wait, auto&& condition) {
    auto until = std::min(deadline, std::chrono::steady_clock::now() + wait);
    std::unique_lock guard(answers->mutex);
    while (!answers->ready && !condition() && !terminationInProgress && std::chrono::steady_clock::now() < until) {
      // Quitting sets a flag without a notification, so the wait is sliced.
      answers->changed.wait_until(guard,
                                  std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)));
    }
    return answers->ready;
  };
  auto never = [] { return false; };
  while (std::chrono::steady_clock::now() < deadline) {
    if (process && !process->isRunning()) {
      // A core that answered and then exited did become ready; its answer may still be on its
      // way, and requests to a process that has gone end at once.
      return waitFor(std::chrono::seconds(15), [&] { return answers->inFlight == 0; });
    }
    if (terminationInProgress) return false;
    // A fresh request each round: one the core accepted but never answers must not use up the
    // whole window.
    platform::URLRequest request;
    request.url = url;
    request.headers = {{"Authorization", "Bearer " + runtimeAuthority.desktopToken()}};
    request.timeout = std::chrono::seconds(60);
    {
      std::lock_guard guard(answers->mutex);
      ++answers->inFlight;
    }
    platform::URLSession::shared().dataTask(request, [answers, corePID](platform::URLResponse response) {
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

void ZorvelAppDelegate::coreBecameReady(const std::shared_ptr<ChildProcess>& process) {
  if (coreProcess != process || !process->isRunning()) return;
  coreLog().notice("Core %d is ready", static_cast<int>(process->processIdentifier()));
  dispatchPendingCaptureIfPossible();
  if (uiLoaded) {
    ++webErrorGeneration;
    webErrorLabel.set_visible(false);
    if (webBridge) webBridge->errorLabel().clearCoreFailure();
    evaluatePageScript("window.dispatchEvent(new CustomEvent('zorvel:core-restarted'));");
  } else {
    loadZorvel();
  }
}

void ZorvelAppDelegate::loadZorvel() {
  if (!webView) return;
  webkit_web_view_load_uri(webView, "zorvel-ui://app/index.html");
}

void ZorvelAppDelegate::coreDidTerminate(const std::shared_ptr<ChildProcess>& process) {
  pid_t pid = process->processIdentifier();
  bool wasReady = readyCorePIDs.erase(pid) > 0;
  runtimeAuthority.revoke("core:" + std::to_string(pid));
  if (coreProcess != process) return;
  coreProcess.reset();
  coreControlInput.reset();
  if (!wasReady) return;
  coreLog().notice("Core %d exited", static_cast<int>(pid));
  scheduleCoreRestart();
}

void ZorvelAppDelegate::scheduleCoreRestart() {
  if (terminationInProgress || coreProcess) return;
  coreLog().notice("Restarting Zorvel core");
  setErrorLabel("Restarting Zorvel core\u2026", nullptr);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  DispatchQueue::main().asyncAfter(std::chrono::milliseconds(250), [weak] {
    auto self = weak.lock();
    if (!self || self->terminationInProgress || self->coreProcess) return;
    self->ensureCoreAndLoadZorvel();
  });
}

namespace {
const platform::Logger& coreLog() {
  static const platform::Logger log(platform::Bundle::main().bundleIdentifier().value_or("local.zorvel.desktop"),
                                    "core");
  return log;
}
}  // namespace

void ZorvelAppDelegate::showCoreFailure(const std::string& reason) {
  coreLog().error("Zorvel could not start a compatible core: %{public}s", reason.c_str());
  ++webErrorGeneration;
  if (webBridge) {
    webBridge->showCoreFailure(reason);
    return;
  }
  setErrorLabel("Zorvel could not start a compatible core.\n" + reason + "\n\nQuit and reopen the app to retry.",
                nullptr);
}

void ZorvelAppDelegate::terminateLiveCores() {
  std::vector<std::shared_ptr<ChildProcess>> running;
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

}  // namespace zorvel
