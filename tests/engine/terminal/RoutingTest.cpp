#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "Vantrelle/Keyboard/EscapeSequences.h"
#include "engine/terminal/TestHost.h"
#include "tests/CapturedStdout.h"

namespace vantrelle {
namespace {

using namespace testing;

// Feeds `stream` split at `at`, returning the titles the host saw.
std::vector<std::string> titlesSplitAt(const std::string& stream, size_t at) {
  TestHost host;
  Terminal t(&host, sized(10, 2));
  t.feed(stream.substr(0, at));
  t.feed(stream.substr(at));
  return host.titles;
}

TEST(TerminalRouting, StringDataIsTheSameWhereverAChunkEnds) {
  // A title whose UTF-8 continuation bytes fall in the C1 range: E2 80 9C and E2 80 9D.
  const std::string stream = "\x1b]0;\xe2\x80\x9cq\xe2\x80\x9d\x07";
  for (size_t at = 0; at <= stream.size(); ++at) {
    EXPECT_EQ(titlesSplitAt(stream, at), std::vector<std::string>({"\xe2\x80\x9cq\xe2\x80\x9d"})) << at;
  }
  // A malformed title is dropped as empty, never half-decoded.
  EXPECT_EQ(titlesSplitAt("\x1b]2;\xff\x07", 0), std::vector<std::string>({""}));
}

TEST(TerminalRouting, RegisteredOscHandlersTakePrecedence) {
  TestHost host;
  Terminal t(&host, sized(10, 2));
  std::string seen;
  t.registerOscHandler(0, [&](std::span<const uint8_t> data) { seen.assign(data.begin(), data.end()); });
  t.feed("\x1b]0;mine\x07");
  EXPECT_EQ(seen, "mine");
  EXPECT_TRUE(host.titles.empty());
}

TEST(TerminalRouting, EscAndCsiIntermediatesSelectTheirHandlers) {
  TestHost host;
  Terminal t(&host, sized(80, 3));
  t.feed("\x1b[>1s");
  EXPECT_TRUE(t.mouseShiftCapture);
  t.feed("\x1b[>s");
  EXPECT_FALSE(t.mouseShiftCapture);
  t.feed("\x1b[>0;2t");
  EXPECT_TRUE(t.xtermTitleSetHex());
  EXPECT_TRUE(t.xtermTitleSetUtf());
  t.feed("\x1b[>2T");
  EXPECT_FALSE(t.xtermTitleSetUtf());
  EXPECT_TRUE(t.xtermTitleSetHex());
  t.feed("\x1b=");
  EXPECT_TRUE(t.applicationKeypad);
  t.feed("\x1b>");
  EXPECT_FALSE(t.applicationKeypad);
  // Single shifts are not acted on; the text after them prints normally.
  t.feed("\x1bNa\x1bOb");
  EXPECT_EQ(rowText(t, 0), "ab");
  // A C1 control inside a CSI abandons it and acts.
  t.feed("\x1b[1\x85");
  EXPECT_EQ(cursor(t), std::make_pair(0, 1));
  // CSI ? u never restores the cursor; CSI u does.
  t.feed(
      "\x1b[2;3H\x1b"
      "7\x1b[H\x1b[?u");
  EXPECT_EQ(cursor(t), std::make_pair(0, 0));
  t.feed("\x1b[u");
  EXPECT_EQ(cursor(t), std::make_pair(2, 1));
}

// A sequence with a prefix or intermediates that its final byte does not take is not the
// sequence without them: it leaves the screen, the cursor and the modes alone.
TEST(TerminalRouting, UnknownPrefixesAndIntermediatesAreNotDropped) {
  static const char* const sequences[] = {
      "\x1b[?2;3r",         "\x1b[>4q",          "\x1b[?4h",       "\x1b[=4h",      "\x1b[>p", "\x1b[?!p",
      "\x1b[88;1;1;2;2#$x", "\x1b[120;1;1;2;2x", "\x1b[1;1;2;2#z", "\x1b[1;1;2;2{", "\x1b[2}", "\x1b[1;1;2;2;1;3;1;1v",
      "\x1b[?1t",           "\x1b[=1T",
  };
  auto state = [](Terminal& t) {
    return screenText(t) + "|" + std::to_string(cursor(t).first) + "," + std::to_string(cursor(t).second) + "|" +
           std::to_string(t.buffer->scrollTop) + "," + std::to_string(t.buffer->scrollBottom) + "|" +
           std::to_string(t.insertMode) + std::to_string(int(t.options.cursorStyle)) + std::to_string(t.originMode);
  };
  for (const char* sequence : sequences) {
    TestHost host;
    Terminal plain(&host, sized(10, 4)), fed(&host, sized(10, 4));
    for (Terminal* t : {&plain, &fed}) t->feed("abcdef\r\nghijkl\x1b[2;3H\x1b[?6h");
    fed.feed(sequence);
    EXPECT_EQ(state(fed), state(plain)) << sequence + 1;
  }
}

// The bytes a terminal writes to standard output while it is fed `stream`.
off_t loggedBytes(bool silent, const std::string& stream) {
  ::testing::CapturedStdout logged;
  {
    TestHost host;
    Terminal t(&host, sized(10, 2));
    t.silentLog = silent;
    t.feed(stream);
  }
  return static_cast<off_t>(logged.text().size());
}

TEST(TerminalRouting, DiagnosticsObeyTheSilentSwitch) {
  const std::string noisy = "\x1b[6m\x1b[99m\x1b[:m\x1b]5;x\x07\x1b_Xy\x1b\\\x1b(1\x1b[1k\x1b[!t\x1b['z";
  EXPECT_EQ(loggedBytes(true, noisy), 0);
  EXPECT_GT(loggedBytes(false, noisy), 0);
}

TEST(KeySequences, FixedBytesAndIntroducers) {
  EXPECT_EQ(EscapeSequences::cmdF[4], Bytes({0x1B, '[', '1', '5', '~'}));
  EXPECT_EQ(EscapeSequences::cmdF[5], Bytes({0x1B, '[', '1', '7', '~'}));
  EXPECT_EQ(EscapeSequences::cmdF[11], Bytes({0x1B, '[', '2', '4', '~'}));
  EXPECT_EQ(EscapeSequences::moveUpApp, Bytes({0x1B, 'O', 'A'}));
  EXPECT_EQ(EscapeSequences::controlLeft, Bytes({0x1B, '[', '1', ';', '5', 'D'}));
  CC cc;
  EXPECT_EQ(cc.csi(), Bytes({0x1B, '['}));
  EXPECT_EQ(cc.st(), Bytes({0x1B, '\\'}));
  cc.send8bit = true;
  EXPECT_EQ(cc.csi(), Bytes({0x9B}));
  EXPECT_EQ(cc.st(), Bytes({0x9C}));
  EXPECT_EQ(cc.apc(), Bytes({0x9F}));
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// Everything a program can see of the screen, for comparing two runs.
std::string snapshot(Terminal& t) {
  std::string state = testing::screenText(t);
  state += "|" + std::to_string(t.getCursorLocation().first) + "," + std::to_string(t.getCursorLocation().second);
  for (int row = 0; row < t.rows; ++row) {
    for (int col = 0; col < t.cols; ++col) {
      const CharData cell = *t.getCharData(col, row);
      state += std::to_string(cell.width) + ":" + std::to_string(cell.attribute().fg.packed()) + ";";
    }
  }
  return state;
}

TEST(TerminalRouting, TheScreenIsTheSameWhereverTheStreamIsCut) {
  const std::string stream =
      "a\xcc\x81\x1b[1;38:2::10:20:30mB\xe4\xb8\xad\x1b(0q\x1b(B\xf0\x9f\x87\xba\xf0\x9f\x87\xb8"
      "\r\n\xe2\x9d\xa4\xef\xb8\x8f\x1b[2;5H\xc3\x41\x1b]0;t\xe2\x80\x9c\x07z\x1b"
      "7\x1b[3;1Hw\x1b"
      "8!";
  testing::TestHost host;
  Terminal whole(&host, testing::sized(12, 4));
  whole.feed(stream);
  const std::string expected = snapshot(whole);
  for (size_t at = 1; at < stream.size(); ++at) {
    Terminal split(&host, testing::sized(12, 4));
    split.feed(stream.substr(0, at));
    split.feed(stream.substr(at));
    EXPECT_EQ(snapshot(split), expected) << "cut at " << at;
  }
}

}  // namespace
}  // namespace vantrelle
