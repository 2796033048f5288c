// A full-screen program on the normal screen (less -X, top) redraws all of it from the first row
// after a resize. The rows the resize moved from the screen into the scrollback are then a copy
// of its old screen and go; rows a shell's output leaves there stay.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

std::vector<std::string> scrollbackText(Terminal& t) { return ringLinesText(t, t.buffer->yBase); }

struct Case {
  const char* name;
  std::vector<std::pair<int, int>> sizes;  // the resizes, in order
  std::string after;                       // what the program writes after them
  std::vector<std::string> scrollback;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// A prompt in the scrollback and a pager's page of full rows on a 10x4 screen, its own prompt on
// the last row.
const std::string page =
    "$ pager\r\n" + std::string(10, 'a') + "\r\n" + std::string(10, 'b') + "\r\n" + std::string(10, 'c') + "\r\n:";
const std::string narrowRedraw = "aaaaa\r\nbbbbb\r\nccccc\r\n:";
const std::vector<std::string> promptOnly = {"$ pag", "+er"};
const std::vector<std::string> pageKept = {"$ pag", "+er", "aaaaa", "+aaaaa", "bbbbb"};

const Case kCases[] = {
    {"PagerErasesAndRedraws", {{5, 4}}, "\x1b[H\x1b[2J" + narrowRedraw, promptOnly},
    {"MonitorOverwritesFromHome", {{5, 4}}, "\x1b[1;1H" + narrowRedraw + "\x1b[K", promptOnly},
    {"DragInSteps", {{8, 4}, {7, 4}, {5, 4}}, "\x1b[H\x1b[2J" + narrowRedraw, promptOnly},
    {"ShorterScreen", {{10, 2}}, "\x1b[H\x1b[2Jcccccccccc\r\n:", {"$ pager"}},
    // Saved lines a taller screen shows go back above it before the redraw erases them.
    {"TallerScreenGivesBackTheSavedLines", {{10, 6}}, "\x1b[H\x1b[2J" + page.substr(9), {"$ pager"}},
    // A shell redraws its prompt first; what it homes the cursor for later is no redraw.
    {"PrintFirstKeepsTheRows", {{5, 4}}, "\r:\x1b[K\x1b[H", pageKept},
    {"ScrollFirstKeepsTheRows", {{5, 4}}, "\r\n\x1b[H", {"$ pag", "+er", "aaaaa", "+aaaaa", "bbbbb", "+bbbbb"}},
    {"HomeElsewhereKeepsTheRows", {{5, 4}}, "\x1b[2;1H", pageKept},
};

class ResizedScreenCopy : public ::testing::TestWithParam<Case> {};

TEST_P(ResizedScreenCopy, GoesOnlyWhenTheProgramRedrawsFirst) {
  const Case& c = GetParam();
  TestHost host;
  Terminal t(&host, sized(10, 4));
  t.feed(page);
  for (auto [cols, rows] : c.sizes) t.resize(cols, rows);
  t.feed(c.after);
  EXPECT_EQ(scrollbackText(t), c.scrollback);
  EXPECT_EQ(t.buffer->yDisp, t.buffer->yBase);
}

INSTANTIATE_TEST_SUITE_P(Sequences, ResizedScreenCopy, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrelle
