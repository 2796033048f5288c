// A full-screen program on the normal screen (less -X, top) redraws all of it from the first row
// after a resize. The rows the resize moved from the screen into the scrollback are then a copy
// of its old screen, and go once it has put their text back; rows a shell's output leaves there
// stay, and so do they when the program homes the cursor only to write a line at the top, or
// clears the screen to write something else.
#include <gtest/gtest.h>

#include <random>
#include <set>
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

// A pager's redraw at 5 columns, its lines cut (less -S), its prompt erased to the end.
const std::string narrowRedraw = "aaaaa\r\nbbbbb\r\nccccc\r\n:\x1b[K";
const std::vector<std::string> promptOnly = {"$ pag", "+er"};
const std::vector<std::string> pageKept = {"$ pag", "+er", "aaaaa", "+aaaaa", "bbbbb"};

// A shell's twelve lines on 20x10, one to a row: a shorter screen pushes the first ones up.
const std::string twelveLines = "L1\r\nL2\r\nL3\r\nL4\r\nL5\r\nL6\r\nL7\r\nL8\r\nL9\r\nL10\r\nL11\r\nL12";
std::vector<std::string> firstLines(int count) {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; i++) lines.push_back(std::string(1, 'L').append(std::to_string(i)));
  return lines;
}

// A monitor's screen on 30x6 below the command that started it; each line is short of the width,
// as the monitor cuts them, and its figures change from one draw to the next.
const std::string monitor =
    "$ top\r\ntop - 10:00:59 up 3 min\r\nTasks: 93 total, 1 running\r\n\r\n  PID USER  %CPU COMMAND\r\n"
    "    1 root   0.0 init\r\n   42 root   1.5 sshd";
// Its draw at 15 columns, a second later.
const std::string monitorRedraw =
    "\x1b[Htop - 10:01:00 \x1b[K\r\nTasks: 94 total\x1b[K\r\n\x1b[K\r\n  PID USER  %CP\x1b[K\r\n"
    "    1 root   0.\x1b[K\r\n   42 root   2.\x1b[K";

const Case kCases[] = {
    // The program puts the rows' text back: they are a copy.
    {"PagerErasesAndRedraws", {{5, 4}}, "\x1b[H\x1b[2J" + narrowRedraw, promptOnly},
    {"PagerWrapsItsLines", {{5, 4}}, "\x1b[H\x1b[2Jaaaaa\r\naaaaa\r\nbbbbb\r\n:\x1b[K", promptOnly},
    {"MonitorOverwritesFromHome", {{5, 4}}, "\x1b[1;1H" + narrowRedraw, promptOnly},
    {"DragInSteps", {{8, 4}, {7, 4}, {5, 4}}, "\x1b[H\x1b[2J" + narrowRedraw, promptOnly},
    {"ShorterScreen", {{10, 3}}, "\x1b[H\x1b[2Jaaaaaaaaaa\r\nbbbbbbbbbb\r\n:\x1b[K", {"$ pager"}},
    // top: every row from the top down, each ended by erasing the rest of it; its clock and
    // counters have moved on since its last draw.
    {"MonitorRedrawsRowByRow", {{15, 6}}, monitorRedraw, {"$ top"}, nullptr, monitor, {30, 6}},
    {"MonitorDraggedInSteps", {{25, 6}, {20, 6}, {15, 6}}, monitorRedraw, {"$ top"}, nullptr, monitor, {30, 6}},
    {"ListShorterThanTheScreen",
     {{15, 6}},
     "\x1b[Htop - 10:01:00 \x1b[K\r\nTasks: 94 total\x1b[K\r\n\x1b[J",
     {"$ top"},
     nullptr,
     monitor,
     {30, 6}},
    // Saved lines a taller screen shows go back above it before the redraw erases them.
    {"TallerScreenGivesBackTheSavedLines", {{10, 6}}, "\x1b[H\x1b[2J" + page.substr(9), {"$ pager"}},
    {"TallerScreenRedrawnRowByRow",
     {{10, 6}},
     "\x1b[Ha\x1b[K\r\nb\x1b[K\r\nc\x1b[K\r\n\x1b[K\r\n\x1b[K\r\n:\x1b[K",
     {"$ pager"}},
    // A shell redraws its prompt first; what it homes the cursor for later is no redraw.
    {"PrintFirstKeepsTheRows", {{5, 4}}, "\r:\x1b[K\x1b[H", pageKept},
    {"ScrollFirstKeepsTheRows", {{5, 4}}, "\r\n\x1b[H", {"$ pag", "+er", "aaaaa", "+aaaaa", "bbbbb", "+bbbbb"}},
    {"HomeElsewhereKeepsTheRows", {{5, 4}}, "\x1b[2;1H", pageKept},
    // Homing the cursor to write at the top redraws nothing: the rows are the shell's history.
    {"StatusLineInTheCorner", {{5, 4}}, "\0337\x1b[1;1HSTATUS\0338\0337\x1b[1;1HSTATUS\0338", pageKept, ":"},
    {"CursorPlacedHomeThenText", {{5, 4}}, "\x1b[1;1Hhello\r\n", pageKept},
    {"PromptWithATopBar", {{5, 4}}, "\0337\x1b[H\x1b[7mbar\x1b[K\x1b[m\0338\r$ \x1b[K", pageKept, "$"},
    {"ClearAfterAStatusLine", {{5, 4}}, "\0337\x1b[1;1HSTATUS\0338\x1b[H\x1b[2J", pageKept},
    {"RedrawStoppedShort", {{5, 4}}, "\x1b[Htop\x1b[K\r\n\x1b[4;1H:\x1b[K", pageKept},
    {"EraseAfterTheFirstRows", {{5, 4}}, "\x1b[Htop\x1b[K\r\n\x1b[3;1H\x1b[J", pageKept},
    // Every row drawn, or the screen erased, but with other text than the rows held: erasing or
    // writing something else is no redraw of them.
    {"RedrawOfOtherText", {{5, 4}}, "\x1b[Htop\x1b[K\r\n\x1b[K\r\nPID\x1b[K\r\n1\x1b[K", pageKept},
    {"ShorterScreenShowsOtherText", {{10, 3}}, "\x1b[H\x1b[2Jcccccccccc\r\n:\x1b[K", {"$ pager", "aaaaaaaaaa"}},
    // The top row read as the copy's first before the program drew it: no sign of a redraw.
    {"TopRowAlreadyLikeTheCopy",
     {{10, 3}},
     "\x1b[H\x1b[1;6H\x1b[K\r\nnew\x1b[K\r\n:\x1b[K",
     {"$ p", "=====", "x1"},
     nullptr,
     "$ p\r\n=====\r\nx1\r\n=====\r\nx2\r\n:",
     {10, 5}},
    {"ClearThenOnlyTheFirstRowAgain", {{5, 4}}, "\x1b[H\x1b[2Jaaaaa\r\nxyz\x1b[K", pageKept},
    {"ClearAfterAShrink", {{20, 5}}, "\x1b[H\x1b[2Jdone", firstLines(7), "done", twelveLines, {20, 10}},
    {"ClearAfterAShrinkThenAPrompt",
     {{20, 5}},
     "\x1b[H\x1b[2Jdone\r\n$ \x1b[K",
     firstLines(7),
     "$",
     twelveLines,
     {20, 10}},
    // One row: any text at its top touches every row of the screen.
    {"OneRowClock",
     {{20, 1}},
     "\x1b[H\0337\x1b[1;19HT\0338\0337\x1b[1;19HT\0338",
     firstLines(11),
     "L12               T",
     twelveLines,
     {20, 10}},
    {"OneRowTopBar",
     {{20, 1}},
     "\0337\x1b[Hbar\x1b[K\0338\r\n$ ",
     [] {
       auto lines = firstLines(11);
       lines.push_back("bar");
       return lines;
     }(),
     "$",
     twelveLines,
     {20, 10}},
    // The screen stays where it is, the cursor on the row it was on.
    {"TallerScreenStatusLine", {{10, 6}}, "\0337\x1b[1;1HSTATUS\0338", {}, ":"},
    {"ShorterScreenStatusLine", {{20, 5}}, "\x1b[HSTATUS", firstLines(7), nullptr, twelveLines, {20, 10}},
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

// Shell output with resizes between and after it, and after those what status lines, clocks,
// prompts, clears and programs that draw other text write. None of them puts old text back, so
// no line that was above the screen may go, and a resize loses no line at all. Each line of the
// shell's output carries a mark, <n>; nothing else writes '<' or '>'.
struct Marks {
  std::set<int> aboveScreen;  // marks whose text lies wholly above the screen
  std::set<int> all;
};

Marks marksIn(Terminal& t) {
  Marks marks;
  Buffer& b = *t.buffer;
  std::string text;
  std::vector<int> rowOf;  // the ring row of each character of `text`
  auto scan = [&] {
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
      size_t end = at + 1;
      while (end < text.size() && text[end] >= '0' && text[end] <= '9') end++;
      if (end == at + 1 || end >= text.size() || text[end] != '>') continue;
      const int mark = std::stoi(text.substr(at + 1, end - at - 1));
      marks.all.insert(mark);
      if (rowOf[end] < b.yBase) marks.aboveScreen.insert(mark);
    }
    text.clear();
    rowOf.clear();
  };
  for (int row = 0; row < b.lines().count(); row++) {
    const BufferLine& line = *b.lines()[row];
    if (!line.isWrapped()) scan();
    for (int c = 0; c < line.count() && c < t.cols; c++) {
      const int32_t code = line[c].code;
      text += code > 0 && code < 128 ? char(code) : ' ';
      rowOf.push_back(row);
    }
  }
  scan();
  return marks;
}

class OutputAfterResizes {
 public:
  explicit OutputAfterResizes(uint32_t seed) : random(seed) {}

  std::string shellLine() { return "\r\n<" + std::to_string(++lines) + ">" + letters(0, 40); }

  // What a program other than the shell writes, in one piece.
  std::string programOutput(int cols, int rows) {
    switch (pick(9)) {
      case 0:
        return "\0337\x1b[1;" + std::to_string(1 + pick(cols)) + "H" + letters(1, 8) + "\0338";
      case 1:
        return "\x1b[H" + letters(1, 12);
      case 2:
        return "\0337\x1b[H" + letters(1, 12) + "\x1b[K\0338\r\n$ ";
      case 3:
        return "\x1b[H\x1b[2J" + letters(1, 12) + (pick(2) ? "\r\n$ \x1b[K" : "");
      case 4: {
        static const char* const erases[] = {"\x1b[K", "\x1b[1K", "\x1b[2K", "\x1b[J", "\x1b[1J", "\x1b[2J"};
        return erases[pick(6)];
      }
      case 5:
        return "\x1b[" + std::to_string(1 + pick(rows)) + ";" + std::to_string(1 + pick(cols)) + "H";
      case 6: {
        std::string redraw = "\x1b[H";
        for (int row = 0; row < rows; row++) redraw += (row ? "\r\n" : "") + letters(0, cols) + "\x1b[K";
        return redraw;
      }
      case 7:
        return pick(2) ? "\r" : "\n";
      default:
        return "\r\n$ " + letters(0, 6);
    }
  }

  std::pair<int, int> size() { return {2 + pick(29), 1 + pick(10)}; }
  int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }

 private:
  std::string letters(int min, int max) {
    std::string text(size_t(min + pick(max - min + 1)), ' ');
    for (char& c : text) c = char('a' + pick(26));
    return text;
  }
  std::mt19937 random;
  int lines = 0;
};

TEST(ResizedScreenCopy, NoLineAboveTheScreenGoesUnlessItsTextComesBack) {
  for (uint32_t seed = 1; seed <= 300; seed++) {
    OutputAfterResizes run(seed);
    const auto [cols, rows] = run.size();
    TestHost host;
    Terminal t(&host, sized(cols, rows, 100000));
    std::string steps = std::to_string(cols) + "x" + std::to_string(rows);
    for (int i = 0, count = 5 + run.pick(20); i < count; i++) t.feed(run.shellLine());
    for (int step = 0; step < 40; step++) {
      const Marks before = marksIn(t);
      const std::set<int>* kept = &before.aboveScreen;
      if (run.pick(3) == 0) {
        const auto [newCols, newRows] = run.size();
        t.resize(newCols, newRows);
        steps += " | resize " + std::to_string(newCols) + "x" + std::to_string(newRows);
        kept = &before.all;
      } else {
        const std::string output = run.pick(4) == 0 ? run.shellLine() : run.programOutput(t.cols, t.rows);
        t.feed(output);
        steps += " | " + ::testing::PrintToString(output);
      }
      const Marks after = marksIn(t);
      for (int mark : *kept) {
        ASSERT_TRUE(after.all.count(mark)) << "seed " << seed << ": <" << mark << "> lost after " << steps;
      }
    }
  }
}

}  // namespace
}  // namespace vantrelle
