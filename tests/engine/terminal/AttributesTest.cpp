#include <gtest/gtest.h>

#include <vector>

#include "Vantrelle/Terminal/SelectGraphicRendition.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;
using C = Attribute::Color;

Attribute after(const std::string& sequence) {
  TestHost host;
  Terminal t(&host, sized(10, 2));
  t.feed(sequence);
  return t.curAttr;
}

TEST(TerminalSgr, StylesAndResets) {
  EXPECT_EQ(after("\x1b[1;3m\x1b[m"), Terminal::defaultAttribute());
  const Attribute bold = after("\x1b[0;1m");
  EXPECT_EQ(bold.style, CharacterStyle::bold);
  EXPECT_EQ(bold.fg, C::defaultColor);
  EXPECT_TRUE(after("\x1b[1;2;22m").style.isEmpty());
  EXPECT_EQ(after("\x1b[7;8;9;5m").style, (CharacterStyle{CharacterStyle::inverse, CharacterStyle::invisible,
                                                          CharacterStyle::crossedOut, CharacterStyle::blink}));
  EXPECT_TRUE(after("\x1b[7;8;9;5;27;28;29;25m").style.isEmpty());
  EXPECT_EQ(after("\x1b[>4;1m"), Terminal::defaultAttribute());
}

TEST(TerminalSgr, UnderlineStylesWithColonSubParameters) {
  EXPECT_EQ(after("\x1b[4:3m").underlineStyle, UnderlineStyle::curly);
  EXPECT_EQ(after("\x1b[4:3m\x1b[4:0m").underlineStyle, UnderlineStyle::none);
  EXPECT_FALSE(after("\x1b[4m\x1b[4:0m").style.contains(CharacterStyle::underline));
  EXPECT_EQ(after("\x1b[4:9m").underlineStyle, UnderlineStyle::single);
  const Attribute semicolon = after("\x1b[4;3m");
  EXPECT_EQ(semicolon.underlineStyle, UnderlineStyle::single);
  EXPECT_TRUE(semicolon.style.contains(CharacterStyle::italic));
  EXPECT_EQ(after("\x1b[21m").underlineStyle, UnderlineStyle::double_);
  EXPECT_EQ(after("\x1b[4m\x1b[24m").underlineStyle, UnderlineStyle::none);
}

TEST(TerminalSgr, PaletteAndTrueColours) {
  EXPECT_EQ(after("\x1b[31;42m").fg, C::ansi256(1));
  EXPECT_EQ(after("\x1b[31;42m").bg, C::ansi256(2));
  EXPECT_EQ(after("\x1b[97m").fg, C::ansi256(15));
  EXPECT_EQ(after("\x1b[100m").bg, C::ansi256(8));
  EXPECT_EQ(after("\x1b[31;39m").fg, C::defaultColor);
  EXPECT_EQ(after("\x1b[38;5;300m").fg, C::ansi256(255));
  EXPECT_EQ(after("\x1b[38;2;1;2;3m").fg, C::trueColor(1, 2, 3));
  EXPECT_EQ(after("\x1b[48;2;999;2;3m").bg, C::trueColor(255, 2, 3));
  EXPECT_EQ(after("\x1b[38:2:1:10:20:30m").fg, C::trueColor(10, 20, 30));
  EXPECT_EQ(after("\x1b[38:2:10:20:30m").fg, C::trueColor(10, 20, 30));
  EXPECT_EQ(after("\x1b[38:2::10:20:30m").fg, C::trueColor(10, 20, 30));
  EXPECT_EQ(after("\x1b[38:5:9;1m").fg, C::ansi256(9));
  EXPECT_TRUE(after("\x1b[38:5:9;1m").style.contains(CharacterStyle::bold));
  EXPECT_EQ(after("\x1b[58:5:196m").underlineColor, C::ansi256(196));
  EXPECT_FALSE(after("\x1b[58:5:196m\x1b[59m").underlineColor);

  // Too few components: the colour is unchanged and the rest read as parameters of their own.
  const Attribute shortColour = after("\x1b[31m\x1b[38;2;10;3m");
  EXPECT_EQ(shortColour.fg, C::ansi256(1));
  EXPECT_TRUE(shortColour.style.contains(CharacterStyle::italic));
}

// The quick pass over the common forms hands the rest to the full rules; the two together must
// give what the full rules give alone, from any rendition, for any parameters and separators.
TEST(TerminalSgr, TheCommonFormsMatchTheFullRules) {
  static const int values[] = {0,  1,  2,  3,  4,  5,  7,  9,  21, 22,  23,  24, 27, 30,  37,  38,    38, 39,
                               40, 47, 48, 48, 49, 58, 59, 90, 97, 100, 107, 2,  5,  255, 300, 65535, 6,  11};
  uint64_t state = 3;
  auto below = [&state](size_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<size_t>(state >> 33) % n;
  };
  auto randomPars = [&] {
    std::vector<int> pars(1 + below(9));
    for (int& p : pars) p = values[below(std::size(values))];
    return pars;
  };
  for (int round = 0; round < 5000; ++round) {
    const std::vector<int> pars = randomPars();
    std::vector<uint8_t> separators(pars.size() - 1, ';');
    if (round % 3 == 0 && !separators.empty()) separators[below(separators.size())] = ':';
    // Start from a rendition of random styles and colours.
    Attribute start = Terminal::defaultAttribute();
    const std::vector<int> earlier = randomPars();
    sgr::apply(start, earlier, std::vector<uint8_t>(earlier.size() - 1, ';'), 0, nullptr);

    Attribute full = start, quick = start;
    std::vector<int> fullUnknown, quickUnknown;
    sgr::apply(full, pars, separators, 0, &fullUnknown);
    const size_t done = sgr::applyCommon(quick, pars, separators);
    sgr::apply(quick, pars, separators, done, &quickUnknown);
    ASSERT_EQ(quick, full) << ::testing::PrintToString(pars) << " " << ::testing::PrintToString(separators);
    EXPECT_EQ(quickUnknown, fullUnknown);
  }
}

// Every colour form the quick pass reads, complete, cut short or followed by more parameters,
// with components in and out of range.
TEST(TerminalSgr, TheQuickColourFormsMatchTheFullRules) {
  std::vector<std::vector<int>> forms;
  for (int layer : {38, 48}) {
    for (int mode : {5, 2, 0, 3, 6}) {
      for (size_t components = 0; components <= 4; ++components) {
        for (int component : {0, 7, 255, 300}) {
          std::vector<int> pars = {layer, mode};
          for (size_t k = 0; k < components; ++k) pars.push_back(component + static_cast<int>(k));
          forms.push_back(pars);
          for (int next : {1, 24, 39, 49, 38, 48, 5, 2}) {
            forms.push_back(pars);
            forms.back().push_back(next);
          }
        }
      }
    }
  }
  for (const std::vector<int>& pars : forms) {
    const std::vector<uint8_t> separators(pars.size() - 1, ';');
    Attribute start = Terminal::defaultAttribute();
    start.fg = C::trueColor(1, 2, 3);
    Attribute full = start, quick = start;
    sgr::apply(full, pars, separators, 0, nullptr);
    sgr::apply(quick, pars, separators, sgr::applyCommon(quick, pars, separators), nullptr);
    EXPECT_EQ(quick, full) << ::testing::PrintToString(pars);
  }
}

TEST(TerminalSgr, PrintedCellsCarryTheRendition) {
  TestHost host;
  Terminal t(&host, sized(10, 2));
  t.feed("\x1b[1;38;5;100mA\x1b[mB");
  EXPECT_EQ(t.getCharData(0, 0)->attribute().fg, C::ansi256(100));
  EXPECT_EQ(t.getCharData(1, 0)->attribute(), Terminal::defaultAttribute());
}

}  // namespace
}  // namespace vantrelle
