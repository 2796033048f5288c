#include <gtest/gtest.h>

#include <chrono>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;
using Mode = LinkLookupMode;

std::optional<std::string> linkAt(Terminal& t, int col, int row, Mode mode = Mode::explicitAndImplicit) {
  return t.link(LinkLookupLocation::buffer(Position(col, row)), mode);
}

TEST(Links, ExplicitHyperlinks) {
  TestHost host;
  Terminal t(&host, sized(20, 4));
  EXPECT_FALSE(linkAt(t, 0, 0));
  t.feed(
      "ab\x1b]8;;http://one.test\x1b\\link\x1b]8;;\x1b\\"
      "\x1b]8;;http://two.test\x1b\\xy\x1b]8;;\x1b\\ \xe4\xb8\xad");
  EXPECT_EQ(linkAt(t, 3, 0), "http://one.test");
  auto match = t.explicitLinkMatch(Position(3, 0), *t.buffer);
  ASSERT_TRUE(match);
  EXPECT_EQ(match->range, (LinkMatch::Range{2, 6}));  // cut where the next link begins
  EXPECT_EQ(linkAt(t, 6, 0), "http://two.test");
  EXPECT_FALSE(linkAt(t, 1, 0, Mode::explicitOnly));

  // The second half of a wide character inside a link finds it.
  t.feed("\r\n\x1b]8;;http://wide.test\x1b\\\xe4\xb8\xad\x1b]8;;\x1b\\");
  EXPECT_EQ(linkAt(t, 1, 1), "http://wide.test");

  // Rows and columns outside the buffer are clamped; screen rows follow the scrolled view.
  EXPECT_EQ(t.link(LinkLookupLocation::screen(Position(-5, 0)), Mode::explicitOnly), std::nullopt);
  EXPECT_EQ(t.link(LinkLookupLocation::screen(Position(3, 0)), Mode::explicitOnly), "http://one.test");
  EXPECT_EQ(t.link(LinkLookupLocation::buffer(Position(1, 99)), Mode::explicitOnly), std::nullopt);
}

TEST(Links, ImplicitUrlsAndPaths) {
  TestHost host;
  Terminal t(&host, sized(40, 6));
  t.feed("see https://x.test/a?b=1, then\r\n./run.sh here\r\ncost $HOME$ ok\r\nplain words");
  EXPECT_EQ(linkAt(t, 6, 0), "https://x.test/a?b=1");
  EXPECT_FALSE(linkAt(t, 6, 0, Mode::explicitOnly));
  EXPECT_FALSE(linkAt(t, 26, 0));  // the comma is not part of it
  EXPECT_EQ(linkAt(t, 2, 1), "./run.sh");
  EXPECT_FALSE(linkAt(t, 3, 3));
  EXPECT_FALSE(linkAt(t, 30, 1));  // right of the row's text
}

// Hidden text (SGR 8) is no link, nor part of one: a click would hand what the user cannot see
// to another program.
TEST(Links, HiddenTextIsNoLink) {
  TestHost host;
  Terminal t(&host, sized(40, 4));
  t.feed(
      "\x1b[8mhttps://hidden.test/x\x1b[m\r\nhttps://shown.test/\x1b[8msecret\x1b[m\r\n"
      "./run\x1b[8m.sh\x1b[m");
  EXPECT_FALSE(linkAt(t, 3, 0));
  EXPECT_FALSE(linkAt(t, 12, 0));
  EXPECT_EQ(linkAt(t, 3, 1), "https://shown.test/");
  EXPECT_FALSE(linkAt(t, 21, 1));
  EXPECT_EQ(linkAt(t, 2, 2), "./run");
}

TEST(Links, UrlsJoinedAcrossRows) {
  TestHost host;
  Terminal t(&host, sized(10, 6));
  t.feed("http://abcdefghijklmnopqrstuvw.test");  // soft-wrapped over four rows
  auto match = t.implicitLinkMatch(Position(4, 1), *t.buffer);
  ASSERT_TRUE(match);
  EXPECT_EQ(match->text, "http://abcdefghijklmnopqrstuvw.test");
  EXPECT_EQ(match->row, 1);
  EXPECT_EQ(match->rowRanges.size(), 4u);
  EXPECT_EQ(match->range, (LinkMatch::Range{0, 10}));

  // Hard line breaks join when the upper row reaches the edge and the seam holds a URL.
  TestHost other;
  Terminal u(&other, sized(20, 6));
  u.feed("  http://example.tes\r\n     t/path/x\r\nhttp://a.test\r\nmore/words");
  EXPECT_EQ(linkAt(u, 8, 1), "http://example.test/path/x");
  EXPECT_EQ(linkAt(u, 4, 2), "http://a.test");  // ends early: never joined
  EXPECT_FALSE(linkAt(u, 1, 3));
}

TEST(Links, HostileTextCannotStallALookup) {
  TestHost host;
  Terminal t(&host, sized(200, 50, 0));
  std::string text = "/";
  for (int i = 0; i < 9000; ++i) text += i % 2 ? " a" : "a";
  t.feed(text);
  const auto started = std::chrono::steady_clock::now();
  (void)linkAt(t, 100, 20);
  (void)linkAt(t, 5, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

}  // namespace
}  // namespace vantrelle
