// Copying text that met the right edge: a wrapped line comes back as it was printed.
#include <gtest/gtest.h>

#include "Vantrelle/Text/SelectionService.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;

struct Case {
  const char* stream;
  Position click;          // on a 10-column screen
  const char* word;        // what a double click there copies
  const char* line;        // what a triple click there copies
  const char* everything;  // what selecting all copies
};

TEST(EdgeSelection, WrappedLinesCopyAsPrinted) {
  const Case cases[] = {
      // A wide character that did not fit leaves a gap, which adds no space.
      {"abcdefghi\xe4\xb8\xadxyz", Position(0, 1), "abcdefghi\xe4\xb8\xadxyz", "abcdefghi\xe4\xb8\xadxyz",
       "abcdefghi\xe4\xb8\xadxyz"},
      {"one two th\xe4\xb8\xadxyz", Position(9, 0), "th\xe4\xb8\xadxyz", "one two th\xe4\xb8\xadxyz",
       "one two th\xe4\xb8\xadxyz"},
      // A line that ends at the last column keeps its newline; one that wraps does not.
      {"0123456789\r\nnext", Position(3, 1), "next", "next", "0123456789\nnext"},
      {"0123456789next", Position(3, 1), "0123456789next", "0123456789next", "0123456789next"},
      {"wrapped wo\r\nrd", Position(9, 0), "wo", "wrapped wo", "wrapped wo\nrd"},
      // A word cut by the edge is one word, clicked on either side.
      {"say hello.world", Position(1, 1), "hello.world", "say hello.world", "say hello.world"},
      {"say hello.world", Position(5, 0), "hello.world", "say hello.world", "say hello.world"},
      // A tab to the last column, then text that wraps.
      {"abcdefgh\tXY", Position(0, 1), "XY", "abcdefgh XY", "abcdefgh XY"},
      // A combining mark after a character printed in the last column joins it.
      {"abcdefghie\xcc\x81x", Position(0, 1), "abcdefghie\xcc\x81x", "abcdefghie\xcc\x81x", "abcdefghie\xcc\x81x"},
      {"abcdefghi\xe2\x9d\xa4\xef\xb8\x8fz", Position(0, 1), "z", "abcdefghi\xe2\x9d\xa4\xef\xb8\x8fz",
       "abcdefghi\xe2\x9d\xa4\xef\xb8\x8fz"},
  };
  for (const Case& c : cases) {
    for (size_t step : {std::string_view(c.stream).size(), size_t(1)}) {
      TestHost host;
      Terminal t(&host, sized(10, 4));
      SelectionService selection(t);
      testing::feedInSteps(t, c.stream, step);
      const std::string how = std::string(c.stream) + (step == 1 ? ", fed a byte at a time" : "");
      selection.selectWordOrExpression(c.click, *t.buffer);
      EXPECT_EQ(selection.getSelectedText(), c.word) << how;
      selection.select(c.click.row);
      EXPECT_EQ(selection.getSelectedText(), c.line) << how;
      selection.setSelection(selection.start(), selection.end());  // as the view moves it
      EXPECT_EQ(selection.getSelectedText(), c.line) << how;
      selection.selectAll();
      EXPECT_EQ(selection.getSelectedText(), c.everything) << how;
    }
  }
}

// A row erased to its end no longer runs on into the row below, so what is printed there later
// starts a line of its own: a shell that redraws its command line wider erases the rows it used.
TEST(EdgeSelection, ErasedRowsEndTheirLine) {
  const struct {
    const char* stream;
    int widenTo;  // 0: no resize
    const char* then;
    const char* text;
  } cases[] = {
      // A shell's command drawn over three rows of 10, then redrawn on one row of 30.
      {"\x1b[?2004h$ abcdefghijklmnopqrstuv", 30,
       "\r\x1b[K\r\x1b[A\x1b[K\r\x1b[A\x1b[K\r$ abcdefghijklmnopqrstuv\r\nout", "$ abcdefghijklmnopqrstuv\nout"},
      {"0123456789abc\x1b[A\r\x1b[2K", 0, "\r\nx", "\nxbc"},
      {"0123456789abc\x1b[1;4H\x1b[K", 0, "", "012\nabc"},
      {"0123456789abc\x1b[1;10H\x1b[1K", 0, "", "\nabc"},
      {"0123456789abc\x1b[1;4H\x1b[1K", 0, "", "    456789abc"},  // the row still reaches its end
  };
  for (const auto& c : cases) {
    TestHost host;
    Terminal t(&host, sized(10, 4));
    t.feed(c.stream);
    if (c.widenTo) t.resize(c.widenTo, 4);
    t.feed(c.then);
    const auto last = t.buffer->lines().count() - 1;
    EXPECT_EQ(t.getText(Position(0, 0), Position(t.cols, last)), c.text) << c.stream;
  }
}

}  // namespace
}  // namespace vantrelle
