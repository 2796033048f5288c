#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {
struct TrustingHost : TestHost {
  bool trusted = true;
  bool isProcessTrusted(Terminal&) override { return trusted; }
};

void fillRows(Terminal& t) {
  for (int r = 0; r < t.rows; r++) t.feed((r ? "\r\n" : "") + std::string(size_t(t.cols), char('a' + r)));
}
}  // namespace

TEST(Rectangles, EraseFillAndSelectiveErase) {
  TestHost host;
  Terminal t(&host, sized(10, 8));
  fillRows(t);
  t.feed("\x1b[1;1;0;0$z");
  EXPECT_EQ(rowText(t, 0), "aaaaaaaaaa");
  t.feed("\x1b[2;3;3;4$z");
  EXPECT_EQ(rowText(t, 1), "bb  bbbbbb");
  EXPECT_EQ(rowText(t, 2), "cc  cccccc");
  t.feed("\x1b[31m\x1b[65;1;1;1;3$x");
  EXPECT_EQ(rowText(t, 0), "AAAaaaaaaa");
  EXPECT_EQ(t.getLine(0)->operator[](0).attribute(), t.curAttr);
  // Surrogates and control characters fill with spaces: no control ever lands in a cell.
  t.feed("\x1b[55296;4;1;4;2$x\x1b[27;5;1;5;2$x\x1b[155;6;1;6;2$x");
  EXPECT_EQ(rowText(t, 3), "  dddddddd");
  EXPECT_EQ(t.getLine(4)->operator[](0).code, 32);
  EXPECT_EQ(t.getLine(5)->operator[](1).code, 32);
  t.feed("\x1b[$x");  // no character: nothing, no crash
  t.feed("\x1b[$z");
  EXPECT_EQ(screenText(t), "");
  // Origin mode shifts the rectangle into the region.
  fillRows(t);
  t.feed("\x1b[6;8r\x1b[?6h\x1b[1;1;1;10$z");
  EXPECT_EQ(rowText(t, 5), "");
  EXPECT_EQ(rowText(t, 4), "eeeeeeeeee");
}

TEST(Rectangles, CopyHandlesOverlapEdgesAndPages) {
  TestHost host;
  Terminal t(&host, sized(10, 10));
  t.feed("ab\r\ncd");
  t.feed("\x1b[1;1;2;2;2;10;10;1$v");
  EXPECT_EQ(rowText(t, 9), "");
  t.feed("\x1b[1;1;2;2;1;10;10;1$v");
  EXPECT_EQ(rowText(t, 8), "");
  EXPECT_EQ(rowText(t, 9), "         a");  // only the row and the column that fit
  t.feed("\x1b[1;1;2;2;1;2;1;1$v");        // one row down onto itself
  EXPECT_EQ(rowText(t, 0), "ab");
  EXPECT_EQ(rowText(t, 1), "ab");
  EXPECT_EQ(rowText(t, 2), "cd");
}

TEST(Rectangles, ChecksumReplies) {
  TrustingHost host;
  Terminal t(&host, sized(80, 5));
  t.feed("A\x1b[7;1;1;1;1;1*y");
  EXPECT_EQ(host.sent, "\x1bP7!~0041\x1b\\");
  host.sent.clear();
  t.feed("\x1b[*y");
  EXPECT_EQ(host.sent, "\x1bP1!~0000\x1b\\");
  host.sent.clear();
  t.feed("\x1b[2;1;2;1;2;80*y");
  EXPECT_EQ(host.sent, "\x1bP2!~0a00\x1b\\");
  host.trusted = false;
  host.sent.clear();
  t.feed("\x1b[7;1;1;1;1;1*y");
  EXPECT_EQ(host.sent, "\x1bP7!~0000\x1b\\");
}
