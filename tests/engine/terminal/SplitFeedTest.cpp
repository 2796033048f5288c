#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

std::string fromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

// Where the bytes are cut between feeds must not change the screen: the stream fed whole, a
// byte at a time, and cut once at every point leaves the same cells, wrap flags and cursor.
void expectSameScreenHoweverSplit(const std::string& stream, int cols = 80, int rows = 24) {
  TestHost host;
  Terminal whole(&host, sized(cols, rows));
  whole.feed(stream);
  auto compare = [&](Terminal& other, const std::string& how) {
    ASSERT_EQ(cursor(whole), cursor(other)) << how;
    auto& a = whole.buffer->lines();
    auto& b = other.buffer->lines();
    ASSERT_EQ(a.count(), b.count()) << how;
    for (int row = 0; row < a.count(); ++row) {
      ASSERT_EQ(a[row]->isWrapped(), b[row]->isWrapped()) << "row " << row << ", " << how;
      for (int col = 0; col < cols; ++col) {
        const CharData& x = (*a[row])[col];
        const CharData& y = (*b[row])[col];
        ASSERT_EQ(x.width, y.width) << "row " << row << " column " << col << ", " << how;
        ASSERT_EQ(whole.character(x.code), other.character(y.code))
            << "row " << row << " column " << col << ", " << how;
      }
    }
  };
  Terminal single(&host, sized(cols, rows));
  for (char c : stream) single.feed(std::string_view(&c, 1));
  compare(single, "byte by byte");
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    Terminal split(&host, sized(cols, rows));
    split.feed(std::string_view(stream).substr(0, cut));
    split.feed(std::string_view(stream).substr(cut));
    compare(split, "cut at " + std::to_string(cut));
  }
}

TEST(TerminalSplitFeed, TheSameBytesLeaveTheSameScreen) {
  const struct {
    std::string stream;
    int cols, rows;
  } cases[] = {
      // A wrap taken at a right margin on the bottom row, then the margin moved left of the
      // cursor: a later tab must not find the old wrap still pending.
      {fromHex("0a1b5b3747a8e29f911b5b3f3639681b5b333b3132732842e2f09f9880b8f09f9880b8ade69687e4b8ade6e4b8ade69687"
               "b8ade69687b8ade69687e49f87b8611b6c6523efb88f1b5b3b357309"),
       20, 5},
      {"\x1b[?69h\x1b[3;8s\x1b[5;3Habcdef\x1b[5;8Hxyz\x1b[;4s\t!", 12, 5},
      // A wrap pending at one margin, then text short of a wider margin, then a selector that
      // widens a cell onto the new margin: the old wrap must not be found pending there.
      {"\xb8\xb8\x1b[?69h\x1b[;5s\xf0\xa0\x80\x80#\xef\xb8\x8f\x1b[;9sl#\xef\xb8\x8f\x1b[C", 12, 2},
      // A wrap pending at a margin, margins off, text, margins on again with the cursor just past
      // the new right margin: the wrap was taken long ago and a line feed keeps the column.
      {"\xd1\xe6"
       "ab\x1b[?69h\x1b[;5s\xa0\x1b[?69l\xa4\xed\xa0"
       "abcd\x1b[?69h\x1b[;12s\n",
       18, 2},
  };
  for (const auto& c : cases) expectSameScreenHoweverSplit(c.stream, c.cols, c.rows);
}

}  // namespace
}  // namespace vantrelle
