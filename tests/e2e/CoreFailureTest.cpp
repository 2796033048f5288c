// A core that cannot be started again is reported where the user sees it: above the task
// terminal, whatever the window shows.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/e2e/DesktopHarness.h"

using e2e::commandOutput;
using e2e::DesktopRun;
using e2e::waitUntil;
using namespace std::chrono_literals;

namespace {

// Pixels of exactly this colour in a part of the application's window, from a screenshot.
long pixelsOfColour(const std::string& colour, int x, int y, int width, int height, const std::string& keepAs) {
  std::string shot = keepAs.empty() ? "/tmp/zorvel-e2e-core-failure-" + std::to_string(::getpid()) + ".png" : keepAs;
  std::string take = "import -window \"$(xdotool search --sync --name '^Zorvel$' | head -1)\" " + shot;
  testing::programs::require(take);
  if (std::system(take.c_str()) != 0) return -1;
  std::string count =
      commandOutput("convert " + shot + " -crop " + std::to_string(width) + "x" + std::to_string(height) + "+" +
                    std::to_string(x) + "+" + std::to_string(y) + " +repage -fill black +opaque '" + colour +
                    "' -fill white -opaque '" + colour + "' -format '%[fx:round(mean*w*h)]' info:");
  if (keepAs.empty()) std::remove(shot.c_str());
  return std::atol(count.c_str());
}

}  // namespace

TEST(CoreFailure, IsShownAboveAnOpenTaskTerminal) {
  DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}});
  // While this file is there, a core never says it is ready: the replacement must still be
  // starting when it is killed, however long the test takes to see it.
  const std::string notReady = run.directory + "/not-ready";
  run.environment["ZORVEL_REFCORE_NOT_READY_WHILE"] = notReady;
  run.start();
  auto state = [&] {
    auto parsed = nlohmann::json::parse(run.request("GET", "/__test/state").body, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
  };
  ASSERT_TRUE(waitUntil([&] { return state().value("event_streams", 0) >= 1; }, 60s)) << run.log();
  run.request("POST", "/__test/events", {{"data", nlohmann::json{{"start_task", true}}.dump()}});
  ASSERT_TRUE(waitUntil([&] { return state().value("tasks", nlohmann::json::array()).size() == 1; }, 30s));
  ASSERT_TRUE(waitUntil([&] { return !e2e::terminalChildrenOf(run.app->processIdentifier()).empty(); }, 30s));

  // The ready core goes, and so does its replacement as soon as it has started.
  std::ofstream(notReady).put('\n');
  ::kill(run.corePIDs().at(0), SIGKILL);
  ASSERT_TRUE(run.waitUntil([&] { return run.corePIDs().size() == 2; }, 30s)) << run.log();
  ::kill(run.corePIDs().at(1), SIGKILL);
  ASSERT_TRUE(
      run.waitUntil([&] { return run.log().find("could not start a compatible core") != std::string::npos; }, 60s))
      << run.log();

  // The failure text's colour shows inside the terminal area, right of the sidebar.
  const char* keep = std::getenv("ZORVEL_E2E_SCREENSHOTS");
  EXPECT_TRUE(waitUntil(
      [&] {
        return pixelsOfColour("rgb(255,143,133)", 400, 200, 900, 400,
                              keep ? std::string(keep) + "/core-failure.png" : "") > 100;
      },
      30s));
}
