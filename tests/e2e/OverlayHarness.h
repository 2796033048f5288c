#pragma once

// The reference page reports every application event it receives to the core's echo endpoint;
// these helpers read those reports back from the core's record and drive the page through its
// event stream.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "tests/e2e/DesktopHarness.h"

namespace e2e {

struct PageEvent {
  std::string page;  // "main" or "overlay"
  std::string name;
  nlohmann::json detail;
};

inline std::vector<PageEvent> pageEvents(const DesktopRun& run) {
  std::vector<PageEvent> events;
  for (auto& request : run.ofType("request")) {
    if (request.value("path", "") != "/__test/echo" || !request["body"].is_string()) continue;
    auto body = nlohmann::json::parse(request["body"].get<std::string>(), nullptr, false);
    if (!body.is_object() || !body.contains("page_event")) continue;
    auto& event = body["page_event"];
    events.push_back({event.value("page", ""), event.value("name", ""), event["detail"]});
  }
  return events;
}

inline std::vector<PageEvent> pageEvents(const DesktopRun& run, const std::string& page, const std::string& name) {
  std::vector<PageEvent> matching;
  for (auto& event : pageEvents(run)) {
    if (event.page == page && event.name == name) matching.push_back(event);
  }
  return matching;
}

// Waits for an event of that page and name whose detail passes the check.
template <typename Check>
bool waitForPageEvent(const DesktopRun& run, const std::string& page, const std::string& name, Check check,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  return run.waitUntil(
      [&] {
        for (auto& event : pageEvents(run, page, name)) {
          if (check(event.detail)) return true;
        }
        return false;
      },
      limit);
}

inline bool mainPageListening(DesktopRun& run) {
  auto response = run.request("GET", "/__test/state");
  auto state = nlohmann::json::parse(response.body, nullptr, false);
  return state.is_object() && state.value("event_streams", 0) >= 1;
}

inline size_t eventStreamsOpened(const DesktopRun& run) {
  size_t opened = 0;
  for (auto& request : run.ofType("request")) {
    if (request.value("path", "") == "/events" && request.value("status", 0) == 200) ++opened;
  }
  return opened;
}

// Waits until the page listens on its event stream: the core records the stream once it has
// opened it.
inline bool waitForMainPage(DesktopRun& run, std::chrono::milliseconds limit) {
  return run.waitUntil([&] { return eventStreamsOpened(run) >= 1; }, limit) && mainPageListening(run);
}

// Has the main page post a message to the application, as if the page itself had sent it.
inline void postFromMainPage(DesktopRun& run, const nlohmann::json& message) {
  run.request("POST", "/__test/events", {{"data", nlohmann::json{{"post", message}}.dump()}});
}

// Sends the main page commands and waits until it has carried them out, which it says by echoing
// them back to the core.
inline bool commandMainPage(DesktopRun& run, nlohmann::json commands) {
  static int sent = 0;
  const int number = ++sent;
  commands["echo"] = true;
  commands["command_number"] = number;
  run.request("POST", "/__test/events", {{"data", commands.dump()}});
  return run.waitUntil(
      [&] {
        for (auto& request : run.ofType("request")) {
          if (request.value("path", "") != "/__test/echo" || !request["body"].is_string()) continue;
          auto body = nlohmann::json::parse(request["body"].get<std::string>(), nullptr, false);
          if (body.is_object() && body["ack"].is_object() && body["ack"].value("command_number", 0) == number) {
            return true;
          }
        }
        return false;
      },
      std::chrono::seconds(20));
}

// Runs a shell command; a program it runs that is missing fails the test at once.
inline int shell(const std::string& command) {
  testing::programs::require(command);
  return std::system(command.c_str());
}

// The visible X windows that xdotool's search finds, in the order it lists them. The search walks
// the whole window tree, and a window that goes away meanwhile (a pop-up, a tooltip, a dialog
// closing) ends it with an X error and nothing found; such a search is made again, so an empty
// list means that no such window is shown, not that one went away somewhere else.
inline std::vector<std::string> windowList(const std::string& search) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::vector<std::string> windows;
    bool complete = true;
    std::istringstream lines(commandOutput("xdotool search --onlyvisible " + search + " 2>&1"));
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
        windows.push_back(line);
      } else {
        complete = false;  // the search's error report: it found nothing
      }
    }
    if (complete) return windows;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "every search of the windows (" << search << ") failed for 10 s";
      return {};
    }
  }
}

inline std::vector<std::string> visibleWindows(pid_t pid) { return windowList("--pid " + std::to_string(pid)); }

// Waits for the application's main window to show and gives it; empty if it does not in time.
// Commands then name it rather than search for it (`search --sync`), as such a search fails too.
inline std::string mainWindow(pid_t app, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  std::vector<std::string> windows;
  waitUntil(
      [&] { return !(windows = windowList("--all --pid " + std::to_string(app) + " --name '^Zorvel$'")).empty(); },
      limit);
  return windows.empty() ? std::string() : windows.front();
}

inline void focusWindow(const std::string& window) {
  shell("xdotool windowraise " + window + " windowfocus --sync " + window + " >/dev/null 2>&1");
}

// Lays a button over the whole page whose click opens what the page's opening names ("how",
// "href", "times"), and clicks it as the user would, away from where the application's dialogs
// show. The window is given the keyboard first, as a window manager does for a click: without one,
// a dialog the application showed before would keep it.
inline bool pressToOpen(DesktopRun& run, nlohmann::json opening) {
  opening["open"] = true;
  if (!opening.contains("href")) opening["href"] = "";
  if (!commandMainPage(run, {{"link", opening}})) return false;
  const std::string window = mainWindow(run.app->processIdentifier());
  if (window.empty()) return false;
  focusWindow(window);
  return shell("xdotool mousemove --window " + window + " 1000 700 click 1") == 0;
}

// Whether the window is shown now, asked of the window itself: one that is gone or unmapped is
// not. A search of the tree, which fails when another window goes away during it, cannot say.
inline bool isViewable(const std::string& window) {
  return commandOutput("xwininfo -id " + window + " 2>/dev/null").find("Map State: IsViewable") != std::string::npos;
}

// The folder of this program's screenshots, made at the first: a folder of its own, so that tests
// running at once keep theirs apart. It goes with the program when all its tests passed, and is
// kept and named for a look at what a failing test saw.
inline const std::string& screenshotFolder() {
  static const struct Folder {
    Folder() {
      std::error_code error;
      std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
      std::string pattern = ((error ? "/tmp" : temporary) / "zorvel-e2e-screens-XXXXXX").string();
      if (::mkdtemp(pattern.data())) path = pattern;
    }
    ~Folder() {
      if (path.empty()) return;
      std::error_code error;
      if (testing::UnitTest::GetInstance()->Passed()) {
        std::filesystem::remove_all(path, error);
      } else {
        std::fprintf(stderr, "The screenshots are kept in %s\n", path.c_str());
      }
    }
    std::string path;
  } folder;
  return folder.path;
}

// Waits until a dialog of the application can be answered with the button of that label: a dialog
// holds its answer back for a moment after it comes up, and takes no key pressed meanwhile.
inline bool answerable(pid_t app, const std::string& button = "OK",
                       std::chrono::milliseconds limit = std::chrono::seconds(15)) {
  const std::string command = "timeout 10 /usr/bin/python3 " + std::string(ZORVEL_SOURCE_DIR) +
                              "/tests/e2e/labels.py answers " + std::to_string(app);
  const std::string line = "\n" + button + "\n";
  return waitUntil(
      [&] {
        std::string buttons = "\n";
        buttons += commandOutput(command);
        return buttons.find(line) != std::string::npos;
      },
      limit);
}

// Gives the page the keyboard as the user would: a click on a part of it that no terminal covers
// and that holds nothing to press (the foot of its sidebar).
inline void clickThePage(const std::string& window) {
  shell("xdotool mousemove --window " + window + " 150 700 click 1");
}

// Takes a screenshot of the whole display into this program's folder; returns the file's path.
inline std::string screenshot(const std::string& name) {
  const std::string file = screenshotFolder() + "/" + name + ".png";
  shell("import -window root '" + file + "' >/dev/null 2>&1");
  return file;
}

}  // namespace e2e
