// The executable and project-folder pickers of the real application: the page asks, a person
// types a path into the chooser or cancels it, and the main page hears the chosen path or nothing.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/FileChooserHarness.h"

namespace pickers_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;

const std::string executableTitle = "Choose Agent Executable";
const std::string folderTitle = "Choose Project Folder";
const std::string project = "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";

class FilePickerWindow : public ::testing::Test {
 protected:
  // No portal: the chooser has to be GTK's own dialog, a window on this display.
  FilePickerWindow() : desktop(std::map<std::string, std::string>{{"GTK_USE_PORTAL", "0"}}) {}

  void SetUp() override {
    // Spaces and quotes in the names, so the answer's JSON has something to escape.
    repository = desktop.directory + "/work tree";
    otherRepository = desktop.directory + "/other \"tree\"";
    tool = repository + "/bin/agent-x";
    otherTool = repository + "/bin/other tool";
    std::filesystem::create_directories(repository + "/bin");
    std::filesystem::create_directories(otherRepository);
    for (auto& file : {tool, otherTool}) {
      std::ofstream(file) << "#!/bin/sh\n";
      std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    }
    desktop.start();
    ASSERT_TRUE(waitForMainPage(desktop, 40s)) << desktop.log();
  }

  std::string ask(const json& message, const std::string& title) { return askForChooser(desktop, message, title); }
  bool focused(const std::string& window) { return chooserFocused(window); }
  void enter(const std::string& window, const std::string& path) { enterInChooser(window, path); }
  bool choose(const std::string& window, const std::string& path) { return chooseInChooser(window, path); }

  // Whether the chooser stays open however often the path is entered. Nothing marks an entry the
  // chooser declined, so each is given a while to close it.
  bool refuses(const std::string& window, const std::string& path) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      enter(window, path);
      if (gone(window, 700ms)) return false;
    }
    return true;
  }

  bool gone(const std::string& window, std::chrono::milliseconds limit = 5s) { return chooserGone(window, limit); }

  // The first Escape may only close the entry's completion, so it is pressed until the chooser
  // goes away.
  bool cancel(const std::string& window) {
    return waitUntil(
        [&] {
          if (focused(window)) shell("xdotool key Escape");
          return gone(window, 500ms);
        },
        8s);
  }

  // The chooser's button labels as the accessibility bus reports them; they may come a moment after
  // the window.
  bool hasButtons(const std::string& title, const std::vector<std::string>& expected) {
    std::string command = "timeout 10 /usr/bin/python3 " + std::string(ZORVEL_SOURCE_DIR) +
                          "/tests/e2e/labels.py buttons " + std::to_string(desktop.app->processIdentifier()) + " " +
                          shellQuoted(title);
    std::string labels;
    bool found = waitUntil(
        [&] {
          labels = "\n" + commandOutput(command);
          for (auto& label : expected) {
            if (labels.find("\n" + label + "\n") == std::string::npos) return false;
          }
          return true;
        },
        10s);
    if (!found) ADD_FAILURE() << "button labels of " << title << ":\n" << labels;
    return found;
  }

  std::vector<json> answers(const std::string& name) {
    std::vector<json> details;
    for (auto& event : pageEvents(desktop, "main", name)) details.push_back(event.detail);
    return details;
  }

  bool answered(const std::string& name, const json& detail) {
    return waitForPageEvent(
        desktop, "main", name, [&](const json& d) { return d == detail; }, 10s);
  }

  DesktopRun desktop;
  std::string repository, otherRepository, tool, otherTool;
};

TEST_F(FilePickerWindow, TheExecutablePickerNamesTheAgentAndAnswersWithItUnchanged) {
  const std::string agent = "agent-x \"beta\"";
  auto window = ask({{"kind", "pick-executable"}, {"agent", agent}}, executableTitle);
  ASSERT_FALSE(window.empty()) << "no chooser appeared\n" << desktop.log();
  EXPECT_EQ(commandOutput("xdotool getwindowname " + window),
            executableTitle + " \u2014 Select the executable Zorvel should use for " + agent + ".\n");
  screenshot("picker-executable");
  EXPECT_TRUE(hasButtons(executableTitle, {"Cancel", "Choose"}));

  ASSERT_TRUE(choose(window, tool));
  ASSERT_TRUE(answered("zorvel:executable-picked", {{"agent", agent}, {"path", tool}}))
      << "answers: " << json(answers("zorvel:executable-picked"));
  EXPECT_TRUE(gone(window));
  EXPECT_TRUE(answers("zorvel:project-directory-picked").empty());
}

TEST_F(FilePickerWindow, TheExecutablePickerRefusesAFolderAndACancelSendsNothing) {
  auto window = ask({{"kind", "pick-executable"}, {"agent", "codex"}}, executableTitle);
  ASSERT_FALSE(window.empty());
  EXPECT_TRUE(refuses(window, repository)) << "a folder was accepted as the executable";
  screenshot("picker-executable-in-folder");
  ASSERT_TRUE(cancel(window));

  // Only this later choice may reach the page: nothing came of the folder or of the cancel.
  window = ask({{"kind", "pick-executable"}, {"agent", "claude"}}, executableTitle);
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(choose(window, otherTool));
  ASSERT_TRUE(answered("zorvel:executable-picked", {{"agent", "claude"}, {"path", otherTool}}));
  EXPECT_EQ(answers("zorvel:executable-picked").size(), 1u) << json(answers("zorvel:executable-picked"));
}

// One picker of each kind is open at a time, each answering for its own request: another
// executable picker, asked for with a click of its own while one is open, is refused (a page would
// otherwise stack them, each to be cancelled), and opens once that one has answered.
TEST_F(FilePickerWindow, OnePickerOfEachKindOpensAtATimeAndEachAnswersForItsOwnRequest) {
  auto first = ask({{"kind", "pick-executable"}, {"agent", "codex"}}, executableTitle);
  ASSERT_FALSE(first.empty());
  const std::string refusal = "Not showing the executable picker: one is open already";
  ASSERT_TRUE(
      pressToOpen(desktop, {{"how", "post"}, {"href", json{{"kind", "pick-executable"}, {"agent", "claude"}}.dump()}}));
  ASSERT_TRUE(desktop.waitUntil([&] { return desktop.log().find(refusal) != std::string::npos; }, 20s));
  auto folder = ask({{"kind", "pick-project-directory"}, {"project_id", project}}, folderTitle);
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(windowList("--name '^" + executableTitle + "'").size(), 1u) << "a second executable picker opened";

  ASSERT_TRUE(choose(folder, repository));
  ASSERT_TRUE(answered("zorvel:project-directory-picked", {{"path", repository}, {"project_id", project}}));
  ASSERT_TRUE(choose(first, tool));
  ASSERT_TRUE(answered("zorvel:executable-picked", {{"agent", "codex"}, {"path", tool}}));
  auto second = ask({{"kind", "pick-executable"}, {"agent", "claude"}}, executableTitle);
  ASSERT_FALSE(second.empty()) << "the picker did not open once the other had answered";
  ASSERT_TRUE(choose(second, otherTool));
  ASSERT_TRUE(answered("zorvel:executable-picked", {{"agent", "claude"}, {"path", otherTool}}));
  EXPECT_EQ(answers("zorvel:executable-picked").size(), 2u);
  EXPECT_EQ(answers("zorvel:project-directory-picked").size(), 1u);
}

TEST_F(FilePickerWindow, TheFolderPickerAnswersWithThePathAndTheProjectWhenOneWasGiven) {
  auto window = ask({{"kind", "pick-project-directory"}}, folderTitle);
  ASSERT_FALSE(window.empty()) << "no chooser appeared\n" << desktop.log();
  EXPECT_EQ(commandOutput("xdotool getwindowname " + window),
            folderTitle + " \u2014 Select the repository folder Zorvel should use.\n");
  EXPECT_TRUE(hasButtons(folderTitle, {"Cancel", "Choose"}));
  ASSERT_TRUE(choose(window, repository));
  ASSERT_TRUE(answered("zorvel:project-directory-picked", {{"path", repository}}))
      << "answers: " << json(answers("zorvel:project-directory-picked"));
  EXPECT_TRUE(gone(window));

  window = ask({{"kind", "pick-project-directory"}, {"project_id", project}}, folderTitle);
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(choose(window, otherRepository));
  ASSERT_TRUE(answered("zorvel:project-directory-picked", {{"path", otherRepository}, {"project_id", project}}))
      << "answers: " << json(answers("zorvel:project-directory-picked"));
  EXPECT_EQ(answers("zorvel:project-directory-picked").size(), 2u);
  EXPECT_TRUE(answers("zorvel:executable-picked").empty());

  // The page that asked reloads while its picker is up: what is chosen then is no answer for the
  // page loaded in its place.
  window = ask({{"kind", "pick-project-directory"}}, folderTitle);
  ASSERT_FALSE(window.empty());
  const size_t streams = eventStreamsOpened(desktop);
  desktop.request("POST", "/__test/events", {{"data", json{{"reload", true}}.dump()}});
  ASSERT_TRUE(desktop.waitUntil([&] { return eventStreamsOpened(desktop) > streams; }, 30s))
      << "the page never reloaded";
  ASSERT_TRUE(choose(window, repository));
  EXPECT_TRUE(desktop.waitUntil(
      [&] { return desktop.log().find("the page that asked for it has gone") != std::string::npos; }, 10s));
  EXPECT_EQ(answers("zorvel:project-directory-picked").size(), 2u) << "the reloaded page got another's answer";
}

TEST_F(FilePickerWindow, TheFolderPickerRefusesAFileAndACancelSendsNothing) {
  auto main = visibleWindows(desktop.app->processIdentifier());
  auto window = ask({{"kind", "pick-project-directory"}, {"project_id", project}}, folderTitle);
  ASSERT_FALSE(window.empty());
  // The chooser explains in a window of its own that only folders can be chosen.
  std::string refusal;
  auto refused = [&] {
    for (auto& shownWindow : visibleWindows(desktop.app->processIdentifier())) {
      if (shownWindow != window && std::find(main.begin(), main.end(), shownWindow) == main.end())
        refusal = shownWindow;
    }
    return !refusal.empty();
  };
  ASSERT_TRUE(waitUntil(
      [&] {
        enter(window, tool);
        return waitUntil(refused, 1500ms);
      },
      8s))
      << "a file was accepted as the folder";
  screenshot("picker-folder-refusal");
  // Like every window, it takes no key in its first moment: the user presses again.
  ASSERT_TRUE(waitUntil(
      [&] {
        focusWindow(refusal);
        shell("xdotool key Return");
        return gone(refusal, 700ms);
      },
      8s));
  EXPECT_TRUE(isViewable(window));
  ASSERT_TRUE(cancel(window));

  window = ask({{"kind", "pick-project-directory"}}, folderTitle);
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(choose(window, otherRepository));
  ASSERT_TRUE(answered("zorvel:project-directory-picked", {{"path", otherRepository}}));
  EXPECT_EQ(answers("zorvel:project-directory-picked").size(), 1u) << json(answers("zorvel:project-directory-picked"));
}

TEST_F(FilePickerWindow, QuittingWhileBothPickersAreOpenEndsTheApplicationCleanly) {
  ASSERT_FALSE(ask({{"kind", "pick-executable"}, {"agent", "codex"}}, executableTitle).empty());
  ASSERT_FALSE(ask({{"kind", "pick-project-directory"}, {"project_id", project}}, folderTitle).empty());
  desktop.app->terminate();
  ASSERT_TRUE(desktop.app->waitUntilExit(10s)) << "the open choosers held the application";
  auto status = desktop.app->terminationStatus();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
  EXPECT_TRUE(answers("zorvel:executable-picked").empty());
  EXPECT_TRUE(answers("zorvel:project-directory-picked").empty());
}

}  // namespace pickers_e2e
