// Every dialog or window a page can have raised (printing, the choosers of its fields, the
// permissions it may ask for, a login a server asks of it, the application's pickers, its login
// window and the clipboard capture question) opens only for a press of the user's own on the page,
// one for each press, however often the page asks.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/e2e/OverlayHarness.h"

namespace page_dialogs_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;

std::string refused(const std::string& what) {
  return what + ": no click or key press of the user on the page asked for it";
}

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

// What the page made of one way of asking, once it tried it.
json outcomes(const DesktopRun& run, const std::string& id) {
  for (auto& event : pageEvents(run, "main", "unasked"))
    if (event.detail.value("id", "") == id) return event.detail.value("outcomes", json());
  return json();
}

std::string message(const json& body) { return body.dump(); }

int heightOf(const std::string& window) {
  const std::string geometry = commandOutput("xdotool getwindowgeometry --shell " + window);
  const auto height = geometry.find("HEIGHT=");
  return height == std::string::npos ? 0 : std::atoi(geometry.c_str() + height + 7);
}

// Starts the application and waits until its page listens and its main window shows, which
// `window` is given.
::testing::AssertionResult startWithWindow(DesktopRun& run, std::string& window) {
  run.start();
  if (!waitForMainPage(run, 40s)) return ::testing::AssertionFailure() << "the page never listened: " << run.log();
  window = mainWindow(run.app->processIdentifier());
  if (window.empty()) return ::testing::AssertionFailure() << "the main window never showed";
  return ::testing::AssertionSuccess();
}

TEST(PageDialogs, NoneOpensWithoutAPressOfTheUser) {
  DesktopRun run;
  std::string window;
  ASSERT_TRUE(startWithWindow(run, window));
  const pid_t app = run.app->processIdentifier();
  // Text for a capture question to show; the clipboard's owner serves it once and then ends.
  ASSERT_EQ(shell("(printf 'clipboard text' | timeout 60 xclip -quiet -selection clipboard -loops 1 "
                  ">/dev/null 2>&1 &)"),
            0);
  const std::string login = "http://127.0.0.1:" + std::to_string(run.port) + "/__test/login";
  const std::string capture = "zorvel://tasks/capture?project_id=0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";

  struct Asking {
    const char* how;
    std::string href;
    int times;
    std::string refusal;  // what the application logs for each time, when it is asked at all
    json outcome;         // what the page hears, when it hears anything
  };
  const std::vector<Asking> table = {
      {"print", "", 1000, refused("Not printing the page"), {}},
      // The engine itself shows no chooser to a script that clicks a field, and grants no
      // permission: the page hears that, and nothing shows.
      {"file", "", 1, "", json{"asked"}},
      {"color", "", 1, "", json{"asked"}},
      {"notification", "", 1, "", json{"denied"}},
      {"location", "", 1, "", json{"refused"}},
      {"camera", "", 1, "", json{"refused"}},
      {"pointer", "", 1, "", json{"refused"}},
      {"post",
       message({{"kind", "pick-executable"}, {"agent", "codex"}}),
       3,
       refused("Not showing the executable picker"),
       {}},
      {"post", message({{"kind", "pick-project-directory"}}), 3, refused("Not showing the project folder picker"), {}},
      {"post",
       message({{"kind", "agent-profile-login"}, {"profile_id", "default"}}),
       3,
       refused("Not opening the login window"),
       {}},
      {"frame", login, 1, "Not asking for a login to 127.0.0.1: the application's pages sign in nowhere", {}},
      {"self", capture, 1, refused("Not opening a link"), {}},
  };
  for (size_t row = 0; row < table.size(); ++row) {
    const auto& asking = table[row];
    ASSERT_TRUE(commandMainPage(
        run, {{"unasked",
               {{"id", std::to_string(row)}, {"how", asking.how}, {"href", asking.href}, {"times", asking.times}}}}));
  }
  for (size_t row = 0; row < table.size(); ++row) {
    const auto& asking = table[row];
    SCOPED_TRACE(std::string(asking.how) + " " + asking.href);
    if (!asking.refusal.empty()) {
      EXPECT_TRUE(
          run.waitUntil([&] { return count(run.log(), asking.refusal) >= static_cast<size_t>(asking.times); }, 20s))
          << "the application did not refuse " << asking.times << " times";
    }
    if (!asking.outcome.is_null()) {
      EXPECT_TRUE(run.waitUntil([&] { return !outcomes(run, std::to_string(row)).is_null(); }, 20s));
      EXPECT_EQ(outcomes(run, std::to_string(row)), asking.outcome);
    }
  }
  EXPECT_EQ(visibleWindows(app), std::vector<std::string>{window})
      << "a window opened (see " << screenshot("page-dialogs-unasked") << ")";
  EXPECT_TRUE(mainPageListening(run)) << "the page was left";

  // A page nobody pressed on is left without the question, here as it reloads itself.
  const size_t streams = eventStreamsOpened(run);
  ASSERT_TRUE(commandMainPage(run, {{"unasked", {{"id", "leave"}, {"how", "leave"}}}}));
  EXPECT_TRUE(run.waitUntil([&] { return eventStreamsOpened(run) > streams; }, 30s)) << "the page did not reload";
  EXPECT_EQ(visibleWindows(app), std::vector<std::string>{window}) << "the page was asked about";
}

// A press opens one dialog, however often the page asks for it in that press's handler; the next
// press can open the next once that one is answered.
TEST(PageDialogs, APressOpensOneDialog) {
  DesktopRun run{{{"GTK_USE_PORTAL", "0"}}};
  std::string window;
  ASSERT_TRUE(startWithWindow(run, window));
  const pid_t app = run.app->processIdentifier();

  struct Pressed {
    const char* how;
    int times;
    const char* refusal;  // logged for each of the press's requests after the first
  };
  const Pressed table[] = {{"print", 100, "Not printing the page"}, {"file", 1, nullptr}, {"color", 1, nullptr}};
  for (const auto& pressed : table) {
    SCOPED_TRACE(pressed.how);
    const size_t refused = pressed.refusal ? count(run.log(), pressed.refusal) : 0;
    ASSERT_TRUE(pressToOpen(run, {{"how", pressed.how}, {"times", pressed.times}}));
    std::vector<std::string> shown;
    ASSERT_TRUE(waitUntil([&] { return (shown = visibleWindows(app)).size() >= 2; }, 20s)) << "no dialog opened";
    if (pressed.refusal) {
      EXPECT_TRUE(run.waitUntil(
          [&] { return count(run.log(), pressed.refusal) == refused + static_cast<size_t>(pressed.times - 1); }, 20s));
    }
    screenshot(std::string("page-dialogs-pressed-") + pressed.how);
    EXPECT_EQ(shown.size(), 2u) << "more than one dialog opened";
    const std::string dialog = shown[0] == window ? shown[1] : shown[0];
    // Answered, the dialog goes and nothing follows it.
    EXPECT_TRUE(waitUntil(
        [&] {
          focusWindow(dialog);
          shell("xdotool key Escape");
          return waitUntil([&] { return !isViewable(dialog); }, 1s);
        },
        15s))
        << "the dialog did not close";
    EXPECT_EQ(visibleWindows(app), std::vector<std::string>{window});
  }
}

// The web inspector of a development build docks inside the page's view: clicks and keys there are
// not pressed on the page, which asks in vain. A click on the page above it still opens.
TEST(PageDialogs, APressInTheDockedWebInspectorIsNoPressOnThePage) {
  if (std::string(ZORVEL_CHANNEL) != "development") GTEST_SKIP() << "only development builds have the inspector";
  DesktopRun run;
  std::string window;
  ASSERT_TRUE(startWithWindow(run, window));
  const pid_t app = run.app->processIdentifier();
  const std::string refusal = refused("Not printing the page");
  // The context menu's last item opens the inspector below the page.
  ASSERT_EQ(shell("xdotool mousemove --window " + window + " 900 300 click 3"), 0);
  std::string menu;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (auto& shown : visibleWindows(app))
          if (shown != window) menu = shown;
        return !menu.empty();
      },
      20s))
      << "no context menu";
  ASSERT_EQ(shell("xdotool mousemove --window " + menu + " 70 " + std::to_string(heightOf(menu) - 26) + " click 1"), 0);
  // The page is made smaller at once; the inspector docks once it has loaded, a view of its own in
  // the page's.
  const std::string docked = "timeout 10 /usr/bin/python3 " + std::string(ZORVEL_SOURCE_DIR) +
                             "/tests/e2e/labels.py children " + std::to_string(app) + " WebKitWebView";
  ASSERT_TRUE(waitUntil([&] { return commandOutput(docked).find("WebKitWebViewBase") != std::string::npos; }, 30s))
      << "the inspector did not dock (see " << screenshot("page-dialogs-no-inspector") << ")";
  // The click that opened the menu was on the page: the page's next ask takes it up, or finds it
  // lapsed.
  size_t refusals = count(run.log(), refusal);
  ASSERT_TRUE(commandMainPage(run, {{"unasked", {{"how", "print"}, {"times", 1}}}}));
  std::vector<std::string> shown;
  ASSERT_TRUE(
      waitUntil([&] { return (shown = visibleWindows(app)).size() > 1 || count(run.log(), refusal) > refusals; }, 20s));
  for (auto& dialog : shown) {
    if (dialog == window) continue;
    focusWindow(dialog);
    shell("xdotool key Escape");
    ASSERT_TRUE(waitUntil([&] { return !isViewable(dialog); }, 10s)) << "the print dialog did not close";
  }

  // Into the inspector's console at the window's foot, where the user types and runs a line.
  ASSERT_EQ(shell("xdotool mousemove --window " + window + " 700 " + std::to_string(heightOf(window) - 25) +
                  " click 1 && xdotool type --delay 30 '1' && xdotool key Return"),
            0);
  refusals = count(run.log(), refusal);
  ASSERT_TRUE(commandMainPage(run, {{"unasked", {{"how", "print"}, {"times", 1}}}}));
  EXPECT_TRUE(run.waitUntil([&] { return count(run.log(), refusal) > refusals; }, 20s))
      << "the page printed for a press in the inspector";
  EXPECT_EQ(visibleWindows(app), std::vector<std::string>{window})
      << "a window opened (see " << screenshot("page-dialogs-inspector") << ")";

  // The page itself, above the inspector.
  ASSERT_TRUE(commandMainPage(run, {{"link", {{"open", true}, {"how", "print"}, {"href", ""}, {"times", 1}}}}));
  ASSERT_EQ(shell("xdotool mousemove --window " + window + " 900 300 click 1"), 0);
  EXPECT_TRUE(waitUntil([&] { return visibleWindows(app).size() > 1; }, 20s)) << "a click on the page opened nothing";
}

}  // namespace page_dialogs_e2e
