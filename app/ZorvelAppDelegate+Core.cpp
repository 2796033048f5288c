#include <unistd.h>
#include <webkit/webkit.h>

#include <fstream>

#include "app/CoreLaunch.h"
#include "app/WebBridge.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/ChildProcess.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"
#include "platform/Log.h"

extern char** environ;

namespace zorvel {

namespace {

using platform::ChildProcess;
using platform::DispatchQueue;

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
  return platform::GCharPtr(g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()))).get();
}

const platform::Logger& coreLog() {
  static const platform::Logger log(platform::Bundle::main().bundleIdentifier().value_or("local.zorvel.desktop"),
                                    "core");
  return log;
}

}  // namespace

void ZorvelAppDelegate::setErrorLabel(const std::string& text, const char* styleClass) {
  webErrorLabel.remove_css_class("zorvel-secondary");
  if (styleClass) webErrorLabel.add_css_class(styleClass);
  webErrorLabel.set_text(validUTF8(text));
  webErrorLabel.set_visible(true);
}

CoreLaunchRequest ZorvelAppDelegate::coreLaunchRequest(int port) const {
  std::vector<std::string> environment;
  for (const auto& [name, value] :
       CoreLaunch::environment(currentEnvironment(), bundleInfo(), setupPreview, executableSearchPath)) {
    environment.push_back(name + "=" + value);
  }
  return coreSupervisor.request(cliPath, CoreLaunch::arguments(desktopDataDirectory, port, ::getpid()),
                                std::move(environment), port);
}

CoreLaunchEvents ZorvelAppDelegate::coreLaunchEvents() {
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  return CoreLaunchEvents{
      [weak](const CoreProcess& process) {
        auto self = weak.lock();
        return self && self->coreSupervisor.install(process);
      },
      [weak](const CoreProcess& process) {
        auto self = weak.lock();
        return self && self->coreSupervisor.markReady(process);
      },
      [weak](const CoreProcess& process) {
        if (auto self = weak.lock()) self->coreBecameReady(process);
      },
      [weak] {
        // It answered as ready and is gone already: as quick an exit as there is.
        if (auto self = weak.lock()) {
          self->coreRestarts.coreBecameReady(CoreRestartBackoff::Clock::now());
          self->scheduleCoreRestart();
        }
      },
      [weak](const CoreProcess& process) {
        if (auto self = weak.lock()) self->coreDidTerminate(process);
      },
      [weak](const std::string& reason) {
        if (auto self = weak.lock()) self->showCoreFailure(reason);
      },
  };
}

void ZorvelAppDelegate::ensureCoreAndLoadZorvel() {
  setErrorLabel("Starting Zorvel core\u2026", "zorvel-secondary");
  watchAuthorizedProcessExits();
  // The start in the background sees only these two values, never this object.
  auto request = coreLaunchRequest(CoreLaunch::portOf(baseURL));
  auto events = coreLaunchEvents();
  DispatchQueue::global(platform::QoS::userInitiated).async([request, events] { launchCore(request, events); });
}

bool ZorvelAppDelegate::waitForCore(const std::shared_ptr<ChildProcess>& process, int port) {
  return waitForCoreReadiness(coreLaunchRequest(port), process);
}

void ZorvelAppDelegate::coreBecameReady(const std::shared_ptr<ChildProcess>& process) {
  if (!coreSupervisor.isCurrent(process)) return;
  coreLog().notice("Core %d is ready", static_cast<int>(process->processIdentifier()));
  coreRestarts.coreBecameReady(CoreRestartBackoff::Clock::now());
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
  if (auto left = process->processesEndedWithIt()) {
    coreLog().notice("Core %d left %zu processes running; they were ended with it",
                     static_cast<int>(process->processIdentifier()), left);
  }
  if (!coreSupervisor.didTerminate(process)) return;
  coreLog().notice("Core %d exited", static_cast<int>(process->processIdentifier()));
  scheduleCoreRestart();
}

void ZorvelAppDelegate::scheduleCoreRestart() {
  if (!coreSupervisor.mayStart()) return;
  auto delay = coreRestarts.delayAfterExit(CoreRestartBackoff::Clock::now());
  if (coreRestarts.quickExitsInARow() > 1) {
    coreLog().error("The core exited %d times in a row soon after it became ready; restarting it in %.2f s",
                    coreRestarts.quickExitsInARow(), static_cast<double>(delay.count()) / 1000.0);
  } else {
    coreLog().notice("Restarting Zorvel core");
  }
  setErrorLabel("Restarting Zorvel core\u2026", nullptr);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  DispatchQueue::main().asyncAfter(delay, [weak] {
    auto self = weak.lock();
    if (!self || !self->coreSupervisor.mayStart()) return;
    self->ensureCoreAndLoadZorvel();
  });
}

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

}  // namespace zorvel
