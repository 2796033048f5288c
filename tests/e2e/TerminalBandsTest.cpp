// Whatever the window shows above a task terminal (a page error, the core starting again, the
// core's failure) takes rows the program is told it no longer has, and hides none it believes it
// has: a full-screen program, painting its rows anew whenever it is told of a size, shows every one
// of them whole, and gets them back when the band goes. (The terminal's own find bar floats over
// its rows instead, and tells the program nothing; the view's tests hold it to that.)
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/OverlayHarness.h"

namespace terminal_bands_e2e {

using e2e::commandOutput;
using e2e::waitUntil;
using nlohmann::json;
using namespace std::chrono_literals;

// Two backgrounds that no other part of the window has, row by row in turn.
constexpr unsigned char rowColours[2][3] = {{1, 254, 3}, {3, 1, 254}};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A full-screen program: paints each of the rows it is told of, across the whole row, and writes
// how many it painted; again on every SIGWINCH.
std::string paintScript(const std::string& rowsFile) {
  return "paint() {\n"
         "  set -- $(stty size)\n"
         "  printf '\\033[H\\033[2J'\n"
         "  i=1\n"
         "  while [ \"$i\" -le \"$1\" ]; do\n"
         "    if [ $((i % 2)) -eq 1 ]; then c='1;254;3'; else c='3;1;254'; fi\n"
         "    printf '\\033[%d;1H\\033[48;2;%sm\\033[K' \"$i\" \"$c\"\n"
         "    i=$((i + 1))\n"
         "  done\n"
         "  printf '\\033[m\\033[H'\n"
         "  echo \"$1\" > " +
         rowsFile + ".new && mv " + rowsFile + ".new " + rowsFile +
         "\n"
         "}\n"
         "trap paint WINCH\n"
         "paint\n"
         "while :; do sleep 60 & wait $!; done\n";
}

// What the user sees of the program's rows, and how many it was told it has.
struct Sight {
  int told = 0;
  std::vector<int> rows;  // the heights of the painted rows in sight, top to bottom
  std::string shot;

  // Every row told of is in sight, each as high as the others.
  bool whole() const {
    if (told <= 0 || int(rows.size()) != told) return false;
    int tallest = 0;
    for (int height : rows) tallest = std::max(tallest, height);
    for (int height : rows) {
      if (height < tallest - 1) return false;
    }
    return true;
  }
  std::string heights() const {
    std::string text;
    for (int height : rows) text += std::to_string(height) + " ";
    return text;
  }
};

class Screen {
 public:
  Screen(std::string window, std::string rowsFile) : window(std::move(window)), rowsFile(std::move(rowsFile)) {}

  // Photographs the window and reads the painted rows down a column near its right edge.
  Sight look(const std::string& name) {
    Sight sight;
    sight.told = std::atoi(readFile(rowsFile).c_str());
    sight.shot = e2e::screenshotFolder() + "/terminal-bands-" + name + ".png";
    if (e2e::shell("import -window " + window + " '" + sight.shot + "' >/dev/null 2>&1") != 0) return sight;
    int width = std::atoi(commandOutput("convert '" + sight.shot + "' -format '%w' info:").c_str());
    if (width < 200) return sight;
    std::string column = commandOutput("convert '" + sight.shot + "' -crop 1x100000+" + std::to_string(width - 150) +
                                       "+0 +repage -depth 8 rgb:-");
    int last = -1;
    for (size_t at = 0; at + 3 <= column.size(); at += 3) {
      int colour = -1;
      for (int c = 0; c < 2; c++) {
        if (std::equal(rowColours[c], rowColours[c] + 3, reinterpret_cast<const unsigned char*>(&column[at])))
          colour = c;
      }
      if (colour >= 0 && colour == last) {
        sight.rows.back()++;
      } else if (colour >= 0) {
        sight.rows.push_back(1);
      }
      last = colour;
    }
    return sight;
  }

  // Waits until the program's rows are all in sight and `told` holds of their number; `before`
  // runs ahead of each look.
  Sight waitForWholeRows(
      const std::string& name, const std::function<bool(int)>& told, std::chrono::milliseconds limit,
      const std::function<void()>& before = [] {}) {
    Sight sight;
    waitUntil(
        [&] {
          before();
          return (sight = look(name)).whole() && told(sight.told);
        },
        limit);
    return sight;
  }

 private:
  std::string window, rowsFile;
};

TEST(TerminalBands, EachBandAboveATaskTerminalTakesRowsTheProgramIsToldOf) {
  e2e::DesktopRun run{{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}}};
  const std::string notReady = run.directory + "/not-ready";
  run.environment["ZORVEL_REFCORE_NOT_READY_WHILE"] = notReady;
  run.start();
  ASSERT_TRUE(e2e::waitForMainPage(run, 60s)) << run.log();
  const pid_t app = run.app->processIdentifier();
  run.request("POST", "/__test/events", {{"data", json{{"start_task", true}}.dump()}});
  ASSERT_TRUE(waitUntil([&] { return !e2e::terminalChildrenOf(app).empty(); }, 30s)) << "no terminal was opened";

  const std::string rowsFile = run.directory + "/rows", paint = run.directory + "/paint";
  std::ofstream(paint) << paintScript(rowsFile);
  const std::string window = e2e::mainWindow(app);
  ASSERT_FALSE(window.empty()) << "the window never showed";
  // As a user would: a click into the terminal, and the command typed there.
  const std::string type = "xdotool windowfocus --sync " + window + " mousemove --window " + window +
                           " 1000 600 click 1 && xdotool type --delay 30 'sh " + paint + "' && xdotool key Return";
  for (int attempt = 0; attempt < 3 && readFile(rowsFile).empty(); attempt++) {
    ASSERT_EQ(e2e::shell(type), 0);
    waitUntil([&] { return !readFile(rowsFile).empty(); }, 5s);
  }
  Screen screen(window, rowsFile);
  const Sight first = screen.waitForWholeRows(
      "before", [](int) { return true; }, 30s);
  ASSERT_TRUE(first.whole()) << "the program's rows are not shown: " << first.heights() << "(see " << first.shot << ")";
  const int rows = first.told;

  struct Band {
    const char* name;
    std::function<void()> show;
    bool goes;  // by itself or at the user's word: the rows come back
    std::function<void()> hide = [] {};
    std::function<void()> keep = [] {};  // keeps a band that goes by itself shown while it is looked at
  };
  auto pageError = [&] {
    run.request("POST", "/__test/events",
                {{"data", json{{"post", {{"kind", "ui-error"}, {"message", "a page error"}}}}.dump()}});
  };
  const std::vector<Band> bands = {
      // Shown for five seconds after the last one.
      {"page-error", pageError, true, [] {}, pageError},
      // The ready core goes, and its replacement never says it is ready.
      {"core-starting",
       [&] {
         std::ofstream(notReady).put('\n');
         ::kill(run.corePIDs().at(0), SIGKILL);
       },
       false},
      {"core-failure",
       [&] {
         ASSERT_TRUE(run.waitUntil(
             [&] { return run.log().find("could not start a compatible core") != std::string::npos; }, 60s));
       },
       false},
  };
  for (const auto& band : bands) {
    SCOPED_TRACE(band.name);
    band.show();
    Sight shown = screen.waitForWholeRows(
        band.name, [&](int told) { return told < rows; }, 30s, band.keep);
    EXPECT_TRUE(shown.whole()) << shown.told << " rows told, in sight: " << shown.heights() << "(see " << shown.shot
                               << ")";
    EXPECT_LT(shown.told, rows) << "the program was not told of the band (see " << shown.shot << ")";
    if (!band.goes) continue;
    band.hide();
    Sight after = screen.waitForWholeRows(
        std::string(band.name) + "-gone", [&](int told) { return told == rows; }, 30s);
    EXPECT_TRUE(after.whole() && after.told == rows)
        << after.told << " rows told, in sight: " << after.heights() << "(see " << after.shot << ")";
  }
}

}  // namespace terminal_bands_e2e
