// A page's alert, confirm and prompt, opened while a task terminal covers part of the page, show in
// a window of their own over the application's window, and what the user answers there with the
// keyboard reaches the page, whose scripts go on. A page that asks again and again holds nobody:
// the application quits as ever, and the user can stop the page's dialogs from the dialog.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
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
  const char* keys;             // what the user presses in the dialog, as xdotool commands
  json answer;                  // what the page's call returns
  const char* shows = nullptr;  // a line of the dialog's text, when it matters
};

// The windows of the application that are mapped now and were not before.
std::vector<std::string> newWindows(pid_t app, const std::vector<std::string>& before) {
  std::vector<std::string> added;
  for (auto& window : e2e::visibleWindows(app)) {
    if (std::find(before.begin(), before.end(), window) == before.end()) added.push_back(window);
  }
  return added;
}

// The texts of the labels of the application's dialogs (message, buttons, check boxes), one a line,
// as the accessibility bus reports them.
std::string dialogLabels(pid_t app) {
  return e2e::commandOutput("timeout 10 /usr/bin/python3 " + std::string(ZORVEL_SOURCE_DIR) +
                            "/tests/e2e/labels.py dialogs " + std::to_string(app));
}

bool dialogShowsLine(pid_t app, const std::string& line) {
  return ("\n" + dialogLabels(app)).find("\n" + line + "\n") != std::string::npos;
}

const std::string stopChoice = "Don't allow this page to show more dialogs";

// Starts the application and waits until its page listens and it shows its window; `before` is
// given the windows it shows then, before any dialog.
::testing::AssertionResult startWithPage(e2e::DesktopRun& run, std::vector<std::string>& before) {
  run.start();
  if (!e2e::waitForMainPage(run, 60s)) return ::testing::AssertionFailure() << "the page never opened its event stream";
  const pid_t app = run.app->processIdentifier();
  if (!e2e::waitUntil([&] { return !(before = e2e::visibleWindows(app)).empty(); }, 30s))
    return ::testing::AssertionFailure() << "the application shows no window";
  return ::testing::AssertionSuccess();
}

constexpr int rowLength = 200;

// Has the page open dialogs of `kind` one after another, each as soon as the one before is answered.
void askInARow(e2e::DesktopRun& run, const char* kind) {
  run.request("POST", "/__test/events",
              {{"data", json{{"dialog_loop", {{"id", "row"}, {"kind", kind}, {"times", rowLength}}}}.dump()}});
}

bool hasKeyboard(const std::string& window) {
  return e2e::waitUntil([&] { return e2e::commandOutput("xdotool getwindowfocus") == window + "\n"; }, 10s);
}

// Waits for a window of the application other than those it had before and the one named (a
// dialog, the menu), and gives it.
std::string nextWindow(pid_t app, const std::vector<std::string>& before, const std::string& previous = "") {
  std::string found;
  e2e::waitUntil(
      [&] {
        for (auto& window : newWindows(app, before)) {
          if (window != previous) found = window;
        }
        return !found.empty();
      },
      std::chrono::seconds(20));
  return found;
}

TEST(ScriptDialogs, EachOpenedOverATerminalIsSeenAndAnsweredFromTheKeyboard) {
  e2e::DesktopRun run{{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}}};
  std::vector<std::string> before;
  ASSERT_TRUE(startWithPage(run, before));
  const pid_t app = run.app->processIdentifier();
  run.request("POST", "/__test/events", {{"data", json{{"start_task", true}}.dump()}});
  ASSERT_TRUE(e2e::waitUntil([&] { return !e2e::terminalChildrenOf(app).empty(); }, 30s)) << "no terminal was opened";
  // The terminal took the keyboard; the user is at the page again, where its dialogs come up.
  e2e::clickThePage(before[0]);

  // Long defaults: edited at their end, the page gets them whole with what was typed, non-ASCII
  // characters and NULs (shown as their symbol) too; one longer than the entry holds is taken whole.
  const std::string longDefault(20000, 'x');
  const std::string longPrompt = R"("kind":"prompt","message":"Name?","value":")" + longDefault + "\"";
  std::string mixedValue, mixedAnswer, tooLong;
  for (int i = 0; i < 10000; ++i) mixedValue += R"(\u00e9\u0000)", mixedAnswer += "\u00e9\u2400";
  for (int i = 0; i < 70000; ++i) tooLong += "\u00e9";
  const std::string mixedPrompt = R"("kind":"prompt","message":"p","value":")" + mixedValue + "\"";
  const std::string tooLongPrompt = R"("kind":"prompt","message":"p","value":")" + tooLong + "\"";
  const std::string typeAtTheEnd = "key End type --delay 30 'XY' && xdotool key Return";
  const std::vector<Case> cases = {
      {"alert", R"("kind":"alert","message":"x")", "key Return", nullptr},
      {"confirm answered OK", R"("kind":"confirm","message":"Go on?")", "key Return", true},
      {"confirm cancelled", R"("kind":"confirm","message":"Go on?")", "key Escape", false},
      {"prompt answered", R"("kind":"prompt","message":"Name?","value":"seed")",
       "key ctrl+a type --delay 30 'typed answer' && xdotool key Return", "typed answer"},
      {"prompt keeps its default", R"("kind":"prompt","message":"Name?","value":"seed")", "key Return", "seed"},
      {"prompt cancelled", R"("kind":"prompt","message":"Name?","value":"seed")", "key Escape", nullptr},
      // A NUL of the default shows as its symbol in the entry, and what follows it too; left as it
      // is, the default is the answer with its NUL.
      {"prompt shows its default past a NUL", R"("kind":"prompt","message":"p","value":"def\u0000ault")",
       "key End type --delay 30 '!' && xdotool key Return", "def\u2400ault!"},
      {"prompt keeps a default with a NUL", R"("kind":"prompt","message":"p","value":"def\u0000ault")", "key Return",
       std::string("def\0ault", 8)},
      {"prompt keeps a long default whole", longPrompt.c_str(), "key Return", longDefault},
      {"prompt keeps a long default edited at its end", longPrompt.c_str(), typeAtTheEnd.c_str(), longDefault + "XY"},
      {"prompt keeps a long mixed default edited at its end", mixedPrompt.c_str(), typeAtTheEnd.c_str(),
       mixedAnswer + "XY"},
      {"prompt takes a default too long to edit whole", tooLongPrompt.c_str(), typeAtTheEnd.c_str(), tooLong},
      // Megabytes of one word, every other character half a UTF-16 pair: the dialog shows a part.
      {"huge broken message", R"("kind":"alert","message":"\ud800y","repeat":2000000)", "key Return", nullptr},
      // WebKit hands the text on as a C string; what follows the NUL is shown too.
      {"NUL in the message", R"("kind":"alert","message":"shown\u0000hidden")", "key Return", nullptr,
       "shown\u2400hidden"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string id = c.id;
    run.request("POST", "/__test/events", {{"data", R"({"dialog":{"id":")" + id + "\"," + c.fields + "}}"}});
    std::vector<std::string> shown;
    if (!e2e::waitUntil([&] { return !(shown = newWindows(app, before)).empty(); }, 20s)) {
      FAIL() << "no dialog window appeared (see " << e2e::screenshot("script-dialog-missing") << ")";
    }
    if (id == "prompt answered") e2e::screenshot("script-dialog-over-terminal");
    if (c.shows) {
      EXPECT_TRUE(e2e::waitUntil([&] { return dialogShowsLine(app, c.shows); }, 10s)) << "the dialog shows:\n"
                                                                                      << dialogLabels(app);
    }
    // The dialog takes the keyboard from the page by itself: the user only presses keys, once it
    // answers.
    EXPECT_TRUE(hasKeyboard(shown[0])) << "the dialog did not take the keyboard";
    ASSERT_TRUE(e2e::answerable(app)) << "the dialog's answer stays held back";
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
  std::vector<std::string> before;
  ASSERT_TRUE(startWithPage(run, before));
  const pid_t app = run.app->processIdentifier();
  // WebKit asks only for a page the user has used: a click on an empty part of it.
  ASSERT_EQ(e2e::shell("xdotool mousemove --window " + before[0] + " 600 560 click 1"), 0);

  for (auto [keys, leaves] : {std::pair{"key Escape", false}, std::pair{"key Return", true}}) {
    SCOPED_TRACE(keys);
    const size_t streams = e2e::eventStreamsOpened(run);
    run.request("POST", "/__test/events", {{"data", json{{"leave", true}}.dump()}});
    std::vector<std::string> shown;
    ASSERT_TRUE(e2e::waitUntil([&] { return !(shown = newWindows(app, before)).empty(); }, 20s))
        << "the page was not asked about";
    EXPECT_TRUE(hasKeyboard(shown[0]));
    ASSERT_TRUE(e2e::answerable(app, "Leave"));
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

// The question before a page is left comes only from a page the user pressed on; a page that asks
// it again and again (here as it reloads itself every 700 ms) can be stopped from the second, and is
// then left without it.
TEST(ScriptDialogs, ARowOfQuestionsBeforeLeavingIsStoppedFromTheDialog) {
  e2e::DesktopRun run;
  std::vector<std::string> before;
  ASSERT_TRUE(startWithPage(run, before));
  const pid_t app = run.app->processIdentifier();
  ASSERT_EQ(e2e::shell("xdotool mousemove --window " + before[0] + " 600 560 click 1"), 0);
  const size_t streams = e2e::eventStreamsOpened(run);
  ASSERT_TRUE(e2e::commandMainPage(run, {{"unasked", {{"id", "leave"}, {"how", "leave"}}}}));

  std::string first = nextWindow(app, before);
  ASSERT_FALSE(first.empty()) << "the page was not asked about";
  ASSERT_TRUE(e2e::waitUntil([&] { return dialogShowsLine(app, "Leave this page?"); }, 10s)) << dialogLabels(app);
  EXPECT_FALSE(dialogShowsLine(app, stopChoice));
  ASSERT_TRUE(hasKeyboard(first));
  ASSERT_EQ(e2e::shell("xdotool key Escape"), 0);

  std::string second = nextWindow(app, before, first);
  ASSERT_FALSE(second.empty()) << "the page did not ask again";
  EXPECT_TRUE(e2e::waitUntil([&] { return dialogShowsLine(app, stopChoice); }, 10s))
      << "the second question of the row does not offer to stop them:\n"
      << dialogLabels(app);
  e2e::screenshot("script-dialog-leave-stop-choice");
  ASSERT_TRUE(hasKeyboard(second));
  ASSERT_TRUE(e2e::answerable(app, "Leave"));
  ASSERT_EQ(e2e::shell("xdotool key alt+d Escape"), 0);
  EXPECT_TRUE(run.waitUntil([&] { return e2e::eventStreamsOpened(run) > streams; }, 30s)) << "the page stayed";
  EXPECT_TRUE(e2e::waitUntil([&] { return newWindows(app, before).empty(); }, 10s)) << "a question stays open";
}

// The page opens one alert after another as soon as each is answered. Escape and Return only bring
// the next; each way of quitting ends the application, with its core, while a dialog is up.
TEST(ScriptDialogs, EachWayOfQuittingEndsAPageThatAsksAgainAndAgain) {
  // What the test knows when the user acts: the application, its windows before the dialogs and
  // the dialog now shown.
  struct Scene {
    pid_t app;
    std::vector<std::string> before;
    std::string dialog;
  };
  struct Way {
    const char* name;
    std::function<bool(const Scene&)> act;
  };
  const std::string source = ZORVEL_SOURCE_DIR;
  const std::vector<Way> ways = {
      {"Ctrl+Q in the dialog", [](const Scene&) { return e2e::shell("xdotool key ctrl+q") == 0; }},
      {"Ctrl+Shift+Q in the dialog", [](const Scene&) { return e2e::shell("xdotool key ctrl+shift+q") == 0; }},
      {"closing the window",
       [&](const Scene& scene) {
         return e2e::shell("/usr/bin/python3 " + source + "/tests/e2e/close-window.py " + scene.before[0]) == 0;
       }},
      // As a user would with a window manager: the dialog moved aside, a click on the window's menu
      // bar (which gives the window the keyboard), and the menu's last item, Quit.
      {"the menu's Quit",
       [](const Scene& scene) {
         const std::string& window = scene.before[0];
         if (e2e::shell("xdotool windowmove " + scene.dialog + " 600 400 && xdotool windowfocus --sync " + window +
                        " && xdotool mousemove --window " + window + " 25 10 click 1") != 0)
           return false;
         // The menu opens in a window of its own.
         return !nextWindow(scene.app, scene.before, scene.dialog).empty() && e2e::shell("xdotool key Up Return") == 0;
       }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    e2e::DesktopRun run;
    std::vector<std::string> before;
    ASSERT_TRUE(startWithPage(run, before));
    const pid_t app = run.app->processIdentifier();
    askInARow(run, "alert");
    std::string dialog = nextWindow(app, before);
    ASSERT_FALSE(dialog.empty()) << "no dialog appeared";
    for (const char* key : {"Escape", "Return"}) {
      ASSERT_TRUE(hasKeyboard(dialog));
      ASSERT_TRUE(e2e::answerable(app));
      ASSERT_EQ(e2e::shell(std::string("xdotool key ") + key), 0);
      dialog = nextWindow(app, before, dialog);
      ASSERT_FALSE(dialog.empty()) << "the page did not ask again after " << key;
    }
    ASSERT_TRUE(hasKeyboard(dialog));
    ASSERT_TRUE(way.act({app, before, dialog}));
    if (!run.app->waitUntilExit(30s)) {
      FAIL() << "the application still runs (see " << e2e::screenshot("script-dialog-quit") << ")";
    }
    const int status = *run.app->terminationStatus();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended with status " << status;
    for (pid_t core : run.corePIDs())
      EXPECT_TRUE(run.waitUntilCoreGone(core, 10s)) << "the core " << core << " runs on";
  }
}

// From the second dialog of a row, the dialog offers to stop the page's dialogs. Once the user has
// chosen so, the page's alerts, confirms and prompts are answered at once as cancelled, until the
// page loads again.
TEST(ScriptDialogs, ARowOfDialogsIsStoppedFromTheDialogUntilThePageLoadsAgain) {
  e2e::DesktopRun run;
  std::vector<std::string> before;
  ASSERT_TRUE(startWithPage(run, before));
  const pid_t app = run.app->processIdentifier();
  askInARow(run, "confirm");

  std::string first = nextWindow(app, before);
  ASSERT_FALSE(first.empty()) << "no dialog appeared";
  ASSERT_TRUE(e2e::waitUntil([&] { return dialogShowsLine(app, "confirm 0"); }, 10s)) << dialogLabels(app);
  EXPECT_FALSE(dialogShowsLine(app, stopChoice)) << "the first dialog offers to stop the page's dialogs";
  // The choice's key does nothing where there is no choice: Return answers OK.
  ASSERT_TRUE(hasKeyboard(first));
  ASSERT_TRUE(e2e::answerable(app));
  ASSERT_EQ(e2e::shell("xdotool key alt+d Return"), 0);

  std::string second = nextWindow(app, before, first);
  ASSERT_FALSE(second.empty()) << "the page did not ask again";
  ASSERT_TRUE(e2e::waitUntil([&] { return dialogShowsLine(app, "confirm 1"); }, 10s)) << dialogLabels(app);
  EXPECT_TRUE(e2e::waitUntil([&] { return dialogShowsLine(app, stopChoice); }, 10s))
      << "the second dialog of the row does not offer to stop them:\n"
      << dialogLabels(app);
  e2e::screenshot("script-dialog-stop-choice");
  ASSERT_TRUE(hasKeyboard(second));
  ASSERT_TRUE(e2e::answerable(app));
  ASSERT_EQ(e2e::shell("xdotool key alt+d Return"), 0);

  json expected = json::array({true, true});
  for (int i = 2; i < rowLength; ++i) expected.push_back(false);
  EXPECT_TRUE(e2e::waitForPageEvent(run, "main", "dialog-loop-ended", [&](const json& detail) {
    return detail["answers"] == expected;
  })) << "the rest of the row was not answered as cancelled";
  EXPECT_TRUE(e2e::waitUntil([&] { return newWindows(app, before).empty(); }, 10s)) << "a dialog stays open";

  // Still the same page: a prompt is answered null without being shown.
  run.request("POST", "/__test/events",
              {{"data", json{{"dialog", {{"id", "stopped"}, {"kind", "prompt"}, {"value", "seed"}}}}.dump()}});
  EXPECT_TRUE(e2e::waitForPageEvent(run, "main", "dialog-answered", [&](const json& detail) {
    return detail.value("id", "") == "stopped" && detail["answer"].is_null();
  }));
  EXPECT_TRUE(newWindows(app, before).empty()) << "a dialog of the stopped page was shown";

  // Loaded again, the page may ask again, and its first dialog is not one of a row.
  const size_t streams = e2e::eventStreamsOpened(run);
  run.request("POST", "/__test/events", {{"data", json{{"reload", true}}.dump()}});
  ASSERT_TRUE(run.waitUntil([&] { return e2e::eventStreamsOpened(run) > streams; }, 30s)) << "the page did not load";
  run.request("POST", "/__test/events",
              {{"data", json{{"dialog", {{"id", "reloaded"}, {"kind", "confirm"}, {"message", "Again?"}}}}.dump()}});
  std::string again = nextWindow(app, before);
  ASSERT_FALSE(again.empty()) << "the page loaded again cannot show a dialog";
  ASSERT_TRUE(e2e::waitUntil([&] { return dialogShowsLine(app, "Again?"); }, 10s)) << dialogLabels(app);
  EXPECT_FALSE(dialogShowsLine(app, stopChoice));
  ASSERT_TRUE(hasKeyboard(again));
  ASSERT_TRUE(e2e::answerable(app));
  ASSERT_EQ(e2e::shell("xdotool key Return"), 0);
  EXPECT_TRUE(e2e::waitForPageEvent(run, "main", "dialog-answered", [&](const json& detail) {
    return detail.value("id", "") == "reloaded" && detail["answer"] == true;
  }));
}

}  // namespace script_dialogs_e2e
