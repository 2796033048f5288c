// The keyboard stays where the user put it. What a page brings up on its own (a script dialog, the
// overlay, the question a link of its own asks) waits while the user types into a task terminal or
// another program, and comes up once the user is back at the page; a link the page follows raises
// nothing over another program, while one from outside the application still brings it forward.
// Typing into the page's own text field is no press that lets the page open windows.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/e2e/FileChooserHarness.h"

namespace keyboard_focus_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;

const std::string task = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
const std::string project = "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";
const std::string executableTitle = "Choose Agent Executable";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

class KeysStayWithTheUser : public ::testing::Test {
 protected:
  void SetUp() override {
    run.start();
    ASSERT_TRUE(waitForMainPage(run, 40s)) << run.log();
    app = run.app->processIdentifier();
    window = mainWindow(app);
    ASSERT_FALSE(window.empty()) << "the main window never showed";
  }

  // Starts a task terminal and has its shell run a first line typed into it, so the user types
  // there from now on.
  ::testing::AssertionResult terminalTakesKeys() {
    run.request("POST", "/__test/events", {{"data", json{{"start_task", true}}.dump()}});
    if (!waitUntil([&] { return !terminalChildrenOf(app).empty(); }, 30s))
      return ::testing::AssertionFailure() << "no terminal was started";
    // The terminal may still be taking the keyboard from the page as the first keys come.
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (typeLine("ready" + std::to_string(attempt), true)) return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "keys typed into the terminal do not reach its shell";
  }

  // Types a line into the task terminal (after a click on it, as the user would, when `click`),
  // which has its shell write the word into a file; whether the shell got the whole line.
  bool typeLine(const std::string& word, bool click) {
    const std::string file = run.directory + "/typed-" + word;
    if (click) shell("xdotool mousemove --window " + window + " 1000 400 click 1");
    shell("xdotool type --delay 20 'echo " + word + " > " + file + "' && xdotool key Return");
    return waitUntil([&] { return readFile(file) == word + "\n"; }, 10s);
  }

  std::vector<std::string> otherWindows() {
    std::vector<std::string> others;
    for (auto& shown : visibleWindows(app))
      if (shown != window) others.push_back(shown);
    return others;
  }

  // Waits until the page's request has been met one way or the other: the application says it
  // waits for the user, or something came up.
  bool met(size_t waitsBefore, const std::function<bool()>& cameUp) {
    return waitUntil([&] { return count(run.log(), waiting) > waitsBefore || cameUp(); }, 20s);
  }

  bool overlayOpened() {
    for (auto& event : pageEvents(run, "overlay", "zorvel:native-overlay-open"))
      if (event.detail.value("kind", "") == "feedback") return true;
    return false;
  }

  DesktopRun run{{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}, {"GTK_USE_PORTAL", "0"}}};
  pid_t app = 0;
  std::string window;
  const std::string waiting = "once the keyboard is back on the page";
};

// What the page asks for while the user types into a task terminal takes none of the keys; it comes
// up once the user clicks the page, and the user answers it there; a key typed as the overlay
// comes up does not answer it. Nor does the menu bar take them as the pointer passes over it.
TEST_F(KeysStayWithTheUser, WhatThePageAsksForWaitsWhileTheUserTypesInATerminal) {
  ASSERT_TRUE(terminalTakesKeys());
  // The pointer passing over the menu bar on its way leaves the keys where they were.
  shell("xdotool mousemove --window " + window + " 25 10");
  EXPECT_TRUE(typeLine("menubar", false)) << "the menu bar took the keys (see " << screenshot("focus-menubar") << ")";

  // A prompt: the password typed next is the shell's.
  size_t waits = count(run.log(), waiting);
  run.request("POST", "/__test/events",
              {{"data", json{{"dialog", {{"id", "prompt"}, {"kind", "prompt"}, {"message", "Re-enter:"}}}}.dump()}});
  ASSERT_TRUE(met(waits, [&] { return !otherWindows().empty(); }));
  EXPECT_TRUE(typeLine("hunter2secret", false)) << "the shell lost keys (see " << screenshot("focus-prompt") << ")";
  EXPECT_TRUE(otherWindows().empty()) << "the prompt came up over the terminal";
  clickThePage(window);
  std::vector<std::string> shown;
  ASSERT_TRUE(waitUntil([&] { return !(shown = otherWindows()).empty(); }, 20s)) << "the prompt never came up";
  ASSERT_TRUE(answerable(app));
  shell("xdotool type --delay 20 answer && xdotool key Return");
  EXPECT_TRUE(waitForPageEvent(run, "main", "dialog-answered", [](const json& detail) {
    return detail.value("id", "") == "prompt" && detail["answer"] == "answer";
  })) << "the page did not get what the user typed into its prompt";

  // The overlay, which covers the window and takes its keys.
  ASSERT_TRUE(typeLine("again", true));
  waits = count(run.log(), waiting);
  postFromMainPage(run, {{"kind", "open-modal-overlay"}, {"overlay", "feedback"}});
  ASSERT_TRUE(met(waits, [&] { return overlayOpened(); }));
  EXPECT_TRUE(typeLine("pw42", false)) << "the shell lost keys (see " << screenshot("focus-overlay") << ")";
  EXPECT_FALSE(overlayOpened()) << "the overlay opened over the terminal";
  clickThePage(window);
  EXPECT_TRUE(run.waitUntil([&] { return overlayOpened(); }, 20s))
      << "the overlay never opened (see " << screenshot("focus-overlay-back") << ")\n"
      << run.log();
  // A Return typed as it comes up, meant for the page, does not answer it; Escape still closes it.
  ASSERT_TRUE(run.waitUntil([&] { return !pageEvents(run, "overlay", "keyboard").empty(); }, 20s));
  shell("xdotool key Return");
  EXPECT_FALSE(run.waitUntil([&] { return !pageEvents(run, "main", "zorvel:native-overlay-result").empty(); }, 900ms))
      << "a Return typed as the overlay came up answered it";
  shell("xdotool key Escape");
  EXPECT_TRUE(run.waitUntil([&] { return !pageEvents(run, "overlay", "zorvel:native-overlay-closed").empty(); }, 20s));
}

// The clipboard capture question a link of the page asks a while after the user's click on it
// comes up only once the user is back at the page: the Return typed for the shell meanwhile does
// not answer it. A dialog the page asked for meanwhile comes once the question is answered, not with
// it; and a picker that waits for a page that reloads goes with the page.
TEST_F(KeysStayWithTheUser, ACaptureQuestionAskedAfterTheUserLeftThePageWaitsForThem) {
  ASSERT_TRUE(terminalTakesKeys());
  ASSERT_EQ(shell("(printf 'clipboard text' | timeout 60 xclip -quiet -selection clipboard -loops 1 "
                  ">/dev/null 2>&1 &)"),
            0);
  const std::string capture = "zorvel://tasks/capture?project_id=" + project;
  ASSERT_TRUE(commandMainPage(
      run, {{"link", {{"open", true}, {"how", "self"}, {"href", capture}, {"times", 1}, {"delay_ms", 2500}}}}));
  const size_t waits = count(run.log(), waiting);
  clickThePage(window);
  shell("xdotool mousemove --window " + window + " 1000 400 click 1");
  ASSERT_TRUE(met(waits, [&] { return !otherWindows().empty(); })) << run.log();
  EXPECT_TRUE(typeLine("capture", false)) << "the shell lost keys (see " << screenshot("focus-capture") << ")";
  EXPECT_TRUE(otherWindows().empty()) << "the question came up over the terminal";

  // The page asks for a dialog too meanwhile: the user who comes back answers one at a time.
  run.request("POST", "/__test/events",
              {{"data", json{{"dialog", {{"id", "later"}, {"kind", "confirm"}, {"message", "And this?"}}}}.dump()}});
  ASSERT_TRUE(met(waits + 1, [&] { return !otherWindows().empty(); }));
  clickThePage(window);
  std::vector<std::string> shown;
  ASSERT_TRUE(waitUntil([&] { return !(shown = otherWindows()).empty(); }, 20s)) << "the question never came up";
  EXPECT_FALSE(waitUntil([&] { return otherWindows().size() > 1; }, 1s))
      << "what waited came up all at once (see " << screenshot("focus-stacked") << ")";
  shell("xdotool key Escape");
  ASSERT_TRUE(waitUntil(
      [&] {
        auto now = otherWindows();
        return !now.empty() && now != shown;
      },
      20s))
      << "the dialog never came up once the question was answered";
  shell("xdotool key Escape");
  EXPECT_TRUE(waitForPageEvent(run, "main", "dialog-answered",
                               [](const json& detail) { return detail.value("id", "") == "later"; }));
  EXPECT_TRUE(waitUntil([&] { return otherWindows().empty(); }, 10s));
  for (auto& request : run.ofType("request"))
    EXPECT_NE(request.value("path", ""), "/tasks/capture") << "the clipboard was captured";

  // What a page asked for goes with it: a picker it waits to show is dropped when it reloads.
  const std::string ask = json{{"kind", "pick-executable"}, {"agent", "codex"}}.dump();
  ASSERT_TRUE(commandMainPage(run, {{"link", {{"open", true}, {"how", "post"}, {"href", ask}, {"delay_ms", 1500}}}}));
  const size_t later = count(run.log(), waiting);
  clickThePage(window);
  shell("xdotool mousemove --window " + window + " 1000 400 click 1");
  ASSERT_TRUE(met(later, [&] { return !otherWindows().empty(); }));
  EXPECT_TRUE(otherWindows().empty()) << "the picker came up over the terminal";
  const size_t streams = eventStreamsOpened(run);
  run.request("POST", "/__test/events", {{"data", json{{"reload", true}}.dump()}});
  EXPECT_TRUE(run.waitUntil(
      [&] { return run.log().find("the executable picker: the page that asked for it has gone") != std::string::npos; },
      20s));
  ASSERT_TRUE(run.waitUntil([&] { return eventStreamsOpened(run) > streams; }, 30s));
  clickThePage(window);
  ASSERT_TRUE(waitUntil([&] { return commandOutput("xdotool getwindowfocus") == window + "\n"; }, 10s));
  EXPECT_FALSE(waitUntil([&] { return !otherWindows().empty(); }, 1s))
      << "the reloaded page got the picker (see " << screenshot("focus-reloaded") << ")";
}

// Another program keeps the keyboard while the page follows a link to a task every 1.5 s and asks
// for a dialog and the overlay; a link given to the application from outside still brings it
// forward.
TEST_F(KeysStayWithTheUser, AnotherProgramKeepsItsKeysWhileThePageAsks) {
  ASSERT_TRUE(terminalTakesKeys());
  const std::string typed = run.directory + "/xterm-line";
  platform::ChildProcess::Options other;
  other.executable = testing::programs::path("xterm");
  other.arguments = {"-geometry", "80x10+0+0", "-e",
                     "/bin/sh",   "-c",        "IFS= read -r line; printf %s \"$line\" > " + typed};
  other.input = other.output = other.error = platform::ChildProcess::Stream::null;
  auto xtermProcess = platform::ChildProcess::launch(other, nullptr);
  ASSERT_TRUE(xtermProcess) << "xterm did not start";
  struct Ended {
    std::shared_ptr<platform::ChildProcess> process;
    ~Ended() {
      process->kill();
      process->waitUntilExit(std::chrono::seconds(5));
    }
  } ended{xtermProcess};
  std::vector<std::string> terminals;
  ASSERT_TRUE(waitUntil([&] { return !(terminals = windowList("--class xterm")).empty(); }, 20s)) << "no xterm";
  const std::string xterm = terminals.front();
  focusWindow(xterm);
  ASSERT_TRUE(waitUntil([&] { return commandOutput("xdotool getwindowfocus") == xterm + "\n"; }, 10s));

  const size_t waits = count(run.log(), waiting);
  ASSERT_TRUE(commandMainPage(
      run, {{"unasked", {{"how", "address"}, {"href", "zorvel://tasks/" + task + "/open"}, {"every_ms", 1500}}}}));
  ASSERT_TRUE(run.waitUntil([&] { return pageEvents(run, "main", "zorvel:open-link").size() >= 2; }, 20s));
  postFromMainPage(run, {{"kind", "open-modal-overlay"}, {"overlay", "feedback"}});
  run.request("POST", "/__test/events",
              {{"data", json{{"dialog", {{"id", "alert"}, {"kind", "alert"}, {"message", "Look here"}}}}.dump()}});
  ASSERT_TRUE(met(waits + 1, [&] { return overlayOpened() || !otherWindows().empty(); }));

  const std::string line = "the quick brown fox jumps 123";
  shell("xdotool type --delay 30 '" + line + "' && xdotool key Return");
  EXPECT_TRUE(waitUntil([&] { return readFile(typed) == line; }, 10s))
      << "the xterm got \"" << readFile(typed) << "\" (see " << screenshot("focus-xterm") << ")";
  EXPECT_TRUE(otherWindows().empty());
  EXPECT_FALSE(overlayOpened());

  // From outside, by a second launch as the desktop's handler does it: the window comes forward,
  // and with the page's keyboard in it, so does the alert that waited for it.
  auto second = run.launch({"zorvel://tasks/" + task + "/open"});
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->waitUntilExit(20s));
  EXPECT_TRUE(waitUntil(
      [&] {
        const std::string focused = commandOutput("xdotool getwindowfocus");
        for (auto& shown : visibleWindows(app))
          if (focused == shown + "\n") return true;
        return false;
      },
      20s))
      << "a link from outside did not bring the application forward";
}

// Keys typed into the page's own text field grant it nothing: with one click and seven keys behind
// it, a page that asks for eight pickers gets one, and after more typing none.
TEST_F(KeysStayWithTheUser, TypingIntoThePagesFieldOpensNoWindow) {
  const std::string ask = json{{"kind", "pick-executable"}, {"agent", "codex"}}.dump();
  ASSERT_TRUE(commandMainPage(run, {{"field", true}}));
  ASSERT_TRUE(run.waitUntil([&] { return !pageEvents(run, "main", "field-shown").empty(); }, 20s));
  clickThePage(window);
  shell("xdotool type --delay 30 abcdefg");
  ASSERT_TRUE(commandMainPage(run, {{"unasked", {{"how", "post"}, {"href", ask}, {"times", 8}}}}));
  std::vector<std::string> pickers;
  ASSERT_TRUE(waitUntil([&] { return !(pickers = windowList("--name '^" + executableTitle + "'")).empty(); }, 20s))
      << "the click opened no picker";
  const std::string refusedLine = "Not showing the executable picker";
  EXPECT_TRUE(run.waitUntil([&] { return count(run.log(), refusedLine) >= 7; }, 20s));
  pickers = windowList("--name '^" + executableTitle + "'");
  EXPECT_EQ(pickers.size(), 1u) << "the keys opened pickers (see " << screenshot("focus-field-pickers") << ")";
  for (auto& picker : pickers) {
    EXPECT_TRUE(waitUntil(
        [&] {
          if (chooserFocused(picker)) shell("xdotool key Escape");
          return chooserGone(picker, 500ms);
        },
        10s));
  }

  // Back in the field, with no click: the keys alone open nothing.
  ASSERT_TRUE(waitUntil([&] { return commandOutput("xdotool getwindowfocus") == window + "\n"; }, 10s));
  const size_t refused = count(run.log(), refusedLine + ": no click or key press");
  shell("xdotool type --delay 30 xyz");
  ASSERT_TRUE(commandMainPage(run, {{"unasked", {{"how", "post"}, {"href", ask}, {"times", 8}}}}));
  EXPECT_TRUE(
      run.waitUntil([&] { return count(run.log(), refusedLine + ": no click or key press") >= refused + 8; }, 20s));
  EXPECT_TRUE(windowList("--name '^" + executableTitle + "'").empty()) << "typing opened a picker";
}

}  // namespace keyboard_focus_e2e
