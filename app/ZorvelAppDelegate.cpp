#include "app/ZorvelAppDelegate.h"

#include <unistd.h>
#include <webkit/webkit.h>

#include <fstream>

#include "Vantrelle/Process/LocalProcess.h"
#include "app/ConnectionSettings.h"
#include "app/PageCalls.h"
#include "app/ProfileLoginController.h"
#include "app/WebBridge.h"
#include "app/ZorvelApplication.h"
#include "platform/Bundle.h"
#include "platform/ChildProcess.h"
#include "platform/Dispatch.h"
#include "platform/LinkHandOff.h"
#include "platform/Log.h"
#include "platform/UserNotificationCenter.h"

namespace zorvel {

namespace {

nlohmann::json bundleInfo(const std::string& resourcePath) {
  std::ifstream file(resourcePath + "/Info.json");
  if (!file) return nlohmann::json::object();
  auto info = nlohmann::json::parse(file, nullptr, false);
  return info.is_object() ? info : nlohmann::json::object();
}

SettingsSources bundleSettingsSources() {
  auto sources = SettingsSources::current();
  auto& bundle = platform::Bundle::main();
  sources.bundleIdentifier = bundle.bundleIdentifier();
  if (!bundle.resourcePath().empty()) sources.resourcePath = bundle.resourcePath();
  if (!bundle.helperPath().empty()) sources.helperPath = bundle.helperPath();
  sources.info = bundleInfo(bundle.resourcePath());
  return sources;
}

const platform::Logger& lifecycleLog() {
  static const platform::Logger log(platform::Bundle::main().bundleIdentifier().value_or("local.zorvel.desktop"),
                                    "lifecycle");
  return log;
}

std::optional<std::string> environmentValue(const char* name) {
  const char* value = ::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

ZorvelAppDelegate::ZorvelAppDelegate() {
  webErrorLabel.set_wrap(true);
  makeModalOverlay();
  auto sources = bundleSettingsSources();
  setupPreview = ConnectionSettings::isSetupPreview(sources);
  desktopDataDirectory = ConnectionSettings::desktopDataDirectoryPath(sources);
  auto connection = ConnectionSettings::zorvelConnection(sources, desktopDataDirectory);
  baseURL = connection.url;
  configPath = connection.configPath;
  cliPath = ConnectionSettings::zorvelCLIPath(sources);
  executableSearchPath = ConnectionSettings::resolveExecutableSearchPath(sources);
}

ZorvelAppDelegate::~ZorvelAppDelegate() = default;

const platform::Logger& ZorvelAppDelegate::notificationLog() {
  static const platform::Logger log(platform::Bundle::main().bundleIdentifier().value_or("local.zorvel.desktop"),
                                    "notifications");
  return log;
}

bool ZorvelAppDelegate::activatesOnLaunch() { return environmentValue("ZORVEL_DESKTOP_ACTIVATE_ON_LAUNCH") != "0"; }

bool ZorvelAppDelegate::releaseDebugLoggingEnabled() {
  return platform::Bundle::main().infoString("ZorvelDistributionChannel") == "development";
}

double ZorvelAppDelegate::inactiveTerminalTimeout() const {
  return ConnectionSettings::inactiveTerminalTimeout(configPath);
}

void ZorvelAppDelegate::applicationWillFinishLaunching() {
  // Links handed over by a second process arrive with the web bridge; nothing else runs yet.
}

void ZorvelAppDelegate::applicationDidFinishLaunching() {
  if (launched) return;
  launched = true;
  if (anotherDesktopInstanceIsRunning()) {
    // The links go first, so the running instance has them when it comes to the front; the
    // application then activates that instance, once, and returns without running its own.
    platform::LinkHandOff handOff;
    for (const auto& link : launchLinks) handOff.post(link);
    lifecycleLog().notice("Zorvel is already running in this session; brought its window to the front");
    return;
  }
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  linkHandOff = std::make_unique<platform::LinkHandOff>();
  linkHandOff->listen([weak](const std::string& link) {
    if (auto self = weak.lock()) self->handleGetURL(link);
  });
  for (const auto& link : launchLinks) handleGetURL(link);
  launchLinks.clear();
  if (environmentValue("ZORVEL_DESKTOP_DISABLE_NOTIFICATIONS") != "1") requestNotificationAuthorization();
  configureMenu();
  configureWindow();
  ensureCoreAndLoadZorvel();
  cleanupTimer = Glib::signal_timeout().connect_seconds(
      [weak] {
        auto self = weak.lock();
        if (self) self->reapInactiveTerminals();
        return self != nullptr;
      },
      60);
  if (activatesOnLaunch() && window) window->present();
}

bool ZorvelAppDelegate::anotherDesktopInstanceIsRunning() const {
  // The instance that owns the application's name on this session's bus is the running one.
  auto* zorvel = dynamic_cast<ZorvelApplication*>(application);
  return zorvel && zorvel->isRemoteInstance();
}

void ZorvelAppDelegate::activateExistingDesktop() {
  lifecycleLog().notice("Zorvel activated by another launch");
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  platform::DispatchQueue::main().async([weak] {
    auto self = weak.lock();
    if (self && self->window) self->window->present();
  });
}

void ZorvelAppDelegate::evaluatePageScript(const std::string& script) { PageCalls::runScript(webView, script); }

void ZorvelAppDelegate::dispatchPageEvent(const std::string& name, const std::optional<nlohmann::json>& detail) {
  // The name and detail travel as call arguments, never as script text.
  PageCalls::dispatchEvent(webView, "zorvel:" + name, detail ? &*detail : nullptr);
}

void ZorvelAppDelegate::startTaskFromPlaceholder() {
  if (!placeholderTaskID) return;
  dispatchPageEvent("start-task", nlohmann::json{{"task_id", *placeholderTaskID}});
}

void ZorvelAppDelegate::dispatchTerminalPointerDown(double x, double y, unsigned button) {
  int pageButton = button == GDK_BUTTON_SECONDARY ? 2 : button == GDK_BUTTON_MIDDLE ? 1 : 0;
  nlohmann::json detail = {{"clientX", x}, {"clientY", y}, {"button", pageButton}};
  dispatchPageEvent("external-pointerdown", detail);
}

ZorvelAppDelegate::TerminateReply ZorvelAppDelegate::applicationShouldTerminate() {
  if (coreSupervisor.terminationInProgress()) return TerminateReply::terminateNow;
  coreSupervisor.beginTermination();
  modalOverlay->closeModalOverlay(false);
  // First, as it takes no time: a page busy in a script would otherwise outlive the application.
  if (webBridge) webBridge->terminateWebProcesses();
  cleanupTimer.disconnect();
  removeTerminalPointerMonitor();
  for (const auto& taskID : terminalSessions.taskIDs()) stopTerminal(taskID);
  coreSupervisor.terminateCurrentCore();
  return TerminateReply::terminateNow;
}

void ZorvelAppDelegate::applicationWillTerminate() {
  if (profileLogin) profileLogin->close();
  // Also when the run ends without a termination request: no dialog or click report outlives it.
  modalOverlay->closeModalOverlay(false);
  if (webBridge) webBridge->terminateWebProcesses();
  cleanupTimer.disconnect();
  removeTerminalPointerMonitor();
  if (webBridge) webBridge->cancelAllEventStreams();
  for (const auto& taskID : terminalSessions.taskIDs()) stopTerminal(taskID);
  // The core was asked to end; make sure it has, and that no core still starting up is left
  // behind, so no core outlives the application.
  terminateLiveCores();
  // Nor a task's program that ignores the hang-up and the request to end: it would go on working
  // unseen with nobody left to stop it.
  vantrelle::LocalProcess::endTerminatedChildren();
}

}  // namespace zorvel
