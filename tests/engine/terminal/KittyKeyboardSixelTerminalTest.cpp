#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/terminal/TestHost.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

class ImageHost : public TestHost {
 public:
  struct Image {
    std::vector<uint8_t> pixels;
    int width;
    int height;
  };
  std::vector<Image> images;

  void createImageFromBitmap(Terminal&, std::vector<uint8_t>& bytes, int width, int height) override {
    images.push_back({bytes, width, height});
  }
};

int64_t activeFlags(const Terminal& t) { return t.keyboardEnhancementFlags().rawValue; }

}  // namespace

TEST(TerminalKittyKeyboard, EachScreenKeepsItsOwnFlagsAndStack) {
  TestHost host;
  Terminal t(&host, sized(20, 5));
  t.feed("\x1b[>5u");
  EXPECT_EQ(activeFlags(t), 5);

  t.feed("\x1b[?1049h");
  EXPECT_EQ(activeFlags(t), 0);
  t.feed("\x1b[?u");
  EXPECT_EQ(host.sent, "\x1b[?0u");
  t.feed("\x1b[>3u\x1b[>9u");
  EXPECT_EQ(activeFlags(t), 9);

  // Leaving the alternate screen keeps its state for the next visit.
  t.feed("\x1b[?1049l");
  EXPECT_EQ(activeFlags(t), 5);
  t.feed("\x1b[<u");
  EXPECT_EQ(activeFlags(t), 0);
  t.feed("\x1b[?1049h");
  EXPECT_EQ(activeFlags(t), 9);
  EXPECT_EQ(t.keyboardModeAlt.stack.size(), 2u);
  host.sent.clear();
  t.feed("\x1b[?u");
  EXPECT_EQ(host.sent, "\x1b[?9u");
}

TEST(TerminalKittyKeyboard, FullResetClearsBothScreens) {
  TestHost host;
  Terminal t(&host, sized(20, 5));
  t.feed("\x1b[>1u\x1b[?1049h\x1b[>31u");
  t.feed(
      "\x1b"
      "c");
  EXPECT_FALSE(t.isCurrentBufferAlternate());
  EXPECT_EQ(t.keyboardModeNormal, KeyboardModeState{});
  EXPECT_EQ(t.keyboardModeAlt, KeyboardModeState{});
}

TEST(TerminalKittyKeyboard, OtherCsiUSequences) {
  TestHost host;
  Terminal t(&host, sized(20, 5));
  // Plain CSI u restores the saved cursor.
  t.feed("\x1b[2;3H\x1b[s\x1b[5;5H\x1b[u");
  EXPECT_EQ(cursor(t), std::make_pair(2, 1));
  // Foreign intermediates are ignored: no cursor move, no flag change.
  t.feed("\x1b[>1u\x1b[5;5H\x1b[>>u\x1b[$u");
  EXPECT_EQ(cursor(t), std::make_pair(4, 4));
  EXPECT_EQ(activeFlags(t), 1);
  EXPECT_TRUE(host.sent.empty());
}

TEST(TerminalKittyKeyboard, QueryUsesEightBitIntroducerWhenAsked) {
  TestHost host;
  Terminal t(&host, sized(20, 5));
  t.cc.send8bit = true;
  t.feed("\x1b[=7u\x1b[?u");
  EXPECT_EQ(host.sent, "\x9b?7u");
}

TEST(TerminalSixel, ImageReachesTheHostWhateverTheChunks) {
  ImageHost host;
  Terminal t(&host, sized(20, 5));
  const std::string sequence = "\x1bPq\"1;1;2;6#0;2;100;0;0#0~~\x1b\\";
  for (char c : sequence) t.feed(std::string_view(&c, 1));
  ASSERT_EQ(host.images.size(), 1u);
  EXPECT_EQ(host.images[0].width, 2);
  EXPECT_EQ(host.images[0].height, 6);
  EXPECT_EQ(host.images[0].pixels.size(), 2u * 6u * 4u);
  EXPECT_EQ(host.images[0].pixels[0], 0xFF);
  EXPECT_EQ(host.images[0].pixels[1], 0x00);

  // Undefined registers draw in the terminal's default palette; each image starts afresh.
  t.feed("\x1bP0;1;0q#1~\x1b\\");
  ASSERT_EQ(host.images.size(), 2u);
  const Color& red = t.defaultAnsiColors[1];
  EXPECT_EQ(host.images[1].pixels[0], red.red >> 8);
  EXPECT_EQ(host.images[1].pixels[1], red.green >> 8);
  EXPECT_EQ(host.images[1].pixels[2], red.blue >> 8);
  EXPECT_EQ(host.images[1].pixels[3], 0xFF);

  // Another DCS q with an intermediate is not Sixel.
  t.feed("\x1bP!q#1~\x1b\\");
  EXPECT_EQ(host.images.size(), 2u);
}
