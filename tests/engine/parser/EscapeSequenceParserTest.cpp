#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vantrelle/Parser/EscapeSequenceParser.h"
#include "engine/parser/RecordingHandler.h"

namespace vantrelle {
namespace {

using testing::RecordingHandler;
using Events = std::vector<std::string>;

std::span<const uint8_t> bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

Events parseChunks(const std::vector<std::string>& chunks) {
  RecordingHandler h;
  {
    EscapeSequenceParser p(h);
    for (const auto& c : chunks) p.parse(bytes(c));
  }
  return h.events;
}

Events parseWhole(const std::string& s) { return parseChunks({s}); }

// The events of a stream must not depend on how it was cut into chunks.
void expectSplitInvariant(const std::string& s) {
  const Events whole = parseWhole(s);
  for (size_t k = 1; k < s.size(); ++k) {
    EXPECT_EQ(parseChunks({s.substr(0, k), s.substr(k)}), whole) << "split at " << k << " of " << s;
  }
  std::vector<std::string> single;
  for (char c : s) single.emplace_back(1, c);
  EXPECT_EQ(parseChunks(single), whole) << "byte by byte: " << s;
}

TEST(EscapeSequenceParser, EverySequenceSplitAtEveryByteDispatchesTheSameEvents) {
  const std::vector<std::string> streams = {
      "abc\x1b[38;2;1;2;3mdef",
      "\x1b[?1;2h\x1b[>0;2t\x1b[4:3m",
      "\x1b]0;title\x07\x1b]2;other\x1b\\",
      "\x1b]0;\xe2\x80\x9cquoted\xe2\x80\x9d\x07",  // UTF-8 whose continuation bytes are C1 codes
      "\x1b_Ga=q;AAAA\x1b\\\x1b_Xyz\x07",
      "\x1bPq#0;2;0;0;0~-\x1b\\after",
      "\x1bP$qm\x1b\\",
      "\x1b(0lqqk\x1b(B\r\n",
      "x\x1b[1\x85y",
      "\x1b"
      "7\x1b"
      "8\x1b#8\x1b%G",
      "\xc3\xa9\xe2\x94\x80\xf0\x9f\x98\x80",
  };
  for (const auto& s : streams) expectSplitInvariant(s);
}

TEST(EscapeSequenceParser, ParametersSaturateAndAreLimited) {
  EXPECT_EQ(parseWhole("\x1b[99999A"), Events({"CSI 65535 A"}));
  EXPECT_EQ(parseWhole("\x1b[4:3m"), Events({"CSI 4:3 m"}));
  EXPECT_EQ(parseWhole("\x1b[m"), Events({"CSI 0 m"}));
  EXPECT_EQ(parseWhole("\x1b[;5H"), Events({"CSI 0;5 H"}));

  std::string p24 = "\x1b[";
  for (int i = 0; i < 23; ++i) p24 += "1;";
  p24 += "1m";
  ASSERT_EQ(parseWhole(p24).size(), 1u);

  std::string p25 = "\x1b[";
  for (int i = 0; i < 24; ++i) p25 += "1;";
  p25 += "1m\x1b[2J";
  EXPECT_EQ(parseWhole(p25), Events({"CSI 2 J"}));

  // A DCS with too many parameters gets no handler and its data vanishes.
  std::string dcs25 = "\x1bP";
  for (int i = 0; i < 24; ++i) dcs25 += "1;";
  dcs25 += "1qdata\x1b\\";
  EXPECT_EQ(parseWhole(dcs25), Events({"ESC \\"}));
}

TEST(EscapeSequenceParser, PrefixesIntermediatesAndErrors) {
  EXPECT_EQ(parseWhole("\x1b[?25l"), Events({"CSI ?25 l"}));
  EXPECT_EQ(parseWhole("\x1b[>1s"), Events({"CSI >1 s"}));
  EXPECT_EQ(parseWhole("\x1b[2 q"), Events({"CSI  2 q"}));
  // A second prefix moves to csiIgnore: nothing is dispatched.
  EXPECT_EQ(parseWhole("\x1b[?1;2?h"), Events());
  // ':' right after the introducer is an error; the machine returns to ground and prints 'm'.
  EXPECT_EQ(parseWhole("\x1b[:m"), Events({"ERROR 3a csiEntry", "PRINT m"}));
  // In ground, C1 bytes are part of the print run; after ESC [ a C1 control abandons the CSI.
  EXPECT_EQ(parseWhole("\x9d"), Events({"PRINT \x9d"}));
  EXPECT_EQ(parseWhole("\x1b[1\x85"), Events({"EXEC 85"}));
  EXPECT_EQ(parseWhole("\x1b[1\x18x"), Events({"EXEC 18", "PRINT x"}));
  // Endless intermediates are bounded and the sequence is dropped.
  std::string longCsi = "\x1b[";
  longCsi.append(100, ' ').append("q\x1b[A");
  EXPECT_EQ(parseWhole(longCsi), Events({"CSI 0 A"}));
  std::string longEsc = "\x1b";
  longEsc.append(100, '(').append("B");
  EXPECT_EQ(parseWhole(longEsc), Events());
}

TEST(EscapeSequenceParser, StringsEndByBelStCanAndEscape) {
  EXPECT_EQ(parseWhole("\x1b]0;title\x07"), Events({"OSC 0 title"}));
  EXPECT_EQ(parseWhole("\x1b]0;title\x1b\\"), Events({"OSC 0 title", "ESC \\"}));
  EXPECT_EQ(parseWhole("\x1b]0;ti\ntle\x07"), Events({"OSC 0 title"}));
  EXPECT_TRUE(parseWhole("\x1b]0;a\x18").empty());
  // SUB is dropped inside a string wherever it falls.
  EXPECT_EQ(parseWhole("\x1b]0;a\x1a"
                       "b\x07"),
            Events({"OSC 0 ab"}));
  EXPECT_EQ(parseChunks({"\x1b]0;a",
                         "\x1a"
                         "b\x07"}),
            Events({"OSC 0 ab"}));
  EXPECT_EQ(parseWhole("\x1b]0;\xc3\x89\x07"), Events({"OSC 0 \xc3\x89"}));
  EXPECT_EQ(parseWhole("\x1b]12a;x\x07"), Events());
  EXPECT_EQ(parseWhole("\x1b]99999999999999999999;x\x07"), Events());
  EXPECT_EQ(parseWhole("\x1b]52\x07"), Events({"OSC 52 "}));
  EXPECT_EQ(parseWhole("\x1b_Ga=q;AAAA\x1b\\"), Events({"APC G a=q;AAAA", "ESC \\"}));
  EXPECT_EQ(parseWhole("\x1b_\x07"), Events());
  // SOS and PM strings are swallowed; a byte of 0xA0 or above inside them is an error.
  EXPECT_EQ(parseWhole("\x1bXabc\x9c"
                       "d"),
            Events({"PRINT d"}));
  EXPECT_EQ(parseWhole("\x1b^abc\x1b\\d"), Events({"ESC \\", "PRINT d"}));
  EXPECT_EQ(parseWhole("\x1bXa\xa5"
                       "b"),
            Events({"ERROR a5 sosPmApcString", "PRINT b"}));
}

TEST(EscapeSequenceParser, OverlongStringsAreDroppedNotGrown) {
  RecordingHandler h;
  EscapeSequenceParser p(h);
  p.parse(bytes("\x1b]0;"));
  const std::string chunk(1 << 20, 'a');
  for (size_t i = 0; i <= EscapeSequenceParser::kMaxOscLength / chunk.size(); ++i) p.parse(bytes(chunk));
  EXPECT_EQ(p.osc().size(), 0u);
  p.parse(bytes("\x07\x1b]0;ok\x07"));
  EXPECT_EQ(h.events, Events({"OSC 0 ok"}));
}

TEST(EscapeSequenceParser, DcsHandlersAreHookedFedAndAlwaysReplaced) {
  EXPECT_EQ(parseWhole("\x1bPq#0~\x1b\\"), Events({"DCS-HOOK 0,q", "DCS-PUT #0~", "DCS-UNHOOK", "DCS-DROP", "ESC \\"}));
  EXPECT_EQ(parseWhole("\x1bP1;2$qm\x9c"), Events({"DCS-HOOK $1,2,q", "DCS-PUT m", "DCS-UNHOOK", "DCS-DROP"}));
  // A DCS with no handler drops its data.
  EXPECT_EQ(parseWhole("\x1bPxdata\x1b\\z"), Events({"ESC \\", "PRINT z"}));
  // A string cut off by CAN abandons its handler: a later unhandled string feeds nobody.
  EXPECT_EQ(parseWhole("\x1bPqab\x18\x1bPxcd\x1b\\"), Events({"DCS-HOOK 0,q", "DCS-DROP", "EXEC 18", "ESC \\"}));
  EXPECT_EQ(parseWhole("\x1bPqab\x85"
                       "c"),
            Events({"DCS-HOOK 0,q", "DCS-DROP", "EXEC 85", "PRINT c"}));
  // Bytes of 0xA0 and above are data of the string.
  EXPECT_EQ(parseWhole("\x1bPq\xa0\xff\x1b\\"),
            Events({"DCS-HOOK 0,q", "DCS-PUT \xa0\xff", "DCS-UNHOOK", "DCS-DROP", "ESC \\"}));
}

TEST(EscapeSequenceParser, PrintStateResetsAtEveryIntroducerAndStringEnd) {
  RecordingHandler h;
  EscapeSequenceParser p(h);
  p.parse(bytes("a\x1b[1mb\x1b]0;t\x07\x1bPqx\x1b\\"));
  // ESC and [, ESC of ESC ], the string end, ESC and P, the unhook.
  EXPECT_EQ(h.resets, 7);
  p.reset();
  EXPECT_EQ(p.currentState, ParserState::ground);
}

TEST(EscapeSequenceParser, AnAbortingErrorHandlerStopsTheCall) {
  RecordingHandler h;
  h.abortOnError = true;
  EscapeSequenceParser p(h);
  p.parse(bytes("\x1b[:mxyz"));
  EXPECT_EQ(h.events, Events({"ERROR 3a csiEntry"}));
  EXPECT_EQ(p.currentState, ParserState::ground);
}

// Control sequences whole in one chunk take the bulk parameter scan; cut into single bytes they
// go through the table one byte at a time. Both must report the same events, the print-state
// resets and the errors included, for streams rich in the odd cases.
TEST(EscapeSequenceParser, BulkParameterScanMatchesTheTable) {
  static const char* const pieces[] = {
      "\x1b[", "\x1b[?", "\x1b[>", "0",  "7",    "42",   "65535", "99999999", ";", ":", ";;",    "m",    "H", "?",
      " ",     "$",      "\x7f",   "\n", "\x1b", "\x18", "\x85",  "\xc3\xa9", "x", "<", "\x1b]", "\x07", "q", "\x1b\\",
  };
  uint64_t state = 7;
  auto below = [&state](size_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<size_t>(state >> 33) % n;
  };
  for (int round = 0; round < 400; ++round) {
    std::string stream;
    const size_t length = 1 + below(40);
    for (size_t i = 0; i < length; ++i) stream += pieces[below(std::size(pieces))];
    // Long parameter lists reach the limit on the count of parameters.
    if (round % 10 == 0) {
      stream += "\x1b[";
      for (size_t i = below(30); i > 0; --i) stream += "1;";
      stream += "2m";
    }
    RecordingHandler whole, single;
    {
      EscapeSequenceParser a(whole), b(single);
      a.parse(bytes(stream));
      for (char c : stream) b.parse(bytes(std::string(1, c)));
      EXPECT_EQ(a.currentState, b.currentState) << stream;
    }
    EXPECT_EQ(whole.events, single.events) << stream;
    EXPECT_EQ(whole.resets, single.resets) << stream;
  }
}

TEST(EscapeSequenceParser, ParseDecimal) {
  EXPECT_EQ(EscapeSequenceParser::parseDecimal(bytes("1337")), 1337);
  EXPECT_FALSE(EscapeSequenceParser::parseDecimal(bytes("")));
  EXPECT_FALSE(EscapeSequenceParser::parseDecimal(bytes("-1")));
  EXPECT_EQ(EscapeSequenceParser::parseDecimal(bytes("9223372036854775807")), INT64_MAX);
  EXPECT_FALSE(EscapeSequenceParser::parseDecimal(bytes("9223372036854775808")));
}

}  // namespace
}  // namespace vantrelle
