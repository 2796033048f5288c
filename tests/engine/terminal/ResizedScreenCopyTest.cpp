// A full-screen program on the normal screen (less -X, top) redraws all of it from the first row
// after a resize. The rows the resize moved from the screen into the scrollback are then a copy
// of its old screen and go; rows a shell's output leaves there stay, and so do they when the
// program homes the cursor only to write a line at the top.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

std::vector<std::string> scrollbackText(Terminal& t) { return ringLinesText(t, t.buffer->yBase); }

std::string cursorLineText(Terminal& t) {
  std::string row;
  const BufferLine& line = *t.buffer->lines()[t.buffer->yBase + t.buffer->y];
  for (int c = 0; c < line.count() && c < t.cols; c++) row += line[c].code == 0 ? ' ' : char(line[c].code);
  while (!row.empty() && row.back() == ' ') row.pop_back();
  return row;
}

// A prompt in the scrollback and a pager's page of full rows on a 10x4 screen, its own prompt on
// the last row.
const std::string page =
    "$ pager\r\n" + std::string(10, 'a') + "\r\n" + std::string(10, 'b') + "\r\n" + std::string(10, 'c') + "\r\n:";

struct Case {
  const char* name;
  std::vector<std::pair<int, int>> sizes;  // the resizes, in order
  std::string after;                       // what the program writes after them
  std::vector<std::string> scrollback;
  const char* cursorLine = nullptr;  // the text of the cursor's row, where it matters
  std::string before = page;         // the output before the resizes
  std::pair<int, int> size = {10, 4};
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

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
    // top: every row from the top down, each ended by erasing the rest of it.
    {"MonitorRedrawsRowByRow", {{5, 4}}, "\x1b[Htop\x1b[K\r\n\x1b[K\r\nPID\x1b[K\r\n1\x1b[K", promptOnly},
    {"ListShorterThanTheScreen", {{5, 4}}, "\x1b[Htop\x1b[K\r\nPID\x1b[K\r\n\x1b[J", promptOnly},
    {"TallerScreenRedrawnRowByRow",
     {{10, 6}},
     "\x1b[Ha\x1b[K\r\nb\x1b[K\r\nc\x1b[K\r\n\x1b[K\r\n\x1b[K\r\n:\x1b[K",
     {"$ pager"}},
    // Homing the cursor to write at the top redraws nothing: the rows are the shell's history.
    {"StatusLineInTheCorner", {{5, 4}}, "\0337\x1b[1;1HSTATUS\0338\0337\x1b[1;1HSTATUS\0338", pageKept, ":"},
    {"CursorPlacedHomeThenText", {{5, 4}}, "\x1b[1;1Hhello\r\n", pageKept},
    {"PromptWithATopBar", {{5, 4}}, "\0337\x1b[H\x1b[7mbar\x1b[K\x1b[m\0338\r$ \x1b[K", pageKept, "$"},
    {"ClearAfterAStatusLine", {{5, 4}}, "\0337\x1b[1;1HSTATUS\0338\x1b[H\x1b[2J", pageKept},
    {"RedrawStoppedShort", {{5, 4}}, "\x1b[Htop\x1b[K\r\n\x1b[4;1H:\x1b[K", pageKept},
    {"EraseAfterTheFirstRows", {{5, 4}}, "\x1b[Htop\x1b[K\r\n\x1b[3;1H\x1b[J", pageKept},
    // The screen stays where it is, the cursor on the row it was on.
    {"TallerScreenStatusLine", {{10, 6}}, "\0337\x1b[1;1HSTATUS\0338", {}, ":"},
    {"ShorterScreenStatusLine",
     {{20, 5}},
     "\x1b[HSTATUS",
     {"L1", "L2", "L3", "L4", "L5", "L6", "L7"},
     nullptr,
     "L1\r\nL2\r\nL3\r\nL4\r\nL5\r\nL6\r\nL7\r\nL8\r\nL9\r\nL10\r\nL11\r\nL12",
     {20, 10}},
};

class ResizedScreenCopy : public ::testing::TestWithParam<Case> {};

TEST_P(ResizedScreenCopy, GoesOnlyWhenTheProgramRedrawsFirst) {
  const Case& c = GetParam();
  TestHost host;
  Terminal t(&host, sized(c.size.first, c.size.second));
  t.feed(c.before);
  for (auto [cols, rows] : c.sizes) t.resize(cols, rows);
  t.feed(c.after);
  EXPECT_EQ(scrollbackText(t), c.scrollback);
  EXPECT_EQ(t.buffer->yDisp, t.buffer->yBase);
  if (c.cursorLine) {
    EXPECT_EQ(cursorLineText(t), c.cursorLine);
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, ResizedScreenCopy, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrelle
