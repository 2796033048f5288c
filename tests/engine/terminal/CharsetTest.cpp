#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

TEST(TerminalCharsets, DesignationAndInvocation) {
  TestHost host;
  Terminal t(&host, sized(20, 6));
  t.feed("\x1b(0lqqk\x1b(Blqqk");
  EXPECT_EQ(rowText(t, 0), "\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x80\xe2\x94\x90lqqk");

  t.feed("\r\n\x1b)0x\x0ex\x0fx");
  EXPECT_EQ(rowText(t, 1), "x\xe2\x94\x82x");

  t.feed("\r\n\x1b(A#\x1b(B#");
  EXPECT_EQ(rowText(t, 2), "\xc2\xa3#");

  // G2 invoked; designating G0 meanwhile changes nothing printed.
  t.feed("\r\n\x1b*0\x1bnq\x1b(0q\x0fq");
  EXPECT_EQ(rowText(t, 3), "\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80");
  t.feed("\x1b(B");

  // Not in the catalogue: nothing changes. UTF-8 and DEL pass untranslated.
  t.feed("\r\n\x1b(0\x1b(1q\xc3\xa9\x7f");
  EXPECT_EQ(rowText(t, 4), "\xe2\x94\x80\xc3\xa9");
  t.feed("\x1b(B\x1b-A");
  EXPECT_EQ(t.gCharsets[1]->lookup('#'), U'\u00A3');
  t.feed("\x1b%G");
  EXPECT_FALSE(t.charset);
}

TEST(TerminalCharsets, AsciiDesignationKeepsTheFastPath) {
  TestHost host;
  Terminal t(&host, sized(20, 2));
  t.feed("\x1b(Bplain");
  ASSERT_TRUE(t.charset);
  EXPECT_TRUE(t.charset->empty());
  EXPECT_EQ(rowText(t, 0), "plain");
}

}  // namespace
}  // namespace vantrelle
