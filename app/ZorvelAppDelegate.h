#pragma once

#include <gtkmm.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Vantrelle/View/LocalProcessTerminalView.h"
#include "app/ApplicationLinks.h"
#include "app/ControlChannel.h"
#include "app/CoreAccess.h"
#include "app/CoreRestartBackoff.h"
#include "app/CoreSupervisor.h"
#include "app/MainWindow.h"
#include "app/ModalOverlayController.h"
#include "app/PageMessages.h"
#include "app/RuntimeAuthority.h"
#include "app/TerminalEnvironment.h"
#include "app/TerminalPlaceholderView.h"
#include "app/TerminalSessions.h"
#include "app/TriageProgressView.h"
#include "platform/GLibPtr.h"

typedef struct _WebKitWebView WebKitWebView;

namespace platform {
class ChildProcess;
class DispatchWorkItem;
class LinkHandOff;
class Logger;
class UserNotificationCenter;
}  // namespace platform

namespace zorvel {

class ZorvelApplication;
class ProfileLoginController;
class WebBridge;
struct FilePickerRequest;

// The one application object: it holds the desktop state (window, page, terminal area, settings,
// token authority, core process) and runs the launch, supervision and termination sequences.
// Operations are spread over files by concern; everything but the named background work runs on
// the main thread.
class ZorvelAppDelegate : public std::enable_shared_from_this<ZorvelAppDelegate>,
                          public vantrelle::LocalProcessTerminalViewDelegate {
 public:
  ZorvelAppDelegate();
  ~ZorvelAppDelegate();
  ZorvelAppDelegate(const ZorvelAppDelegate&) = delete;
  ZorvelAppDelegate& operator=(const ZorvelAppDelegate&) = delete;

  // Application callbacks, called by ZorvelApplication on the main thread.
  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  enum class TerminateReply { terminateNow, terminateCancel, terminateLater };
  TerminateReply applicationShouldTerminate();
  void applicationWillTerminate();
  bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

  void activateExistingDesktop();
  void openAbout();
  void openSettings();
  // The Edit menu's commands, acting on whatever has the keyboard.
  enum class EditCommand { copy, paste, selectAll };
  void performEdit(EditCommand command);
  // Keeps track of the widget the Edit menu acts on: the one that had the keyboard before the
  // menu bar took it.
  void followEditTarget();
  void applyTheme(bool dark);
  std::map<std::string, std::shared_ptr<vantrelle::LocalProcessTerminalView>> terminals() const;
  void startTaskFromPlaceholder();
  void enterTerminalLayout();
  void dispatchTerminalPointerDown(double x, double y, unsigned button);

  // Window (MainWindow / ZorvelAppDelegate+Window.cpp). The content is laid out apart from the
  // window and the page, so it can be shown in a window of any kind.
  void configureWindow();
  void layOutWindowContent();
  void configureMenu();

  // Core supervision (ZorvelAppDelegate+Core.cpp; the state is CoreSupervisor's). Every start runs
  // in the background over a request value and reports back on the main thread.
  void ensureCoreAndLoadZorvel();
  void loadZorvel();
  // Blocks until the core answers, exits or the time is up: for background threads, with a
  // request taken here on the main thread.
  bool waitForCore(const std::shared_ptr<platform::ChildProcess>& process, int port);
  void coreDidTerminate(const std::shared_ptr<platform::ChildProcess>& process);
  void showCoreFailure(const std::string& reason);

  // Control channel (ZorvelAppDelegate+Control.cpp).
  void writeControl(const nlohmann::json& message, const ControlChannel::Handle& handle);
  void startControlReader(const std::shared_ptr<platform::ChildProcess>& process);
  bool syncAuthorization(double timeout);
  void monitorAuthorizedProcess(pid_t pid, const std::string& tokenID);

  // Page messages that are the application's (ZorvelAppDelegate+PageMessages.cpp).
  // `source` is the web view that posted the message: what opens a window of the application
  // (a picker, the login window) takes the opening of a press of the user's own on it.
  void handlePageMessage(const PageMessages::ApplicationMessage& message, WebKitWebView* source = nullptr);
  // A task message: the terminal area shows the task's terminal, panel or triage progress.
  void showTask(const TaskMessage& task);

  // Task terminals (ZorvelAppDelegate+Terminals.cpp).
  void createTerminal(const TaskMessage& task);
  void show(const std::shared_ptr<vantrelle::LocalProcessTerminalView>& terminal, const std::string& taskID,
            bool focus);
  void sizeTerminalToContainer(vantrelle::LocalProcessTerminalView& view);
  void refreshActiveTerminalLayout();
  void preserveActiveTerminalFocusForSidebarRefresh();
  void restoreActiveTerminalFocusAfterSidebarRefresh();
  void stopTerminal(const std::string& taskID);
  void reapInactiveTerminals();
  void checkTerminalCleanup(const std::string& taskID);
  bool isTerminalStillExpired(const std::string& taskID) const;
  void stopInactiveTerminal(const std::string& taskID);
  std::optional<std::string> taskURL(const std::string& taskID, const std::string& action) const;
  TerminalEnvironment::Locations terminalLocations() const;

  // Panels and flows (ZorvelAppDelegate+Panels.cpp).
  void showPlaceholder(const std::string& detail, const std::optional<std::string>& title,
                       const std::optional<std::string>& taskID,
                       const std::optional<TaskStatisticsDisplay>& statistics);
  void showTriageRecovery(const TriageRecoveryMessage& recovery, const std::optional<std::string>& loginError);
  void startLogin(const TriageRecoveryMessage& recovery);
  void dispatchTriageEvent(const std::string& name, const std::string& taskID);
  void showTriageProgress(const std::string& taskID, const std::string& title, const TriageDisplay& triage);
  void layoutPlaceholder();
  void startAgentProfileLogin(const std::string& profileID);
  // Takes every view but the two panels out of the terminal container.
  void removeTerminalsFromContainer();

  // Window layout (ZorvelAppDelegate+Layout.cpp).
  void exitTerminalLayout();
  void updateTerminalContainerVisibility();
  void setTaskSidebarWidth(double width, bool resizeTerminal, bool persist);
  void endTaskSidebarResize(double width);
  void notifyActiveTerminalOfResize();
  void redrawActiveTerminalAfterResize(const std::shared_ptr<vantrelle::LocalProcessTerminalView>& view);
  void windowWillStartLiveResize();
  void windowDidEndLiveResize();
  void windowDidResize();
  void windowWillEnterFullScreen();
  void windowDidEnterFullScreen();
  void windowWillExitFullScreen();
  void windowDidExitFullScreen();
  // A change of the window's size; begins or extends the live resize it belongs to.
  void windowSizeChanged();
  void connectWindowLayoutNotifications();

  // Layout diagnostics (ZorvelAppDelegate+Diagnostics.cpp).
  void logWindowLayout(const std::string& stage);
  void logTerminalResize(const std::string& stage);
  void appendTerminalResizeLog(const std::string& text);

  // LocalProcessTerminalViewDelegate: only the child's exit matters here.
  void sizeChanged(vantrelle::LocalProcessTerminalView&, int, int) override {}
  void setTerminalTitle(vantrelle::LocalProcessTerminalView&, const std::string&) override {}
  void hostCurrentDirectoryUpdate(vantrelle::TerminalView&, const std::optional<std::string>&) override {}
  void processTerminated(vantrelle::TerminalView& source, std::optional<int32_t> exitCode) override;

  // Runs a script in the main web view without waiting for its result.
  void evaluatePageScript(const std::string& script);
  // Dispatches "zorvel:<name>" on the page's window, with a JSON detail when given.
  void dispatchPageEvent(const std::string& name, const std::optional<nlohmann::json>& detail);

  // Application links and clipboard capture (ZorvelAppDelegate+Links.cpp).
  void handleGetURL(const std::string& link);
  // A link from outside the application (a second launch, a notification's click) brings the
  // window forward; one that a page followed (`page`) is the page's own doing and brings nothing
  // forward: its capture question waits for the keyboard to be on that page.
  void receiveOpenLink(const std::string& link, WebKitWebView* page = nullptr);
  void dispatchPendingOpenLinkIfPossible();
  void dispatchPendingCaptureIfPossible();
  // Links given on the command line of this process, taken before the application runs.
  std::vector<std::string> launchLinks;

  // File pickers (ZorvelAppDelegate+FilePickers.cpp). A picker holds its ticket until it has
  // answered, so only one of each kind is open at a time.
  void pickExecutable(const std::string& agent, std::shared_ptr<void> ticket = nullptr);
  void pickProjectDirectory(const std::optional<std::string>& projectID, std::shared_ptr<void> ticket = nullptr);

  // User notifications (ZorvelAppDelegate+Notifications.cpp).
  void requestNotificationAuthorization();
  void scheduleNativeNotification(const PageMessages::NativeNotification& request);
  void userNotificationDidReceiveResponse(const nlohmann::json& userInfo);
  bool applicationIsActive() const;

  static bool activatesOnLaunch();
  static bool releaseDebugLoggingEnabled();
  static const platform::Logger& notificationLog();
  double inactiveTerminalTimeout() const;
  bool anotherDesktopInstanceIsRunning() const;

  // Set by ZorvelApplication: asks the application to quit through the termination request.
  std::function<void()> terminateApplication;
  Gtk::Application* application = nullptr;

  // Window and page. The bridge owns the web views' configuration and the page's messages.
  std::shared_ptr<WebBridge> webBridge;
  ZorvelWindow* window = nullptr;
  WebKitWebView* webView = nullptr;
  Gtk::Overlay rootContainer;
  // The window's content: the error label's band, when it shows, above the root container (page,
  // terminal area, panels and dialogs), so a failure is never hidden and hides nothing.
  Gtk::Box windowContent{Gtk::Orientation::VERTICAL};
  // Where the main web view goes.
  Gtk::Overlay webViewHost;
  Gtk::Box terminalContainer{Gtk::Orientation::VERTICAL};
  std::optional<LeadingConstraint> terminalLeadingConstraint;
  TerminalPlaceholderView placeholder;
  TriageProgressView triageProgress;
  Gtk::Label webErrorLabel;
  TerminalSessions terminalSessions;
  std::map<std::string, std::string> taskTitles;
  std::map<std::string, TaskStatisticsDisplay> taskStatistics;
  std::shared_ptr<ProfileLoginController> profileLogin;
  std::optional<std::string> placeholderTaskID;
  std::set<std::string> pendingTerminalCleanupChecks;
  std::optional<std::string> activeTaskID;
  std::optional<std::string> terminalFocusBeforeSidebarRefreshTaskID;
  bool terminalLayoutActive = false;
  bool sidebarResizeInProgress = false;
  bool windowResizeInProgress = false;
  int64_t terminalResizeGeneration = 0;
  // Ends the current live resize once the window's size has stayed put.
  std::shared_ptr<platform::DispatchWorkItem> liveResizeEnd;
  Glib::RefPtr<Gtk::GestureClick> terminalPointerMonitor;
  sigc::connection cleanupTimer;
  int64_t webErrorGeneration = 0;

  // Connection settings, resolved once.
  std::string baseURL;
  std::optional<std::string> configPath;
  std::string cliPath;
  std::string executableSearchPath;
  std::string desktopDataDirectory;
  bool setupPreview = false;

  // Tokens, and the core with its control channel.
  DesktopRuntimeAuthority runtimeAuthority;
  CoreSupervisor coreSupervisor{runtimeAuthority};
  // The token for the application's own requests and the core they may go to: the ready one.
  CoreAccess coreAccess{runtimeAuthority.desktopToken(), coreSupervisor.readyCoreProcess()};
  CoreRestartBackoff coreRestarts;
  bool terminationInProgress() const { return coreSupervisor.terminationInProgress(); }
  bool darkTheme = true;
  bool uiLoaded = false;

  // Modal overlay: one web view for the life of the process, a new panel for every opening.
  std::shared_ptr<ModalOverlayController> modalOverlay;

  // Links and captures wait here until the page or the core can take them.
  std::optional<ZorvelOpenLink> pendingOpenLink;
  std::optional<PendingCapture> pendingCapture;

 private:
  CoreLaunchRequest coreLaunchRequest(int port) const;
  CoreLaunchEvents coreLaunchEvents();
  void watchAuthorizedProcessExits();
  void scheduleCoreRestart();
  void coreBecameReady(const std::shared_ptr<platform::ChildProcess>& process);
  void setErrorLabel(const std::string& text, const char* styleClass);
  void installTerminalPointerMonitor();
  void removeTerminalPointerMonitor();
  void installMenuShortcuts();
  std::vector<std::pair<std::string, std::string>> menuShortcuts;
  GWeak<GtkWidget> editTarget;
  void makeMainWebView();
  void makeWebBridge();
  void makeModalOverlay();
  void confirmCapture(const std::string& text, const std::string& projectID, std::shared_ptr<void> ticket);
  void runFilePicker(const FilePickerRequest& request, std::shared_ptr<void> ticket);
  // Opens a window the page asked for: one of a kind at a time (`shown` holds the open one's
  // ticket), for a press of the user's on the page, once the keyboard is on the page.
  void openForPage(WebKitWebView* source, std::weak_ptr<void>& shown, const char* what, const char* refusal,
                   std::function<void(ZorvelAppDelegate&, std::shared_ptr<void> ticket)> open);
  std::weak_ptr<void> executablePicker, folderPicker, loginWindow;
  // The clipboard capture question asked now, or about to be.
  std::weak_ptr<void> captureQuestion;
  std::shared_ptr<platform::UserNotificationCenter> userNotificationCenter;
  std::unique_ptr<platform::LinkHandOff> linkHandOff;

  bool launched = false;
};

}  // namespace zorvel
