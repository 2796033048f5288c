#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

// A host that takes over the foreground colour and counts how often it is told.
class ColourHost : public TestHost {
 public:
  int foregroundCalls = 0;
  void setForegroundColor(Terminal& source, const Color& color) override {
    ++foregroundCalls;
    TerminalDelegate::setForegroundColor(source, color);
  }
};

TEST(TerminalDelegate, ColourSettersStoreOnceWithoutRecursing) {
  ColourHost host;
  Terminal t(&host, sized(10, 2));
  const Color red(0xffff, 0, 0);
  t.setForegroundColor(red);
  EXPECT_EQ(host.foregroundCalls, 1);
  EXPECT_EQ(t.foregroundColor, red);
  EXPECT_EQ(host.getColors(t).first, red);

  TestHost plain;  // keeps every default
  Terminal p(&plain, sized(10, 2));
  p.setBackgroundColor(red);
  p.setCursorColor(red);
  EXPECT_EQ(p.backgroundColor, red);
  EXPECT_EQ(p.cursorColor, red);
}

TEST(TerminalDelegate, AGoneHostDropsRepliesButStateStillChanges) {
  Terminal t(nullptr, sized(10, 3));
  t.feed("ab\x1b[2;2H\x07\x1b]0;title\x07");
  t.sendResponse("lost");
  EXPECT_EQ(t.terminalTitle(), "title");
  EXPECT_EQ(cursor(t), std::make_pair(1, 1));
}

TEST(TerminalState, FullResetWhileOnTheAlternateScreen) {
  TestHost host;
  Terminal t(&host, sized(10, 3));
  t.feed("normal\x1b[?1049h");
  t.activateAltBuffer(std::nullopt);  // a second switch changes nothing
  t.feed("alt");
  t.setup(true);
  EXPECT_FALSE(t.isCurrentBufferAlternate());
  EXPECT_EQ(screenText(t), "");
  EXPECT_EQ(cursor(t), std::make_pair(9, 0));  // carried over from the alternate screen
  const BufferLine& altRow = *t.altBuffer->lines()[0];
  EXPECT_EQ(altRow[6].code, 'a');
  EXPECT_EQ(altRow[8].code, 't');
}

}  // namespace
}  // namespace vantrelle
