// Quitting ends every process the application started, directly or through others, whatever its
// page is doing: a page that runs a script without end, or asks one alert after another, holds
// neither the application nor any of its processes. The keys the menu shows for Quit work while
// such a page has the keyboard, as the menu itself does.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/DesktopHarness.h"
#include "tests/e2e/OverlayHarness.h"

namespace quitting_e2e {

using nlohmann::json;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long after Quit the last of the application's processes may still run.
constexpr auto allGoneWithin = 3s;

// A process as it was seen: its start time tells it from a later one that was given its id.
struct Seen {
  pid_t pid;
  unsigned long long started;
  std::string name;
};

// The fields of /proc/<pid>/stat after the name, which may hold spaces of its own.
std::vector<std::string> statFields(pid_t pid) {
  auto stat = e2e::procText(pid, "stat");
  std::vector<std::string> fields;
  if (!stat) return fields;
  auto close = stat->rfind(')');
  if (close == std::string::npos) return fields;
  std::istringstream rest(stat->substr(close + 2));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

// In clock ticks since the system started; fields 22, 14 and 15 of the stat file.
std::optional<unsigned long long> startTime(pid_t pid) {
  auto fields = statFields(pid);
  return fields.size() > 19 ? std::optional(std::stoull(fields[19])) : std::nullopt;
}

unsigned long long processorTime(pid_t pid) {
  auto fields = statFields(pid);
  return fields.size() > 12 ? std::stoull(fields[11]) + std::stoull(fields[12]) : 0;
}

bool stillRuns(const Seen& process) {
  return e2e::processExists(process.pid) && startTime(process.pid) == process.started;
}

// Adds the processes now descended from the application that were not seen before. Those seen keep
// their place in the list after they have left the application's tree, as a process does whose
// parent has gone.
void notice(pid_t app, std::vector<Seen>& seen) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    pid_t pid = std::atoi(entry.path().filename().c_str());
    if (pid <= 0 || pid == app) continue;
    bool descends = false;
    for (pid_t p = e2e::parentOf(pid); p > 1 && !descends; p = e2e::parentOf(p)) descends = p == app;
    auto started = startTime(pid);
    if (!descends || !started) continue;
    if (std::none_of(seen.begin(), seen.end(), [&](auto& s) { return s.pid == pid && s.started == *started; }))
      seen.push_back({pid, *started, e2e::procText(pid, "comm").value_or("?")});
  }
}

// What the test knows when the user acts: the application, its main window and the dialog shown.
struct Scene {
  e2e::DesktopRun& run;
  std::string window;
  std::string dialog;  // none while the page spins
};

// The page's state that should not keep anything running.
struct Page {
  const char* name;
  std::function<::testing::AssertionResult(Scene&)> hold;
};

// A window of the application that it did not show before: a dialog, or the menu.
std::string newWindow(pid_t app, const std::vector<std::string>& before) {
  std::string found;
  e2e::waitUntil(
      [&] {
        for (auto& window : e2e::visibleWindows(app)) {
          if (std::find(before.begin(), before.end(), window) == before.end()) found = window;
        }
        return !found.empty();
      },
      20s);
  return found;
}

// The web processes' time on the processor, in clock ticks.
unsigned long long webProcessorTime(pid_t app) {
  unsigned long long ticks = 0;
  for (pid_t web : e2e::webProcessesOf(app)) ticks += processorTime(web);
  return ticks;
}

// The page, with the keyboard and the pointer over it, starts a script that never returns.
::testing::AssertionResult runAScriptWithoutEnd(Scene& scene) {
  const pid_t app = scene.run.app->processIdentifier();
  if (e2e::shell("xdotool mousemove --window " + scene.window + " 600 560 click 1") != 0)
    return ::testing::AssertionFailure() << "could not click into the page";
  if (!e2e::commandMainPage(scene.run, {{"busy", {{"after_ms", 100}}}}))
    return ::testing::AssertionFailure() << "the page did not take the command";
  // Spinning shows as time on the processor: half a second of it is no start-up's.
  const auto before = webProcessorTime(app);
  const auto spun = static_cast<unsigned long long>(::sysconf(_SC_CLK_TCK)) / 2;
  if (!e2e::waitUntil([&] { return webProcessorTime(app) > before + spun; }, 30s))
    return ::testing::AssertionFailure() << "no page process spins";
  return ::testing::AssertionSuccess();
}

// The page opens an alert as soon as the last is answered; the dialog has the keyboard.
::testing::AssertionResult askOneAlertAfterAnother(Scene& scene) {
  const pid_t app = scene.run.app->processIdentifier();
  const auto before = e2e::visibleWindows(app);
  scene.run.request(
      "POST", "/__test/events",
      {{"data", json{{"dialog_loop", {{"id", "row"}, {"kind", "alert"}, {"times", 1000000000}}}}.dump()}});
  scene.dialog = newWindow(app, before);
  if (scene.dialog.empty()) return ::testing::AssertionFailure() << "no dialog appeared";
  if (!e2e::waitUntil([&] { return e2e::commandOutput("xdotool getwindowfocus") == scene.dialog + "\n"; }, 10s))
    return ::testing::AssertionFailure() << "the dialog did not take the keyboard";
  return ::testing::AssertionSuccess();
}

// For a click of the user's, the page opens what the opening names (its print dialog, the chooser of
// one of its fields, a picker of the application's, the question before it is left); the dialog has
// the keyboard.
std::function<::testing::AssertionResult(Scene&)> openOnAPress(const json& opening) {
  return [opening](Scene& scene) -> ::testing::AssertionResult {
    const pid_t app = scene.run.app->processIdentifier();
    const auto before = e2e::visibleWindows(app);
    if (!e2e::pressToOpen(scene.run, opening)) return ::testing::AssertionFailure() << "could not press the page";
    scene.dialog = newWindow(app, before);
    if (scene.dialog.empty()) return ::testing::AssertionFailure() << "no dialog appeared";
    // The engine's colour chooser does not take the keyboard where no window manager gives it:
    // the user clicks into it first.
    e2e::focusWindow(scene.dialog);
    if (!e2e::waitUntil([&] { return e2e::commandOutput("xdotool getwindowfocus") == scene.dialog + "\n"; }, 10s))
      return ::testing::AssertionFailure() << "the dialog did not take the keyboard";
    return ::testing::AssertionSuccess();
  };
}

struct Way {
  const char* name;
  std::function<bool(const Scene&)> act;
};

const std::string source = ZORVEL_SOURCE_DIR;

const std::vector<Way> ways = {
    {"Ctrl+Q", [](const Scene&) { return e2e::shell("xdotool key ctrl+q") == 0; }},
    {"Ctrl+Shift+Q", [](const Scene&) { return e2e::shell("xdotool key ctrl+shift+q") == 0; }},
    // A click on the menu bar's first title, then the last item of that menu.
    {"the menu's Quit",
     [](const Scene& scene) {
       const pid_t app = scene.run.app->processIdentifier();
       if (!scene.dialog.empty() && e2e::shell("xdotool windowmove " + scene.dialog + " 600 400") != 0) return false;
       const auto before = e2e::visibleWindows(app);
       if (e2e::shell("xdotool windowfocus --sync " + scene.window + " mousemove --window " + scene.window +
                      " 25 10 click 1") != 0)
         return false;
       return !newWindow(app, before).empty() && e2e::shell("xdotool key Up Return") == 0;
     }},
    {"closing the window",
     [](const Scene& scene) {
       return e2e::shell("/usr/bin/python3 " + source + "/tests/e2e/close-window.py " + scene.window) == 0;
     }},
    {"SIGTERM", [](const Scene& scene) { return ::kill(scene.run.app->processIdentifier(), SIGTERM) == 0; }},
    // The terminal the application was started from has gone.
    {"SIGHUP", [](const Scene& scene) { return ::kill(scene.run.app->processIdentifier(), SIGHUP) == 0; }},
};

std::string names(const std::vector<Seen>& processes) {
  std::string text;
  for (auto& process : processes) text += " " + process.name + " (" + std::to_string(process.pid) + ")";
  return text;
}

// Kills what a failed run left, and nothing that has taken one of its ids since.
void endLeftovers(const std::vector<Seen>& seen) {
  for (auto& process : seen) {
    int handle = static_cast<int>(::syscall(SYS_pidfd_open, process.pid, 0));
    if (handle < 0) continue;
    if (stillRuns(process)) ::syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0);
    ::close(handle);
  }
}

// Quits the application by each way while the page is held in its state, and finds every process
// it started gone within the bound.
void quitByEachWay(const Page& page) {
  for (const auto& way : ways) {
    SCOPED_TRACE(std::string(page.name) + ", " + way.name);
    // The file choosers are GTK's own windows, as where no portal runs.
    e2e::DesktopRun run{{{"GTK_USE_PORTAL", "0"}}};
    {
      // Started as from a terminal, whatever this test was started with: a hang-up it was told to
      // ignore would stay ignored in the application.
      struct sigaction hangUp {
      }, inherited{};
      hangUp.sa_handler = SIG_DFL;
      ::sigaction(SIGHUP, &hangUp, &inherited);
      run.start();
      ::sigaction(SIGHUP, &inherited, nullptr);
    }
    ASSERT_TRUE(e2e::waitForMainPage(run, 60s)) << "the page never opened its event stream";
    const pid_t app = run.app->processIdentifier();
    Scene scene{run, e2e::mainWindow(app), ""};
    ASSERT_FALSE(scene.window.empty()) << "the window never showed";
    e2e::focusWindow(scene.window);
    ASSERT_TRUE(page.hold(scene));

    std::vector<Seen> seen;
    notice(app, seen);
    const auto quit = Clock::now();
    ASSERT_TRUE(way.act(scene));
    // Processes started while the application quits count too.
    std::optional<Clock::duration> exited;
    e2e::waitUntil(
        [&] {
          if (!exited && run.app->isRunning()) notice(app, seen);
          if (!exited && !run.app->isRunning()) exited = Clock::now() - quit;
          return exited && std::none_of(seen.begin(), seen.end(), stillRuns);
        },
        std::chrono::duration_cast<std::chrono::milliseconds>(allGoneWithin));
    const auto lastGone = Clock::now() - quit;
    std::vector<Seen> running;
    std::copy_if(seen.begin(), seen.end(), std::back_inserter(running), stillRuns);
    const auto ms = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };
    std::printf("[ quitting ] %s, %s: %zu processes, application ended after %s, last one after %lld ms\n", page.name,
                way.name, seen.size(), exited ? (std::to_string(ms(*exited)) + " ms").c_str() : "no end",
                static_cast<long long>(ms(lastGone)));

    EXPECT_TRUE(exited) << "the application still runs (see " << e2e::screenshot("quitting") << ")";
    EXPECT_TRUE(running.empty()) << "still running " << ms(allGoneWithin) << " ms after Quit:" << names(running);
    EXPECT_GE(std::count_if(seen.begin(), seen.end(), [](auto& s) { return s.name.rfind("WebKitWebProces", 0) == 0; }),
              2)
        << "the page processes were not among those seen:" << names(seen);
    // The page processes ended on purpose: nothing failed.
    for (auto& request : run.ofType("request"))
      EXPECT_NE(request.value("path", ""), "/diagnostics/error-events") << "quitting was reported as a failure";
    endLeftovers(seen);
    if (exited && run.app->waitUntilExit(10s)) {
      const int status = *run.app->terminationStatus();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended with status " << status;
    }
  }
}

TEST(Quitting, EveryWayEndsEveryProcessWhileThePageRunsAScriptWithoutEnd) {
  quitByEachWay({"a script without end", runAScriptWithoutEnd});
}

TEST(Quitting, EveryWayEndsEveryProcessWhileThePageAsksOneAlertAfterAnother) {
  quitByEachWay({"one alert after another", askOneAlertAfterAnother});
}

// No dialog a page can have opened holds the application: none runs a loop of its own, and each
// hears the Quit keys and leaves the main window's menu and closing in reach.
TEST(Quitting, EveryWayEndsEveryProcessWhileAPrintDialogIsUp) {
  quitByEachWay({"a print dialog", openOnAPress({{"how", "print"}, {"times", 1000}})});
}

TEST(Quitting, EveryWayEndsEveryProcessWhileAFileChooserIsUp) {
  quitByEachWay({"a file chooser", openOnAPress({{"how", "file"}})});
}

TEST(Quitting, EveryWayEndsEveryProcessWhileAColourChooserIsUp) {
  quitByEachWay({"a colour chooser", openOnAPress({{"how", "color"}})});
}

TEST(Quitting, EveryWayEndsEveryProcessWhileAPickerIsUp) {
  quitByEachWay({"a picker", openOnAPress({{"how", "post"},
                                           {"href", json{{"kind", "pick-executable"}, {"agent", "codex"}}.dump()}})});
}

TEST(Quitting, EveryWayEndsEveryProcessWhileTheQuestionBeforeLeavingIsUp) {
  quitByEachWay({"the question before leaving", openOnAPress({{"how", "leave"}})});
}

}  // namespace quitting_e2e
