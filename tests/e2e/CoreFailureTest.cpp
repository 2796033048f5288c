// A core that cannot be started again is reported where the user sees it, above the task
// terminal, and for as long as the core is gone: so the text takes room of its own, and every row
// of the terminal stays in sight beneath it.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "tests/e2e/OverlayHarness.h"

using e2e::commandOutput;
using e2e::DesktopRun;
using e2e::waitUntil;
using namespace std::chrono_literals;

namespace {

constexpr const char* failureColour = "rgb(255,143,133)";
// A background no part of the window has but the rows the test paints.
constexpr const char* rowColour = "rgb(1,254,3)";

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Where pixels of exactly this colour lie in the image, if any do.
std::optional<Box> boxOfColour(const std::string& image, const std::string& colour) {
  std::string geometry = commandOutput("convert " + image + " -fill black +opaque '" + colour +
                                       "' -fill white -opaque '" + colour + "' -format '%@' info:");
  Box box;
  if (std::sscanf(geometry.c_str(), "%dx%d+%d+%d", &box.width, &box.height, &box.x, &box.y) != 4) return std::nullopt;
  // An image without the colour trims to nothing, which ImageMagick reports as one pixel or none.
  if (box.width <= 1 || box.height <= 1) return std::nullopt;
  return box;
}

long pixelsOfColour(const std::string& image, const std::string& colour, const Box& area) {
  std::string count =
      commandOutput("convert " + image + " -crop " + std::to_string(area.width) + "x" + std::to_string(area.height) +
                    "+" + std::to_string(area.x) + "+" + std::to_string(area.y) + " +repage -fill black +opaque '" +
                    colour + "' -fill white -opaque '" + colour + "' -format '%[fx:round(mean*w*h)]' info:");
  return std::atol(count.c_str());
}

}  // namespace

TEST(CoreFailure, IsShownAboveAnOpenTaskTerminalAndHidesNoneOfItsRows) {
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

  // A full-screen program paints the first columns of every row of its terminal.
  const std::string rowsFile = run.directory + "/rows", paint = run.directory + "/paint";
  std::ofstream(paint) << "printf '\\033[2J'\nset -- $(stty size)\ni=1\nwhile [ \"$i\" -le \"$1\" ]; do\n"
                       << "  printf '\\033[%d;1H\\033[48;2;1;254;3m        \\033[0m' \"$i\"\n  i=$((i + 1))\ndone\n"
                       << "echo \"$1\" > " << rowsFile << "\nexec sleep 120\n";
  const std::string window = e2e::mainWindow(run.app->processIdentifier());
  ASSERT_FALSE(window.empty()) << "the window never showed";
  const std::string type = "xdotool windowfocus --sync " + window + " mousemove --window " + window +
                           " 1000 600 click 1 && xdotool type --delay 30 'sh " + paint + "' && xdotool key Return";
  testing::programs::require(type);
  for (int attempt = 0; attempt < 3 && readFile(rowsFile).empty(); attempt++) {
    ASSERT_EQ(std::system(type.c_str()), 0);
    waitUntil([&] { return !readFile(rowsFile).empty(); }, 5s);
  }
  const int rows = std::atoi(readFile(rowsFile).c_str());
  ASSERT_GT(rows, 0) << "keys typed into the window did not reach the terminal";

  // The failure's text shows, above the painted rows, which run unbroken from the first to the
  // last: a row under the text would break them.
  const char* keep = std::getenv("ZORVEL_E2E_SCREENSHOTS");
  const std::string shot = keep ? std::string(keep) + "/core-failure.png" : run.directory + "/window.png";
  const std::string take = "import -window " + window + " " + shot;
  testing::programs::require(take);
  std::optional<Box> text, painted;
  long unbroken = 0;
  bool shown = waitUntil(
      [&] {
        if (std::system(take.c_str()) != 0) return false;
        text = boxOfColour(shot, failureColour);
        painted = boxOfColour(shot, rowColour);
        if (!text || !painted) return false;
        unbroken = pixelsOfColour(shot, rowColour, {painted->x + painted->width / 2, painted->y, 1, painted->height});
        return unbroken == painted->height && painted->height >= rows * 8;
      },
      30s);
  ASSERT_TRUE(text) << "the failure's text is not shown";
  ASSERT_TRUE(painted) << "the terminal's rows are not shown";
  EXPECT_TRUE(shown) << "of " << painted->height << " pixels of painted rows, " << unbroken
                     << " are in sight; the text lies from y = " << text->y << " to " << text->y + text->height;
  EXPECT_LE(text->y + text->height, painted->y) << "the text is not above the terminal";
}
