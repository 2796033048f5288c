#include <gtest/gtest.h>

#include "Vantrelle/Text/SelectionService.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;

std::string asText(const std::optional<Bytes>& data) {
  return data ? std::string(data->begin(), data->end()) : "<none>";
}

TEST(Extraction, RowsComeBackAsFed) {
  TestHost host;
  Terminal t(&host, sized(10, 4));
  // A wide character, a combined cluster, a gap and a wrapped tail.
  t.feed(
      "\xe4\xb8\xad"
      "e\xcc\x81"
      "\x1b[1Cz\r\n0123456789ab");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 0, 0, -1),
            "\xe4\xb8\xad"
            "e\xcc\x81 z");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 0, 2, 4), "e\xcc\x81 ");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 3, 0, -1), "");
  EXPECT_EQ(t.getText(Position(0, 0), Position(2, 2)),
            "\xe4\xb8\xad"
            "e\xcc\x81 z\n0123456789ab");
  EXPECT_EQ(t.getText(Position(2, 2), Position(0, 0)), t.getText(Position(0, 0), Position(2, 2)));
  EXPECT_EQ(t.getText(Position(1, 1), Position(1, 1)), "");
  EXPECT_EQ(t.getText(Position(0, 99), Position(0, 100)), "");

  // A missing cluster code reads as a space.
  t.getLine(3)->set(0, CharData(Terminal::kFirstClusterCode + 999, 1, Terminal::defaultAttribute()));
  t.getLine(3)->set(1, CharData('q', 1, Terminal::defaultAttribute()));
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 3, 0, -1), " q");
}

// What a program hid (SGR 8) reads back as the blanks it shows, a blank a column, so that a
// selection never carries it off; blanks it leaves at the end of a line are trimmed like any.
TEST(Extraction, HiddenTextReadsAsBlanks) {
  struct Case {
    const char* what;
    const char* stream;
    const char* text;
  } cases[] = {
      {"between shown words", "pw: \x1b[8mhunter2\x1b[m (hidden)", "pw:         (hidden)"},
      {"at the end of the line", "pw: \x1b[8mhunter2\x1b[m", "pw: "},
      {"a whole line", "\x1b[8mhunter2\x1b[m", ""},
      {"a wide character", "a\x1b[8m\xe4\xb8\xad\x1b[mb", "a  b"},
      {"a combined cluster", "\x1b[8me\xcc\x81\x1b[mx", " x"},
      {"until revealed", "\x1b[8ma\x1b[28mb", " b"},
      {"hidden among colours", "\x1b[31;8;1mab\x1b[22mc\x1b[28md", "   d"},
      {"across a wrap", "abcdefgh\x1b[8mijkl\x1b[mmn", "abcdefgh    mn"},
      {"the wrapped row's only text", "abcdefghij\x1b[8mkl\x1b[m\r\nz", "abcdefghij\nz"},
  };
  for (const Case& c : cases) {
    TestHost host;
    Terminal t(&host, sized(10, 4));
    t.feed(c.stream);
    EXPECT_EQ(t.getText(Position(0, 0), Position(t.cols, 3)), c.text) << c.what;
    SelectionService selection(t);
    selection.selectAll();
    EXPECT_EQ(selection.getSelectedText(), c.text) << c.what;
  }
  TestHost host;
  Terminal t(&host, sized(30, 4));
  t.feed("pw: \x1b[8mhunter2\x1b[m (hidden)");
  EXPECT_EQ(t.getText(Position(5, 0), Position(9, 0)), "    ");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 0, 0, -1), "pw:         (hidden)");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 0, 2, 8), ":     ");
}

TEST(Extraction, BufferExportResolvesClustersAndKeepsEveryRow) {
  TestHost host;
  Terminal t(&host, sized(8, 3, 0));
  t.feed(
      "\xe4\xb8\xad"
      "a\r\ne\xcc\x81\r\n");
  EXPECT_EQ(asText(t.getBufferAsData()),
            "\xe4\xb8\xad"
            "a\ne\xcc\x81\n\n");
  // A row the encoding cannot hold is kept, with a substitute.
  EXPECT_EQ(asText(t.getBufferAsData(BufferKind::normal, "US-ASCII")), "?a\ne?\n\n");
  EXPECT_FALSE(t.getBufferAsData(BufferKind::active, "no-such-encoding"));

  TestHost other;
  Terminal empty(&other, sized(8, 3, 0));
  EXPECT_EQ(asText(empty.getBufferAsData(BufferKind::normal)), "\n\n\n");
  EXPECT_EQ(asText(empty.getBufferAsData(BufferKind::alt)), "");  // never shown: no rows
}

}  // namespace
}  // namespace vantrelle
