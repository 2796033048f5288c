// The roads a task terminal takes before and after its child runs: the shell fallback and the
// refusals that mint no usable token, the idle reaper asking a stand-in core, and the sidebar width
// that the page drags.

#include <glib.h>
#include <gtest/gtest.h>
#include <libsoup/soup.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/ProfileLoginController.h"
#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Dispatch.h"
#include "platform/URLSession.h"
#include "platform/UserDefaults.h"
#include "tests/MainLoop.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

struct WakeMainOnLeaving {
  ~WakeMainOnLeaving() { wakeMain(); }
};

// Answers GET /tasks/<id> with the state set for the task (404 without one), POST
// /tasks/<id>/terminal-plan with the reply set for plans, and records every POST /tasks/<id>/stop.
class StandInCore {
 public:
  StandInCore() {
    thread = std::thread([this] { run(); });
    std::unique_lock guard(lock);
    started.wait(guard, [this] { return ready; });
  }

  ~StandInCore() {
    g_main_context_invoke(
        context,
        [](gpointer loop) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop);
    thread.join();
  }

  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port); }

  void setState(const std::string& taskID, const std::string& status, bool turn, bool background) {
    std::lock_guard guard(lock);
    states[taskID] = nlohmann::json{
        {"status", status},
        {"runtime_status", "idle"},
        {"turn_in_progress", turn},
        {"background_work_active",
         background}}.dump();
  }

  void setPlanReply(unsigned status, const std::string& body) {
    std::lock_guard guard(lock);
    planStatus = status;
    planBody = body;
  }

  void setLoginPlanReply(unsigned status, const std::string& body) {
    std::lock_guard guard(lock);
    loginPlanStatus = status;
    loginPlanBody = body;
  }

  std::vector<std::string> planRequests() {
    std::lock_guard guard(lock);
    return plans;
  }

  std::vector<std::string> asked() {
    std::lock_guard guard(lock);
    return gets;
  }
  std::vector<std::string> stopped() {
    std::lock_guard guard(lock);
    return stops;
  }
  std::string lastAuthorization() {
    std::lock_guard guard(lock);
    return authorization;
  }

 private:
  static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
    auto* self = static_cast<StandInCore*>(data);
    std::string rest = std::string(path).substr(std::string("/tasks/").size());
    std::string method = soup_server_message_get_method(message);
    // The test waits on what is recorded here from the main thread.
    WakeMainOnLeaving wake;
    std::lock_guard guard(self->lock);
    const char* auth = soup_message_headers_get_one(soup_server_message_get_request_headers(message), "Authorization");
    self->authorization = auth ? auth : "";
    if (method == "POST" && rest.size() > 5 && rest.ends_with("/stop")) {
      self->stops.push_back(rest.substr(0, rest.size() - 5));
      soup_server_message_set_status(message, 200, nullptr);
      return;
    }
    if (method == "POST" && rest.ends_with("/terminal-plan")) {
      GBytes* bytes = soup_message_body_flatten(soup_server_message_get_request_body(message));
      gsize size = 0;
      const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
      self->plans.push_back(std::string(data ? data : "", size));
      g_bytes_unref(bytes);
      soup_server_message_set_status(message, self->planStatus, nullptr);
      soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, self->planBody.data(),
                                       self->planBody.size());
      return;
    }
    self->gets.push_back(rest);
    auto state = self->states.find(rest);
    if (method != "GET" || state == self->states.end()) {
      soup_server_message_set_status(message, 404, nullptr);
      return;
    }
    soup_server_message_set_status(message, 200, nullptr);
    soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, state->second.data(),
                                     state->second.size());
  }

  static void handleLoginPlan(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer data) {
    auto* self = static_cast<StandInCore*>(data);
    WakeMainOnLeaving wake;
    std::lock_guard guard(self->lock);
    soup_server_message_set_status(message, self->loginPlanStatus, nullptr);
    soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, self->loginPlanBody.data(),
                                     self->loginPlanBody.size());
  }

  void run() {
    context = g_main_context_new();
    g_main_context_push_thread_default(context);
    loop = g_main_loop_new(context, FALSE);
    SoupServer* server = soup_server_new(nullptr, nullptr);
    soup_server_add_handler(server, "/tasks/", handle, this, nullptr);
    soup_server_add_handler(server, "/agent-profiles/", handleLoginPlan, this, nullptr);
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
    if (soup_server_listen(server, address, static_cast<SoupServerListenOptions>(0), nullptr)) {
      GSList* uris = soup_server_get_uris(server);
      if (uris) port = g_uri_get_port(static_cast<GUri*>(uris->data));
      g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    g_object_unref(address);
    g_object_unref(loopback);
    {
      std::lock_guard guard(lock);
      ready = true;
    }
    started.notify_all();
    g_main_loop_run(loop);
    soup_server_disconnect(server);
    g_object_unref(server);
    g_main_loop_unref(loop);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  std::thread thread;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  int port = 0;
  std::mutex lock;
  std::condition_variable started;
  bool ready = false;
  std::map<std::string, std::string> states;
  std::vector<std::string> gets;
  std::vector<std::string> stops;
  std::vector<std::string> plans;
  unsigned planStatus = 500;
  std::string planBody;
  unsigned loginPlanStatus = 500;
  std::string loginPlanBody;
  std::string authorization;
};

bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  return runMainUntil(condition, limit);
}

// Runs the main loop until everything already queued on the main queue has run: the queue is one
// first-in, first-out line.
bool settleMainQueue() {
  auto settled = std::make_shared<bool>(false);
  platform::DispatchQueue::main().async([settled] { *settled = true; });
  return spinUntil([settled] { return *settled; });
}

// Runs the main loop until every answer the shared session had before an answer of the core to a
// request sent now has been handled on the main thread: the session hands its answers over in
// order, and the main queue runs what they post in order.
bool settleSharedSession(const std::string& url) {
  auto settled = std::make_shared<bool>(false);
  platform::URLRequest probe;
  probe.url = url;
  platform::URLSession::shared().dataTask(probe, [settled](platform::URLResponse) {
    platform::DispatchQueue::main().async([settled] { *settled = true; });
  });
  return spinUntil([settled] { return *settled; });
}

std::string screenText(vantrelle::LocalProcessTerminalView& view) {
  auto& buffer = *view.getTerminal().buffer;
  std::string text;
  for (int y = 0; y < buffer.rows(); y++) text += buffer.lines()[buffer.yBase + y]->translateToString(true) + "\n";
  return text;
}

class TaskTerminalRoads : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
    delegate = std::make_shared<ZorvelAppDelegate>();
    // The stand-in cores serve from this process: it is the core the requests may go to.
    delegate->coreAccess.core = [] { return ::getpid(); };
  }

  TaskMessage task(const std::string& taskID, const std::optional<std::string>& projectID,
                   const std::string& runtimeStatus = "idle") {
    TaskMessage message;
    message.taskID = taskID;
    message.title = "Task " + taskID;
    message.projectID = projectID;
    message.runtimeStatus = runtimeStatus;
    message.agent = "codex";
    message.cwd = std::filesystem::temp_directory_path().string();
    return message;
  }

  // A registered terminal without a child, last used long before any idle timeout.
  std::shared_ptr<vantrelle::LocalProcessTerminalView> idleTerminal(const std::string& taskID) {
    std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*delegate);
    delegate->terminalSessions.insert(view, taskID, std::nullopt);
    delegate->terminalSessions.session(taskID)->lastUsedAt = TerminalClock::now() - std::chrono::hours(1);
    return view;
  }

  std::shared_ptr<ZorvelAppDelegate> delegate;
};

TEST_F(TaskTerminalRoads, AWorkingTaskGetsALoginShellWithTheNoticeAndNoToken) {
  auto tokensBefore = delegate->runtimeAuthority.activeTokens();
  delegate->createTerminal(task("w", "0b6e7f3c-8a57-4d0e-9a43-3c3f1f4b8e21", "working"));
  auto views = delegate->terminals();
  ASSERT_EQ(views.count("w"), 1u);
  EXPECT_EQ(delegate->activeTaskID, "w");
  EXPECT_EQ(delegate->runtimeAuthority.activeTokens(), tokensBefore);
  EXPECT_FALSE(delegate->terminalSessions.session("w")->pendingLaunch) << "no plan is asked for";
  auto text = screenText(*views["w"]);
  EXPECT_NE(text.find("Zorvel: this task already has a running external session."), std::string::npos) << text;
  delegate->stopTerminal("w");
  EXPECT_TRUE(delegate->terminals().empty());
}

TEST_F(TaskTerminalRoads, RefusedTerminalsEndOnAPlaceholderWithoutALiveToken) {
  auto tokensBefore = delegate->runtimeAuthority.activeTokens();
  delegate->createTerminal(task("p", std::string("abc")));
  EXPECT_TRUE(delegate->terminals().empty());
  EXPECT_EQ(delegate->placeholder.detail.get_text(),
            "This task has no project, so an authorized agent cannot be started.");
  EXPECT_EQ(delegate->placeholder.taskTitle.get_text(), "Task p");
  EXPECT_EQ(delegate->placeholderTaskID, "p");
  EXPECT_FALSE(delegate->activeTaskID);
  EXPECT_EQ(delegate->runtimeAuthority.activeTokens(), tokensBefore) << "no token is minted for it";

  // Without a core to confirm the token set, the minted token must not outlive the refusal.
  delegate->createTerminal(task("q", std::string("0b6e7f3c-8a57-4d0e-9a43-3c3f1f4b8e21")));
  EXPECT_TRUE(delegate->terminals().empty());
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "The API did not activate the agent credential.");
  EXPECT_EQ(delegate->runtimeAuthority.activeTokens(), tokensBefore);
}

TEST_F(TaskTerminalRoads, TheReaperStopsOnlyIdleTerminalsOfFinishedQuietTasks) {
  StandInCore core;
  delegate->baseURL = core.baseURL();
  core.setState("finished", "wont_fix", false, false);
  core.setState("running", "in_progress", false, false);
  core.setState("turning", "done", true, false);
  core.setState("background", "deferred", false, true);
  core.setState("shown", "done", false, false);
  for (const char* taskID : {"finished", "running", "turning", "background", "unknown"}) idleTerminal(taskID);
  auto shown = idleTerminal("shown");
  delegate->show(shown, "shown", false);
  delegate->terminalSessions.session("shown")->lastUsedAt = TerminalClock::now() - std::chrono::hours(1);

  delegate->reapInactiveTerminals();
  EXPECT_EQ(delegate->pendingTerminalCleanupChecks.size(), 5u) << "the active terminal is never checked";
  delegate->reapInactiveTerminals();  // a second tick while the checks are in flight adds none
  ASSERT_TRUE(spinUntil([&] { return delegate->pendingTerminalCleanupChecks.empty(); }));
  ASSERT_TRUE(spinUntil([&] { return !core.stopped().empty(); }));

  auto views = delegate->terminals();
  EXPECT_EQ(views.count("finished"), 0u);
  for (const char* kept : {"running", "turning", "background", "unknown", "shown"}) {
    EXPECT_EQ(views.count(kept), 1u) << kept;
  }
  EXPECT_EQ(core.stopped(), std::vector<std::string>{"finished"});
  EXPECT_EQ(core.asked().size(), 5u);
  EXPECT_EQ(core.lastAuthorization(), "Bearer " + delegate->runtimeAuthority.desktopToken());
}

TEST_F(TaskTerminalRoads, ATerminalUsedAgainWhileItsCheckIsInFlightStays) {
  StandInCore core;
  delegate->baseURL = core.baseURL();
  core.setState("t", "done", false, false);
  idleTerminal("t");
  delegate->reapInactiveTerminals();
  ASSERT_EQ(delegate->pendingTerminalCleanupChecks.count("t"), 1u);
  delegate->terminalSessions.touch("t");
  ASSERT_TRUE(spinUntil([&] { return delegate->pendingTerminalCleanupChecks.empty(); }));
  EXPECT_EQ(delegate->terminals().count("t"), 1u);
  EXPECT_TRUE(core.stopped().empty());

  // Once idle again it is checked afresh at a later tick.
  delegate->terminalSessions.session("t")->lastUsedAt = TerminalClock::now() - std::chrono::hours(1);
  delegate->reapInactiveTerminals();
  ASSERT_TRUE(spinUntil([&] { return !core.stopped().empty(); }));
  EXPECT_EQ(delegate->terminals().count("t"), 0u);
}

// LOG IN on a triage-recovery panel runs the core's login plan; its exit decides the panel.
TEST_F(TaskTerminalRoads, ALoginTerminalRunsThePlannedProgramAndItsExitDecidesThePanel) {
  StandInCore core;
  delegate->baseURL = core.baseURL();
  TriageRecoveryMessage recovery{"r",          "Recover me", std::nullopt,          "codex",
                                 std::nullopt, std::nullopt, "Credentials expired", true};
  delegate->showTriageRecovery(recovery, std::nullopt);

  core.setPlanReply(422, R"({"detail": "Agent codex has no login command."})");
  delegate->placeholder.startRequested();
  ASSERT_EQ(delegate->activeTaskID, "r") << "the login terminal shows at once";
  ASSERT_TRUE(spinUntil([&] { return delegate->terminals().empty(); }));
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "Credentials expired\nAgent codex has no login command.");
  EXPECT_EQ(delegate->placeholder.startButton.get_label(), "LOG IN");
  ASSERT_EQ(core.planRequests().size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(core.planRequests()[0]), (nlohmann::json{{"agent", "codex"}, {"login", true}}));

  // The plan's own program runs here; a failing login brings the panel back with its code.
  core.setPlanReply(200, R"({"arguments": ["-c", "exit 3"], "executable": "/bin/sh"})");
  delegate->placeholder.startRequested();
  ASSERT_TRUE(spinUntil([&] { return delegate->terminals().empty(); }));
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "Credentials expired\nLogin command exited with code 3.");
  EXPECT_EQ(delegate->placeholder.status.get_text(), "Login required");
  core.setPlanReply(200, R"({"arguments": ["-c", "kill -9 $$"], "executable": "/bin/sh"})");
  delegate->placeholder.startRequested();
  ASSERT_TRUE(spinUntil([&] { return delegate->terminals().empty(); }));
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "Credentials expired\nLogin command was ended by signal 9.");

  core.setPlanReply(200, R"({"arguments": ["-c", "exit 0"], "executable": "/bin/sh"})");
  delegate->placeholder.startRequested();
  ASSERT_TRUE(spinUntil([&] { return delegate->terminals().empty(); }));
  EXPECT_EQ(delegate->placeholder.status.get_text(), "Login complete");
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "Login completed. Restarting triage\xE2\x80\xA6");
  EXPECT_EQ(delegate->placeholderTaskID, "r");
  // The panel stands alone in the terminal area: the finished login's terminal has left it.
  for (auto* child = delegate->terminalContainer.get_first_child(); child; child = child->get_next_sibling()) {
    EXPECT_TRUE(child == &delegate->placeholder || child == &delegate->triageProgress)
        << "a terminal stays by the panel";
  }

  // A plan that arrives after its terminal was stopped starts nothing.
  core.setPlanReply(200, R"({"arguments": ["-c", "sleep 30"], "executable": "/bin/sh"})");
  size_t asked = core.planRequests().size();
  delegate->showTriageRecovery(recovery, std::nullopt);
  delegate->placeholder.startRequested();
  auto view = delegate->terminals().at("r");
  delegate->stopTerminal("r");
  ASSERT_TRUE(spinUntil([&] { return core.planRequests().size() > asked; }));
  ASSERT_TRUE(settleSharedSession(core.baseURL() + "/tasks/settle"));
  EXPECT_FALSE(view->process && view->process->running());
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "No terminal is running for this task.");
}

// Logging in from the recovery panel replaces a terminal the task still had; the earlier one must
// not live on unseen with its child and its project token.
TEST_F(TaskTerminalRoads, ALoginTerminalEndsTheTerminalItReplaces) {
  StandInCore core;
  delegate->baseURL = core.baseURL();
  core.setPlanReply(422, R"({"detail": "no login"})");
  auto tokensBefore = delegate->runtimeAuthority.activeTokens();
  auto earlier = idleTerminal("r");
  earlier->startProcess("/bin/sh", {"-c", "sleep 30"});
  delegate->runtimeAuthority.issueProject("0b6e7f3c-8a57-4d0e-9a43-3c3f1f4b8e21", "terminal:r", "project", std::nullopt,
                                          std::nullopt, std::nullopt);
  ASSERT_TRUE(earlier->process && earlier->process->running());

  TriageRecoveryMessage recovery{"r",          "Recover me", std::nullopt,          "codex",
                                 std::nullopt, std::nullopt, "Credentials expired", true};
  delegate->showTriageRecovery(recovery, std::nullopt);
  delegate->placeholder.startRequested();
  EXPECT_NE(delegate->terminals().at("r"), earlier);
  EXPECT_EQ(delegate->runtimeAuthority.activeTokens(), tokensBefore);
  EXPECT_TRUE(spinUntil([&] { return !earlier->process->running(); }));
  ASSERT_TRUE(spinUntil([&] { return delegate->terminals().empty(); }));
}

TEST_F(TaskTerminalRoads, FocusComesBackAfterASidebarRefreshOnlyToTheTerminalThatHadIt) {
  auto* window = new ZorvelWindow();
  window->set_child(delegate->terminalContainer);
  delegate->window = window;
  window->present();
  std::shared_ptr<vantrelle::LocalProcessTerminalView> a = TerminalFactory::make(*delegate);
  delegate->terminalSessions.insert(a, "a", std::nullopt);
  delegate->show(a, "a", true);
  ASSERT_EQ(window->get_focus(), a.get());

  // Showing the shown terminal again keeps it where it is and only refreshes its last use.
  delegate->terminalSessions.session("a")->lastUsedAt = TerminalClock::now() - std::chrono::hours(1);
  delegate->show(a, "a", true);
  EXPECT_EQ(a->get_parent(), &delegate->terminalContainer);
  EXPECT_LT(TerminalClock::now() - delegate->terminalSessions.session("a")->lastUsedAt, std::chrono::minutes(1));

  delegate->preserveActiveTerminalFocusForSidebarRefresh();
  EXPECT_EQ(delegate->terminalFocusBeforeSidebarRefreshTaskID, "a");
  delegate->placeholder.startButton.set_visible(true);
  window->set_focus(delegate->placeholder.startButton);  // the page's refresh took the focus
  delegate->restoreActiveTerminalFocusAfterSidebarRefresh();
  EXPECT_FALSE(delegate->terminalFocusBeforeSidebarRefreshTaskID);
  ASSERT_TRUE(spinUntil([&] { return window->get_focus() == a.get(); }));

  // Another task shown in between keeps its own focus.
  delegate->preserveActiveTerminalFocusForSidebarRefresh();
  std::shared_ptr<vantrelle::LocalProcessTerminalView> b = TerminalFactory::make(*delegate);
  delegate->terminalSessions.insert(b, "b", std::nullopt);
  delegate->show(b, "b", false);
  ASSERT_TRUE(settleMainQueue());
  window->unset_focus();
  delegate->restoreActiveTerminalFocusAfterSidebarRefresh();
  ASSERT_TRUE(settleMainQueue());
  EXPECT_EQ(window->get_focus(), nullptr);
  EXPECT_FALSE(delegate->terminalFocusBeforeSidebarRefreshTaskID);

  delegate->window = nullptr;
  window->unset_child();
  delete window;
}

// The agent-profile login window runs only its own profile's plan, and tells its creator once
// that it closed, however it closed.
TEST_F(TaskTerminalRoads, TheProfileLoginWindowRunsOnlyItsPlanAndReportsItsCloseOnce) {
  StandInCore core;
  auto runner = std::filesystem::temp_directory_path() / ("zorvel-runner-" + std::to_string(::getpid()));
  {
    std::ofstream script(runner);
    script << "#!/bin/sh\n[ \"$1 $2\" = \"profile-login p1\" ] && exit 0\nexit 5\n";
  }
  std::filesystem::permissions(runner, std::filesystem::perms::owner_all);

  core.setLoginPlanReply(200, R"({"arguments": ["profile-login", "p1", "--extra"]})");
  int refusedCloses = 0;
  auto refused = ProfileLoginController::make(core.baseURL(), delegate->coreAccess, "p1", runner.string(), {},
                                              [&] { refusedCloses++; });
  ASSERT_TRUE(spinUntil([&] { return !refused->request; }));
  EXPECT_NE(
      screenText(*refused->terminal).find("Could not prepare login. Close this window and retry from the project."),
      std::string::npos);
  EXPECT_FALSE(refused->terminal->process && refused->terminal->process->running());
  refused->close();
  refused->close();
  EXPECT_EQ(refusedCloses, 1);

  core.setLoginPlanReply(200, R"({"arguments": ["profile-login", "p1"]})");
  int closes = 0;
  auto login =
      ProfileLoginController::make(core.baseURL(), delegate->coreAccess, "p1", runner.string(), {}, [&] { closes++; });
  login->showWindow();
  ASSERT_TRUE(spinUntil([&] { return closes > 0; })) << screenText(*login->terminal);
  EXPECT_FALSE(login->window.get_visible());
  EXPECT_EQ(screenText(*login->terminal).find("Login did not complete"), std::string::npos);
  login->close();
  EXPECT_EQ(closes, 1);
  std::filesystem::remove(runner);
}

TEST_F(TaskTerminalRoads, SidebarWidthsAreClampedAndStoredOnlyOutsideADrag) {
  auto& defaults = platform::UserDefaults::standard();
  delegate->terminalLeadingConstraint.emplace(delegate->terminalContainer);
  delegate->terminalLeadingConstraint->setConstant(360);

  delegate->setTaskSidebarWidth(100, true, true);
  EXPECT_EQ(delegate->terminalLeadingConstraint->constant(), 280);
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 280);
  delegate->setTaskSidebarWidth(900, true, true);
  EXPECT_EQ(delegate->terminalLeadingConstraint->constant(), 560);
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 560);

  // The page's drag: widths follow the pointer but only the last one is kept.
  delegate->sidebarResizeInProgress = true;
  delegate->setTaskSidebarWidth(400, true, !delegate->sidebarResizeInProgress);
  EXPECT_EQ(delegate->terminalLeadingConstraint->constant(), 400);
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 560);
  delegate->endTaskSidebarResize(450);
  EXPECT_FALSE(delegate->sidebarResizeInProgress);
  EXPECT_EQ(delegate->terminalLeadingConstraint->constant(), 450);
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 450);

  // The current width sent again is still stored.
  defaults.set("zorvel.sidebarWidth", 300.0);
  delegate->setTaskSidebarWidth(450, true, true);
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 450);
}

// The page's messages of one sidebar drag: the start counts once, and only the end is stored.
TEST_F(TaskTerminalRoads, TheSidebarMessagesOfADragStoreOnlyItsEnd) {
  auto& defaults = platform::UserDefaults::standard();
  delegate->terminalLeadingConstraint.emplace(delegate->terminalContainer);
  delegate->terminalLeadingConstraint->setConstant(360);
  defaults.set("zorvel.sidebarWidth", 360.0);
  auto send = [&](const nlohmann::json& body) {
    auto message = PageMessages::decode(PageMessages::handlerName, body);
    ASSERT_TRUE(message);
    delegate->handlePageMessage(std::get<PageMessages::ApplicationMessage>(*message));
  };

  send({{"kind", "sidebar-resize-start"}});
  EXPECT_TRUE(delegate->sidebarResizeInProgress);
  send({{"kind", "sidebar-resize-start"}});
  EXPECT_TRUE(delegate->sidebarResizeInProgress);
  send({{"kind", "sidebar-width"}, {"width", 300}});
  EXPECT_EQ(delegate->terminalLeadingConstraint->constant(), 300);
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 360);
  send({{"kind", "sidebar-resize-end"}, {"width", 310}});
  EXPECT_FALSE(delegate->sidebarResizeInProgress);
  EXPECT_EQ(delegate->terminalLeadingConstraint->constant(), 310);
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 310);

  // A width outside a drag is stored at once.
  send({{"kind", "sidebar-width"}, {"width", 320}});
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), 320);
}

}  // namespace
}  // namespace zorvel
