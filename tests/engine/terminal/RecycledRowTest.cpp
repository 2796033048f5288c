// Rows of a common width reused from a full scrollback clear only as far as they were written:
// each writer below stores past its text, and the reused rows must read blank all the same.
#include <gtest/gtest.h>

#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

// Whether every cell of `row` is empty, default in colour, with background `bg`.
bool rowBlank(Terminal& t, int row, Attribute::Color bg) { return firstUnclearedColumn(t, row, bg) == -1; }

TEST(RecycledRow, WritersPastTheTextLeaveReusedRowsBlank) {
  const char* const writers[] = {
      "ab\x1b[44m\x1b[K",                                        // erase to the end, coloured
      "ab\x1b[1G\x1b[60@",                                       // insert characters
      "x\x1b[78b",                                               // repeat to the end
      "\x1b[1;75H\x1b[41m\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad",  // wide characters wrapping
      "\t\t\t\t\t\t\t\t\tx",                                     // tabs to the last column
      "\x1b[4;1;1;2;80$x",                                       // fill a rectangle
      "\x1b[1;70Habcdefghijklm",                                 // text wrapping off the end
  };
  for (int cols : {64, 80, 132}) {
    for (const char* writer : writers) {
      TestHost host;
      Terminal t(&host, sized(cols, 2, 1));
      t.feed("a\r\nb\r\n\r\n\r\n\x1b[1;1H");
      t.feed(writer);
      t.feed("\x1b[m\x1b[2;1H");
      for (int i = 0; i < 4; i++) t.feed("\n");
      EXPECT_TRUE(rowBlank(t, 0, Attribute::Color::defaultColor) && rowBlank(t, 1, Attribute::Color::defaultColor))
          << cols << " columns, " << writer;
      t.feed("\x1b[1;1H");
      t.feed(writer);
      t.feed("\x1b[m\x1b[2;1H\x1b[45m");
      for (int i = 0; i < 4; i++) t.feed("\n");
      EXPECT_TRUE(rowBlank(t, 0, Attribute::Color::ansi256(5)) && rowBlank(t, 1, Attribute::Color::ansi256(5)))
          << cols << " columns, coloured, " << writer;
    }
  }
}

}  // namespace
}  // namespace vantrelle
