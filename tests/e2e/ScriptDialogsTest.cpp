// A page's alert, confirm and prompt, opened while a task terminal covers the page, show in a
// window of their own over the application's window, and what the user answers there with the
// keyboard reaches the page, whose scripts go on.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/e2e/DesktopHarness.h"
#include "tests/e2e/OverlayHarness.h"

namespace script_dialogs_e2e {

using nlohmann::json;
using namespace std::chrono_literals;

struct Case {
  const char* id;
  // The rest of the dialog the page is asked for, as raw JSON text: its escapes reach the page's
  // strings unchanged, unpaired UTF-16 halves included.
  const char* fields;
  const char* keys;  // what the user presses in the dialog, as xdotool commands
  json answer;       // what the page's call returns
};

// The windows of the application that are mapped now and were not before.
std::vector<std::string> newWindows(pid_t app, const std::vector<std::string>& before) {
  std::vector<std::string> added;
  for (auto& window : e2e::visibleWindows(app)) {
    if (std::find(before.begin(), before.end(), window) == before.end()) added.push_back(window);
  }
  return added;
}

TEST(ScriptDialogs, EachOpenedOverATerminalIsSeenAndAnsweredFromTheKeyboard) {
  e2e::DesktopRun run{{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}}};
  run.start();
  ASSERT_TRUE(e2e::waitForMainPage(run, 60s)) << "the page never opened its event stream";
  run.request("POST", "/__test/events", {{"data", json{{"start_task", true}}.dump()}});
  ASSERT_TRUE(e2e::waitUntil([&] { return !e2e::terminalChildrenOf(run.app->processIdentifier()).empty(); }, 30s))
      << "no terminal was opened";
  const pid_t app = run.app->processIdentifier();
  std::vector<std::string> before;
  ASSERT_TRUE(e2e::waitUntil([&] { return !(before = e2e::visibleWindows(app)).empty(); }, 30s));

  const std::vector<Case> cases = {
      {"alert", R"("kind":"alert","message":"x")", "key Return", nullptr},
      {"confirm answered OK", R"("kind":"confirm","message":"Go on?")", "key Return", true},
      {"confirm cancelled", R"("kind":"confirm","message":"Go on?")", "key Escape", false},
      {"prompt answered", R"("kind":"prompt","message":"Name?","value":"seed")",
       "key ctrl+a type --delay 30 'typed answer' && xdotool key Return", "typed answer"},
      {"prompt keeps its default", R"("kind":"prompt","message":"Name?","value":"seed")", "key Return", "seed"},
      {"prompt cancelled", R"("kind":"prompt","message":"Name?","value":"seed")", "key Escape", nullptr},
      // Megabytes of one word, every other character half a UTF-16 pair: the dialog shows a part.
      {"huge broken message", R"("kind":"alert","message":"\ud800y","repeat":2000000)", "key Return", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string id = c.id;
    run.request("POST", "/__test/events", {{"data", R"({"dialog":{"id":")" + id + "\"," + c.fields + "}}"}});
    std::vector<std::string> shown;
    if (!e2e::waitUntil([&] { return !(shown = newWindows(app, before)).empty(); }, 20s)) {
      e2e::screenshot("script-dialog-missing");
      FAIL() << "no dialog window appeared (see /tmp/zorvel-e2e-screens/script-dialog-missing.png)";
    }
    if (id == "prompt answered") e2e::screenshot("script-dialog-over-terminal");
    // As a user would: a click into the dialog's window, then the keys.
    // The dialog takes the keyboard from the terminal by itself: the user only presses keys.
    EXPECT_TRUE(e2e::waitUntil([&] { return e2e::shellOutput("xdotool getwindowfocus") == shown[0] + "\n"; }, 10s))
        << "the dialog did not take the keyboard";
    ASSERT_EQ(e2e::shell(std::string("xdotool ") + c.keys), 0);
    EXPECT_TRUE(e2e::waitForPageEvent(
        run, "main", "dialog-answered",
        [&](const json& detail) { return detail.value("id", "") == id && detail["answer"] == c.answer; }))
        << "the page did not get the answer " << c.answer.dump();
    EXPECT_TRUE(e2e::waitUntil([&] { return newWindows(app, before).empty(); }, 10s)) << "the dialog stayed open";
  }
}

// A page that asks before it is left is left only when the user says so.
TEST(ScriptDialogs, APageIsLeftOnlyWhenTheUserAgrees) {
  e2e::DesktopRun run;
  run.start();
  ASSERT_TRUE(e2e::waitForMainPage(run, 60s)) << "the page never opened its event stream";
  const pid_t app = run.app->processIdentifier();
  std::vector<std::string> before;
  ASSERT_TRUE(e2e::waitUntil([&] { return !(before = e2e::visibleWindows(app)).empty(); }, 30s));
  // WebKit asks only for a page the user has used: a click on an empty part of it.
  ASSERT_EQ(e2e::shell("xdotool mousemove --window " + before[0] + " 600 560 click 1"), 0);

  for (auto [keys, leaves] : {std::pair{"key Escape", false}, std::pair{"key Return", true}}) {
    SCOPED_TRACE(keys);
    const size_t streams = e2e::eventStreamsOpened(run);
    run.request("POST", "/__test/events", {{"data", json{{"leave", true}}.dump()}});
    std::vector<std::string> shown;
    ASSERT_TRUE(e2e::waitUntil([&] { return !(shown = newWindows(app, before)).empty(); }, 20s))
        << "the page was not asked about";
    EXPECT_TRUE(e2e::waitUntil([&] { return e2e::shellOutput("xdotool getwindowfocus") == shown[0] + "\n"; }, 10s));
    ASSERT_EQ(e2e::shell(std::string("xdotool ") + keys), 0);
    if (leaves) {
      EXPECT_TRUE(run.waitUntil([&] { return e2e::eventStreamsOpened(run) > streams; }, 30s)) << "the page stayed";
    } else {
      // The page still takes commands, and took them without loading again.
      EXPECT_TRUE(e2e::commandMainPage(run, json::object()));
      EXPECT_EQ(e2e::eventStreamsOpened(run), streams) << "the page was left";
    }
    EXPECT_TRUE(e2e::waitUntil([&] { return newWindows(app, before).empty(); }, 10s)) << "the dialog stayed open";
  }
}

}  // namespace script_dialogs_e2e
