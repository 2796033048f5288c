// zorvel:// links given to the application: handed from a second launch to the running one,
// held until the page has loaded, and the clipboard capture with its confirmation.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "tests/e2e/OverlayHarness.h"

namespace links_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;

const std::string upperTask = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
const std::string lowerTask = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
const std::string session = "8c1d6e1a-2b3c-4d5e-8f90-a1b2c3d4e5f6";
const std::string project = "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";

bool openedLink(const DesktopRun& run, const std::string& resource, const std::string& identifier) {
  return waitForPageEvent(run, "main", "zorvel:open-link", [&](const json& d) {
    return d == json{{"resource", resource}, {"identifier", identifier}};
  });
}

// This process owns the clipboard while the application reads it, so the main context must run.
class ClipboardOwner {
 public:
  explicit ClipboardOwner(const std::string& text) {
    gtk_init();
    gdk_clipboard_set_text(gdk_display_get_clipboard(gdk_display_get_default()), text.c_str());
  }
  // The predicate looks at other processes (their windows, the core's state), which tell this one
  // nothing when they change: it is asked again after each turn of the main loop, and a turn waits
  // for a clipboard request at most a short while.
  template <typename Predicate>
  bool serveUntil(Predicate predicate, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    guint turn = g_timeout_add(
        20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool met = false;
    while (!(met = predicate()) && std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(turn);
    return met;
  }
  void serveFor(std::chrono::milliseconds duration) {
    serveUntil([] { return false; }, duration);
  }
};

// Waits for the confirmation dialog, a second window of the application, and gives it the keyboard.
template <typename Serve>
bool focusConfirmation(pid_t app, Serve serve) {
  std::vector<std::string> windows;
  bool found = serve([&] {
    windows = visibleWindows(app);
    return windows.size() >= 2;
  });
  if (!found) return false;
  for (auto& window : windows) {
    if (commandOutput("xdotool getwindowname " + window).find("Zorvel\n") != 0) {
      focusWindow(window);
      return true;
    }
  }
  focusWindow(windows.back());
  return true;
}

std::vector<json> captureRequests(const DesktopRun& run) {
  std::vector<json> found;
  for (auto& request : run.ofType("request")) {
    if (request.value("path", "") == "/tasks/capture" && request.value("method", "") == "POST")
      found.push_back(request);
  }
  return found;
}

TEST(ApplicationLinksWindow, ALinkGivenToASecondLaunchReachesTheRunningPage) {
  DesktopRun desktop;
  desktop.start();
  ASSERT_TRUE(waitForMainPage(desktop, 40s)) << desktop.log();

  auto second = desktop.launch({"zorvel://tasks/" + upperTask + "/open"});
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->waitUntilExit(20s)) << "the second launch stayed";
  EXPECT_TRUE(openedLink(desktop, "tasks", lowerTask));

  auto ignored = desktop.launch({"zorvel://tasks/" + lowerTask});
  ASSERT_TRUE(ignored);
  ignored->waitUntilExit(20s);
  auto third = desktop.launch({"zorvel://sessions/" + session + "/open/"});
  ASSERT_TRUE(third);
  third->waitUntilExit(20s);
  EXPECT_TRUE(openedLink(desktop, "sessions", session));
  EXPECT_EQ(pageEvents(desktop, "main", "zorvel:open-link").size(), 2u);
}

TEST(ApplicationLinksWindow, OfSeveralLinksBeforeTheFirstLoadOnlyTheLastIsDelivered) {
  DesktopRun desktop;
  desktop.start({"zorvel://tasks/" + upperTask + "/open", "zorvel://sessions/" + session + "/open"});
  ASSERT_TRUE(waitForMainPage(desktop, 40s)) << desktop.log();
  EXPECT_TRUE(openedLink(desktop, "sessions", session));
  // A link given later reaches the page after any that was still due from before it.
  auto later = desktop.launch({"zorvel://tasks/" + lowerTask + "/open"});
  ASSERT_TRUE(later);
  EXPECT_TRUE(later->waitUntilExit(20s)) << "the later launch stayed";
  EXPECT_TRUE(openedLink(desktop, "tasks", lowerTask));
  auto links = pageEvents(desktop, "main", "zorvel:open-link");
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].detail, (json{{"resource", "sessions"}, {"identifier", session}}));
}

TEST(ClipboardCapture, TheConfirmedClipboardTextBecomesACaptureRequest) {
  const std::string text = "  Fix the login bug\nwith its second line  \n";
  ClipboardOwner clipboard(text);
  DesktopRun desktop;
  desktop.start();
  ASSERT_TRUE(clipboard.serveUntil([&] { return mainPageListening(desktop); }, 40s)) << desktop.log();

  auto second = desktop.launch({"zorvel://tasks/capture?project_id=" + project});
  ASSERT_TRUE(second);
  auto serve = [&](auto predicate) { return clipboard.serveUntil(predicate, 20s); };
  ASSERT_TRUE(focusConfirmation(desktop.app->processIdentifier(), serve)) << "no confirmation";
  clipboard.serveFor(500ms);
  screenshot("capture-dialog");
  ASSERT_TRUE(answerable(desktop.app->processIdentifier(), "Capture"));
  shell("xdotool key Return");
  ASSERT_TRUE(clipboard.serveUntil([&] { return !captureRequests(desktop).empty(); }, 20s))
      << "no capture request after confirming";
  auto request = captureRequests(desktop).front();
  auto body = json::parse(request.value("body", ""), nullptr, false);
  EXPECT_EQ(body, (json{{"content", text}, {"project_id", project}}));
  EXPECT_EQ(request.value("status", 0), 201);
  EXPECT_EQ(request["headers"].value("Authorization", "").rfind("Bearer ", 0), 0u);

  // Cancelling sends nothing.
  auto cancelled = desktop.launch({"zorvel://tasks/capture?project_id=" + project});
  clipboard.serveUntil([&] { return visibleWindows(desktop.app->processIdentifier()).size() == 1; }, 10s);
  ASSERT_TRUE(focusConfirmation(desktop.app->processIdentifier(), serve));
  shell("xdotool key Escape");
  // A capture confirmed afterwards is sent after anything the cancelled one would have sent.
  ASSERT_TRUE(serve([&] { return visibleWindows(desktop.app->processIdentifier()).size() == 1; }));
  auto confirmed = desktop.launch({"zorvel://tasks/capture?project_id=" + project});
  ASSERT_TRUE(focusConfirmation(desktop.app->processIdentifier(), serve));
  ASSERT_TRUE(answerable(desktop.app->processIdentifier(), "Capture"));
  shell("xdotool key Return");
  ASSERT_TRUE(serve([&] { return captureRequests(desktop).size() >= 2; })) << "no capture request after confirming";
  EXPECT_EQ(captureRequests(desktop).size(), 2u);
}

TEST(ClipboardCapture, ACaptureConfirmedAtLaunchIsSentOnceTheCoreIsUpAndItsFailureShown) {
  ClipboardOwner clipboard("Write the release notes");
  DesktopRun desktop(std::map<std::string, std::string>{{"ZORVEL_REFCORE_CAPTURE_STATUS", "500"},
                                                        {"ZORVEL_REFCORE_READY_DELAY_MS", "3000"}});
  desktop.start({"zorvel://tasks/capture?project_id=" + project});
  auto serve = [&](auto predicate) { return clipboard.serveUntil(predicate, 20s); };
  ASSERT_TRUE(focusConfirmation(desktop.app->processIdentifier(), serve)) << "no confirmation";
  ASSERT_TRUE(answerable(desktop.app->processIdentifier(), "Capture"));
  shell("xdotool key Return");
  ASSERT_TRUE(clipboard.serveUntil([&] { return !captureRequests(desktop).empty(); }, 40s)) << desktop.log();
  EXPECT_TRUE(desktop.readyProbeAnswered()) << "sent before the core was ready";
  EXPECT_EQ(captureRequests(desktop).front().value("status", 0), 500);
  EXPECT_TRUE(clipboard.serveUntil(
      [&] { return desktop.log().find("Capture request failed (500)") != std::string::npos; }, 10s));
  clipboard.serveFor(500ms);
  screenshot("capture-failed");
}

// However long its words or many its lines, the text shown leaves the confirmation, and so its
// buttons, within the screen.
TEST(ClipboardCapture, ALongOrManyLinedClipboardKeepsTheConfirmationOnTheScreen) {
  ClipboardOwner clipboard("first");
  DesktopRun desktop;
  desktop.start();
  ASSERT_TRUE(clipboard.serveUntil([&] { return mainPageListening(desktop); }, 40s)) << desktop.log();
  int screenWidth = 0, screenHeight = 0;
  std::sscanf(commandOutput("xdotool getdisplaygeometry").c_str(), "%d %d", &screenWidth, &screenHeight);
  ASSERT_GT(screenWidth, 0);
  std::string manyLines;
  for (int line = 0; line < 400; ++line) manyLines += "-\n";
  const pid_t app = desktop.app->processIdentifier();
  auto serve = [&](auto predicate) { return clipboard.serveUntil(predicate, 20s); };
  for (const std::string& text : {std::string(3000, 'x'), manyLines}) {
    SCOPED_TRACE(text.substr(0, 12));
    gdk_clipboard_set_text(gdk_display_get_clipboard(gdk_display_get_default()), text.c_str());
    ASSERT_TRUE(desktop.launch({"zorvel://tasks/capture?project_id=" + project}));
    ASSERT_TRUE(focusConfirmation(app, serve)) << "no confirmation";
    std::string dialog;
    for (auto& window : visibleWindows(app)) {
      if (commandOutput("xdotool getwindowname " + window).find("Zorvel\n") != 0) dialog = window;
    }
    int width = 0, height = 0;
    auto geometry = commandOutput("xdotool getwindowgeometry " + dialog);
    auto at = geometry.find("Geometry:");
    ASSERT_NE(at, std::string::npos) << dialog;
    std::sscanf(geometry.c_str() + at, "Geometry: %dx%d", &width, &height);
    EXPECT_LE(width, screenWidth) << geometry;
    EXPECT_LE(height, screenHeight) << geometry;
    shell("xdotool key Escape");
    ASSERT_TRUE(serve([&] { return visibleWindows(app).size() == 1; })) << "the confirmation stayed";
  }
  EXPECT_TRUE(captureRequests(desktop).empty());
}

}  // namespace links_e2e
