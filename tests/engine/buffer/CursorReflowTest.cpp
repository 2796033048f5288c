#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::rowText;
using testing::sized;
using testing::TestHost;

struct Size {
  int cols;
  int rows;
};

// A resize must keep the line the cursor is on, and the cursor on its character: `tail` is
// printed after the resizes and must land right after (or over) that character.
struct Case {
  const char* name;
  Size start;
  int scrollback;
  const char* stream;
  std::vector<Size> sizes;
  const char* tail;
  const char* screen;  // the screen's rows, "|" for a new line and "+" for a wrapped one
};

std::string screenRows(Terminal& t) {
  std::string text;
  for (int row = 0; row < t.rows; row++) {
    text.push_back(t.getLine(row)->isWrapped() ? '+' : '|');
    text.append(rowText(t, row));
  }
  while (text.size() >= 1 && text.back() == '|') text.pop_back();
  return text;
}

std::string run(const Case& c, size_t step) {
  TestHost host;
  Terminal t(&host, sized(c.start.cols, c.start.rows, c.scrollback));
  testing::feedInSteps(t, c.stream, step);
  for (const Size& size : c.sizes) t.resize(size.cols, size.rows);
  testing::feedInSteps(t, c.tail, step);
  return screenRows(t);
}

void expectEachCase(std::span<const Case> cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(run(c, std::string_view(c.stream).size() + std::string_view(c.tail).size()), c.screen) << c.name;
    EXPECT_EQ(run(c, 1), c.screen) << c.name << ", fed a byte at a time";
  }
}

TEST(CursorReflow, TheCursorLineKeepsItsTextAndTheCursorItsCharacter) {
  const Case cases[] = {
      {"a prompt that fills the row, narrowed", {10, 4}, 100, "$ abcdefgh", {{6, 4}}, "X", "|$ abcd+efghX"},
      {"narrowed and widened back", {10, 4}, 100, "$ abcdefghijkl", {{7, 4}, {10, 4}}, "X", "|$ abcdefgh+ijklX"},
      {"the cursor moved back inside the line", {10, 4}, 100, "$ abcdefghijkl\b\b", {{20, 4}}, "X", "|$ abcdefghijXl"},
      {"widened past a join, then narrowed",
       {10, 4},
       100,
       "$ abcdefghijkl",
       {{30, 4}, {8, 4}},
       "X",
       "|$ abcdef+ghijklX"},
      {"the pending wrap after a full row, rows only", {10, 4}, 100, "0123456789", {{10, 5}}, "X", "|0123456789+X"},
      {"the pending wrap after a full row, narrowed", {10, 4}, 100, "0123456789", {{5, 4}}, "X", "|01234+56789+X"},
      {"a text that fits the narrower row exactly", {10, 4}, 100, "abcdef", {{6, 4}}, "X", "|abcdef+X"},
      {"a wide character moved on by a narrower row",
       {10, 4},
       100,
       "abcdefgh中",
       {{9, 4}, {10, 4}},
       "X",
       "|abcdefgh中+X"},
      {"a wide character after the gap", {10, 4}, 100, "abcdefghi中x", {{13, 4}}, "X", "|abcdefghi中xX"},
      {"a combining mark joined at the last column",
       {10, 4},
       100,
       "abcdefghie\xcc\x81",
       {{5, 4}},
       "X",
       "|abcde+fghie\xcc\x81+X"},
      {"the cursor line starts at the top of the screen",
       {10, 4},
       100,
       "a\r\nb\r\nc\r\nd\r\n\x1b[H\x1b[J$ abcdefgh",
       {{4, 4}, {10, 4}},
       "X",
       "|$ abcdefgh+X"},
      {"text below the cursor stays when rows are added above it",
       {10, 4},
       100,
       "0123456789ab\r\ncursor\r\nbelow\x1b[3;1H",
       {{4, 4}},
       "X",
       "|Xurs+or|belo+w"},
      // A line editor (bracketed paste on) redraws its line itself, from the rows it drew it on.
      {"a line editor's line is left for it to redraw",
       {10, 4},
       100,
       "\x1b[?2004h$ abcdefghijkl",
       {{6, 4}, {8, 4}},
       "",
       "|$ abcd+ijkl"},
      // The screen cannot show the cursor's row and all the rows after it: it shows the cursor's.
      {"the text after the cursor needs more rows than are below it",
       {10, 2},
       100,
       "1\r\n2\r\nabcdefghijklmnopqrst\x1b[1;3H",
       {{5, 2}},
       "X",
       "|abXde+fghij"},
      {"and a line below the group", {10, 2}, 100, "abcdefghij\r\nklmno\x1b[1;3H", {{5, 2}}, "X", "|abXde+fghij"},
      {"the rows left below come back wider",
       {10, 2},
       100,
       "abcdefghij\r\nklmno\x1b[1;3H",
       {{5, 2}, {10, 2}},
       "X",
       "|abXdefghij|klmno"},
      {"a cursor inside a continuation",
       {10, 3},
       100,
       "abcdefghijklmnopqrstuvwxyz\x1b[2;3H",
       {{4, 3}},
       "X",
       "+Xnop+qrst+uvwx"},
      {"the ring cannot hold the whole line",
       {10, 3},
       0,
       "abcdefghijklmnopqrstuvwxyz",
       {{5, 3}},
       "X",
       "+pqrst+uvwxy+zX"},
  };
  expectEachCase(cases);
}

// A line editor turns bracketed paste on just before its prompt and redraws its line from
// column 0 of the prompt's row after a resize (the tail stands for that redraw). Output a
// program left before the prompt must survive it, laid out as any other output.
#define PROMPT "\x1b[?2004h$ "
#define REDRAW "\r\x1b[K$ "
TEST(CursorReflow, OutputBeforeALineEditorsPromptSurvivesItsRedraw) {
  const Case cases[] = {
      {"narrowed", {20, 4}, 100, "aaaaaaaaaaaa" PROMPT, {{8, 4}}, REDRAW "X", "|aaaaaaaa+aaaa|$ X"},
      {"widened", {10, 4}, 100, "aaaaaaaaaaaa" PROMPT, {{20, 4}}, REDRAW "X", "|aaaaaaaaaaaa|$ X"},
      {"rows only", {20, 4}, 100, "aaaa" PROMPT, {{20, 3}}, REDRAW "X", "|aaaa|$ X"},
      {"the screen is full", {10, 2}, 100, "1\r\n2\r\naaaa" PROMPT, {{8, 2}}, REDRAW "X", "|aaaa|$ X"},
      {"the output filled its row",
       {10, 4},
       100,
       "0123456789" PROMPT "ab",
       {{5, 4}},
       "\r\x1b[K$ abX",
       "|01234+56789|$ abX"},
      {"twice", {20, 4}, 100, "aaaa" PROMPT, {{10, 4}, {12, 4}}, REDRAW "X", "|aaaa|$ X"},
      {"the screen was cleared since the prompt",
       {20, 4},
       100,
       "aaaa" PROMPT "\x1b[H\x1b[2J$ hello",
       {{10, 4}},
       "X",
       "|$ helloX"},
      {"bracketed paste was turned off", {20, 4}, 100, "aaaa" PROMPT "\x1b[?2004l", {{3, 4}}, "X", "|aaa+a$+X"},
  };
  expectEachCase(cases);
}

// Lines below the cursor (a mark a program left lower on the screen, a line editor's completion
// list under its prompt) keep their own text, and the cursor stays on its row: the rows a reflow
// adds or removes for them lie below it.
#define SAVE "\x1b\x37"
#define RESTORE "\x1b\x38"
#define BELOW(text) SAVE "\r\n" text RESTORE
TEST(CursorReflow, LinesBelowTheCursorKeepTheirTextAndTheCursorItsRow) {
  const Case cases[] = {
      {"a line whose first row is blank, narrowed and widened back",
       {20, 3},
       100,
       "$ " SAVE "\x1b[2;20HZ" RESTORE,
       {{5, 3}, {20, 3}},
       "ls\r\n",
       "|$ ls|                   Z"},
      {"the same narrowed", {20, 3}, 100, "$ " SAVE "\x1b[2;20HZ" RESTORE, {{5, 3}}, "ls", "|$ ls|+"},
      {"two long lines below a line editor's prompt, narrowed",
       {20, 4},
       100,
       "\x1b[?2004h$ " BELOW("alpha beta gamma\r\ndelta epsilon zeta"),
       {{10, 4}, {20, 4}},
       "ls",
       "|$ ls|alpha beta gamma|delta epsilon zeta"},
      {"a completion list under a line editor's prompt",
       {20, 4},
       100,
       "\x1b[?2004h$ git ch" BELOW("checkout  cherry-pick\r\nchore  check-ignore"),
       {{12, 4}},
       "X",
       "|$ git chX|checkout  ch+erry-pick|chore  check"},
      {"a line editor's prompt above a line that joins, widened",
       {10, 4},
       100,
       "x\r\n\x1b[?2004h$ " BELOW("abcdefghijklmno"),
       {{20, 4}},
       "X",
       "|x|$ X|abcdefghijklmno"},
  };
  expectEachCase(cases);
}

// Output ends its lines with a carriage return and a line feed, and a resize can fall between
// the two: the line feed must still take the cursor below the line it ended.
TEST(CursorReflow, ALineFeedAfterAResizeLeavesTheLineItEnds) {
  const Case cases[] = {
      {"narrowed", {10, 4}, 100, "abcdefgh\r", {{5, 4}}, "\nX", "|abcde+fgh|X"},
      {"a run of resizes", {10, 4}, 100, "abcdefgh\r", {{5, 4}, {4, 4}, {9, 4}}, "\nX", "|abcdefgh|X"},
      {"rows only, then narrowed", {10, 4}, 100, "abcdefgh\r", {{10, 3}, {5, 3}}, "\nX", "|abcde+fgh|X"},
      {"returned on a continuation row", {10, 4}, 100, "abcdefghijklmn\r", {{5, 4}}, "\nX", "|abcde+fghij+klmn|X"},
      {"widened", {5, 4}, 100, "abcdefgh\r", {{10, 4}}, "\nX", "|abcdefgh|X"},
  };
  expectEachCase(cases);
}

#define ACUTE "\xcc\x81"

// A combining mark that comes after a resize joins the character printed just before it,
// wherever the resize moved that character.
TEST(CursorReflow, AMarkAfterAResizeJoinsTheCharacterBeforeIt) {
  const Case cases[] = {
      {"narrowed, after a pending wrap", {10, 4}, 100, "abcdefghie", {{5, 4}}, ACUTE "X", "|abcde+fghie" ACUTE "+X"},
      {"rows only, after a pending wrap", {10, 4}, 100, "abcdefghie", {{10, 5}}, ACUTE "X", "|abcdefghie" ACUTE "+X"},
      {"widened", {10, 4}, 100, "abcdefghijkle", {{20, 4}}, ACUTE "X", "|abcdefghijkle" ACUTE "X"},
      {"a short line narrowed", {10, 4}, 100, "ab\r\ncde", {{4, 4}}, ACUTE "X", "|ab|cde" ACUTE "X"},
      {"a wide character moved on to the next row",
       {10, 4},
       100,
       "abcdefgh中",
       {{9, 4}},
       ACUTE "X",
       "|abcdefgh+中" ACUTE "X"},
      {"the cursor moved to the start of the next row",
       {10, 4},
       100,
       "abcdefghij\rabcde",
       {{5, 4}},
       ACUTE "X",
       "|abcde" ACUTE "+Xghij"},
      {"narrowed twice and widened back",
       {10, 4},
       100,
       "abcdefghie",
       {{5, 4}, {3, 4}, {10, 4}},
       ACUTE "X",
       "|abcdefghie" ACUTE "+X"},
  };
  expectEachCase(cases);
}

}  // namespace
}  // namespace vantrelle
