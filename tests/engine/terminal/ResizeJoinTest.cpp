#include <gtest/gtest.h>

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

// A combining mark that comes after a resize joins the character printed just before it,
// wherever the resize moved that character.
struct Case {
  const char* name;
  Size start;
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
  while (!text.empty() && (text.back() == '|' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string run(const Case& c, size_t step) {
  TestHost host;
  Terminal t(&host, sized(c.start.cols, c.start.rows));
  const auto feed = [&](std::string_view bytes) {
    for (size_t at = 0; at < bytes.size(); at += step) t.feed(bytes.substr(at, step));
  };
  feed(c.stream);
  for (const Size& size : c.sizes) t.resize(size.cols, size.rows);
  feed(c.tail);
  return screenRows(t);
}

#define ACUTE "\xcc\x81"

TEST(ResizeJoin, AMarkAfterAResizeJoinsTheCharacterBeforeIt) {
  const Case cases[] = {
      {"narrowed, after a pending wrap", {10, 4}, "abcdefghie", {{5, 4}}, ACUTE "X", "|abcde+fghie" ACUTE "+X"},
      {"rows only, after a pending wrap", {10, 4}, "abcdefghie", {{10, 5}}, ACUTE "X", "|abcdefghie" ACUTE "+X"},
      {"widened", {10, 4}, "abcdefghijkle", {{20, 4}}, ACUTE "X", "|abcdefghijkle" ACUTE "X"},
      {"a short line narrowed", {10, 4}, "ab\r\ncde", {{4, 4}}, ACUTE "X", "|ab|cde" ACUTE "X"},
      {"a wide character moved on to the next row",
       {10, 4},
       "abcdefgh中",
       {{9, 4}},
       ACUTE "X",
       "|abcdefgh+中" ACUTE "X"},
      {"the cursor moved to the start of the next row",
       {10, 4},
       "abcdefghij\rabcde",
       {{5, 4}},
       ACUTE "X",
       "|abcde" ACUTE "+Xghij"},
      {"narrowed twice and widened back",
       {10, 4},
       "abcdefghie",
       {{5, 4}, {3, 4}, {10, 4}},
       ACUTE "X",
       "|abcdefghie" ACUTE "+X"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c, std::string_view(c.stream).size() + std::string_view(c.tail).size()), c.screen) << c.name;
    EXPECT_EQ(run(c, 1), c.screen) << c.name << ", fed a byte at a time";
  }
}

}  // namespace
}  // namespace vantrelle
