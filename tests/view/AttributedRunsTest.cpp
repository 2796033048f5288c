// Cells into runs: segments by width, runs by rendition, shape items, selection and links.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

class AttributedRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
  }
  ViewLineInfo row(int y) {
    Buffer& buffer = *view->getTerminal().buffer;
    return view->buildAttributedString(buffer.yBase + y, *buffer.lines()[buffer.yBase + y], buffer.cols());
  }
  static std::string text(const ViewLineSegment& segment) {
    std::string all;
    for (const auto& piece : segment.attributedString) all += piece.text;
    return all;
  }
  testing::RecordingHost host;
  std::unique_ptr<TerminalView> view;
};

TEST_F(AttributedRuns, APlainRowIsOneSegmentOfOnePieceFilledToTheWidth) {
  view->feed("hello");
  auto info = row(0);
  ASSERT_EQ(info.segments.size(), 1u);
  ASSERT_EQ(info.segments[0].attributedString.size(), 1u);
  EXPECT_EQ(info.segments[0].attributedString[0].cellCount(), 80);
  EXPECT_EQ(text(info.segments[0]).substr(0, 6), "hello ");
}

TEST_F(AttributedRuns, AWideCharacterSplitsTheRowIntoThreeSegments) {
  view->feed(
      "a\xe4\xb8\xad"
      "b");
  auto info = row(0);
  ASSERT_EQ(info.segments.size(), 3u);
  EXPECT_EQ(info.segments[0].columnWidth, 1);
  EXPECT_EQ(info.segments[1].column, 1);
  EXPECT_EQ(info.segments[1].columnWidth, 2);
  EXPECT_EQ(text(info.segments[1]), "\xe4\xb8\xad");
  EXPECT_EQ(info.segments[2].column, 3);
  EXPECT_EQ(text(info.segments[2]).substr(0, 1), "b");
}

TEST_F(AttributedRuns, RenditionChangesStartNewPieces) {
  view->feed("a\x1b[31mb\x1b[0mc");
  auto info = row(0);
  ASSERT_EQ(info.segments.size(), 1u);
  auto& pieces = info.segments[0].attributedString;
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1].text, "b");
  EXPECT_EQ(pieces[1].attributes.foreground, ViewColor::make(view->getTerminal().ansiColors[1]));
}

TEST_F(AttributedRuns, InverseOfDefaultColoursUsesTheInvertedDefaults) {
  Attribute inverse(Attribute::Color::defaultColor, Attribute::Color::defaultColor, CharacterStyle::inverse);
  auto attrs = view->getAttributes(inverse, false);
  EXPECT_EQ(attrs.foreground, view->nativeForegroundColor().inverseColor());
  EXPECT_EQ(attrs.background, view->nativeBackgroundColor().inverseColor());
  Attribute coloured(Attribute::Color::ansi256(2), Attribute::Color::ansi256(4), CharacterStyle::inverse);
  auto swapped = view->getAttributes(coloured, false);
  EXPECT_EQ(swapped.foreground, view->mapColor(Attribute::Color::ansi256(4), true, false, true));
  EXPECT_EQ(swapped.background, view->mapColor(Attribute::Color::ansi256(2), false, false, true));
}

TEST_F(AttributedRuns, UnderlinesStrikesAndLinks) {
  Attribute plain(Attribute::Color::defaultColor, Attribute::Color::defaultColor, CharacterStyle::underline);
  auto single = view->getAttributes(plain, false);
  EXPECT_EQ(single.underlineStyle, 1);
  EXPECT_EQ(single.vantrelleUnderlineStyle, 1);
  Attribute curly(Attribute::Color::defaultColor, Attribute::Color::defaultColor, CharacterStyle::underline,
                  UnderlineStyle::curly);
  EXPECT_EQ(view->getAttributes(curly, false).underlineStyle, 1);
  EXPECT_EQ(view->getAttributes(curly, false).vantrelleUnderlineStyle, 3);
  Attribute dotted(Attribute::Color::defaultColor, Attribute::Color::defaultColor, CharacterStyle::underline,
                   UnderlineStyle::dotted);
  EXPECT_EQ(view->getAttributes(dotted, false).underlineStyle, 257);
  auto link = view->getAttributes(curly, true);
  EXPECT_EQ(link.underlineStyle, 1);
  EXPECT_EQ(link.vantrelleUnderlineStyle, 5);
  Attribute struck(Attribute::Color::ansi256(1), Attribute::Color::defaultColor, CharacterStyle::crossedOut);
  auto strike = view->getAttributes(struck, false);
  EXPECT_EQ(strike.strikethroughStyle, 1);
  EXPECT_EQ(strike.strikethroughColor, strike.foreground);
  EXPECT_FALSE(strike.underlineStyle);
}

TEST_F(AttributedRuns, BrightColoursWithoutTheBrightSettingUseTheBoldFace) {
  Attribute bright(Attribute::Color::ansi256(9), Attribute::Color::defaultColor, CharacterStyle::none);
  EXPECT_EQ(view->getAttributes(bright, false).font, FontFace::normal);
  view->setUseBrightColors(false);
  view->resetCaches();
  EXPECT_EQ(view->getAttributes(bright, false).font, FontFace::bold);
  Attribute italicBold(Attribute::Color::defaultColor, Attribute::Color::defaultColor,
                       {CharacterStyle::bold, CharacterStyle::italic});
  EXPECT_EQ(view->getAttributes(italicBold, false).font, FontFace::boldItalic);
}

TEST_F(AttributedRuns, DimTextMovesHalfwayToTheBackground) {
  Attribute dim(Attribute::Color::trueColor(255, 255, 255), Attribute::Color::trueColor(0, 0, 0), CharacterStyle::dim);
  EXPECT_EQ(view->getAttributes(dim, false).foreground, ViewColor(0.5, 0.5, 0.5, 1));
}

TEST_F(AttributedRuns, ShapeCharactersBecomeItemsOnlyWithCustomGlyphs) {
  view->feed("\xe2\x94\x80\xe2\x96\x88\xee\x82\xb0x");  // U+2500 U+2588 U+E0B0 x
  auto info = row(0);
  ASSERT_EQ(info.boxDrawings.size(), 1u);
  EXPECT_EQ(info.boxDrawings[0].codePoint, 0x2500u);
  ASSERT_EQ(info.blockElements.size(), 1u);
  EXPECT_EQ(info.blockElements[0].column, 1);
  ASSERT_EQ(info.powerlineGlyphs.size(), 1u);
  EXPECT_EQ(info.powerlineGlyphs[0].column, 2);
  EXPECT_EQ(text(info.segments[0]).substr(0, 4), "   x");
  view->setCustomBlockGlyphs(false);
  auto plain = row(0);
  EXPECT_TRUE(plain.boxDrawings.empty());
  EXPECT_EQ(text(plain.segments[0]).substr(0, 3), "\xe2\x94\x80");
}

// A symbol with an emoji form has the one cell of its text form and is drawn as text; asked for as
// an emoji it has two cells and its text keeps the selector it came with.
TEST_F(AttributedRuns, TextDefaultEmojiKeepsItsTextPresentation) {
  view->feed("\xe2\x99\xa5 \xf0\x9f\x98\x80 \xe2\x99\xa5\xef\xb8\x8f");  // U+2665, U+1F600, U+2665 U+FE0F
  auto info = row(0);
  std::string all;
  for (const auto& s : info.segments) all += text(s);
  EXPECT_EQ(all.substr(0, 7), "\xe2\x99\xa5\xef\xb8\x8e ");
  EXPECT_EQ(all.find("\xf0\x9f\x98\x80\xef\xb8"), std::string::npos);
  EXPECT_NE(all.find("\xe2\x99\xa5\xef\xb8\x8f"), std::string::npos);
}

// Renditions that share a slot of the run cache take it over from each other; each must still get
// its own attributes, with and without a link, and the cache stays within its slots.
TEST(RunStyleCache, RenditionsSharingASlotKeepTheirOwnAttributes) {
  RunStyle cached, fresh;
  std::vector<Attribute> renditions;
  for (int i = 0; i < 3 * int(RunCache::slotCount); i++) {
    Attribute attribute(Attribute::Color::ansi256(uint8_t(i)), Attribute::Color::ansi256(uint8_t(i / 7)),
                        i % 3 ? CharacterStyle::bold : CharacterStyle::underline);
    renditions.push_back(attribute);
  }
  for (int round = 0; round < 2; round++) {
    for (size_t i = 0; i < renditions.size(); i += 1 + round) {
      bool withUrl = i % 5 == 0;
      RunAttributes expected = fresh.attributes(renditions[i], withUrl);
      fresh.clearRuns();
      ASSERT_EQ(cached.attributes(renditions[i], withUrl), expected) << "rendition " << i << " round " << round;
      ASSERT_EQ(cached.attributes(renditions[i], withUrl), expected) << "again, rendition " << i;
    }
    EXPECT_LE(cached.runs.size(), RunCache::slotCount);
    EXPECT_FALSE(cached.urlRuns.empty());
  }
  cached.clearRuns();
  EXPECT_TRUE(cached.runs.empty());
}

TEST(SelectedColumns, ForwardBackwardAndTheLastColumn) {
  auto range = [](Position start, Position end, int row) {
    return selectedColumnsRange(SelectionRange{start, end}, row, 80, 80);
  };
  EXPECT_EQ(range({2, 1}, {5, 1}, 1), (ColumnRange{2, 5}));
  EXPECT_EQ(range({2, 1}, {79, 1}, 1), (ColumnRange{2, 80}));
  EXPECT_EQ(range({5, 1}, {2, 1}, 1), (ColumnRange{2, 5}));
  EXPECT_EQ(range({5, 1}, {5, 1}, 1), std::nullopt);
  EXPECT_EQ(range({5, 1}, {3, 3}, 1), (ColumnRange{5, 80}));
  EXPECT_EQ(range({5, 1}, {3, 3}, 2), (ColumnRange{0, 80}));
  EXPECT_EQ(range({5, 1}, {3, 3}, 3), (ColumnRange{0, 3}));
  EXPECT_EQ(range({5, 1}, {79, 3}, 3), (ColumnRange{0, 80}));
  EXPECT_EQ(range({5, 1}, {3, 3}, 4), std::nullopt);
  EXPECT_EQ(range({3, 3}, {5, 1}, 1), (ColumnRange{5, 80}));
  EXPECT_EQ(range({3, 3}, {5, 1}, 3), (ColumnRange{0, 3}));
  EXPECT_EQ(selectedColumnsRange(std::nullopt, 1, 80, 80), std::nullopt);
}

TEST_F(AttributedRuns, SelectedCellsTakeTheSelectionColours) {
  view->feed("abcdef");
  Buffer& buffer = *view->getTerminal().buffer;
  view->selection->setSelection(Position(1, buffer.yBase), Position(3, buffer.yBase));
  auto info = row(0);
  auto& pieces = info.segments[0].attributedString;
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1].text, "bc");
  EXPECT_EQ(pieces[1].attributes.selectionBackgroundColor, view->selectedTextBackgroundColor());
  EXPECT_EQ(pieces[1].attributes.foreground, view->selectedTextForegroundColor());
  EXPECT_FALSE(pieces[0].attributes.selectionBackgroundColor);
}

// Hidden text (SGR 8) shows its background and nothing else: no character, shape, emoji or line.
TEST_F(AttributedRuns, ConcealedCellsShowOnlyTheirBackground) {
  struct Case {
    const char* what;
    std::string input;
    std::string text;  // the row's segments' text, right-trimmed: a wide cell is one character
  };
  const Case cases[] = {
      {"ascii", "a\x1b[8mHIDDEN\x1b[m|", "a      |"},
      {"shapes and powerline", "\x1b[8m\xe2\x94\x80\xe2\x96\x88\xee\x82\xb0\x1b[mx", "   x"},
      {"an emoji and an accent",
       "\x1b[8m\xe2\x99\xa5"
       "e\xcc\x81\x1b[mx",
       "  x"},
      {"a wide character", "\x1b[8m\xe4\xb8\xad\x1b[mx", " x"},
      {"underlined, struck, coloured", "\x1b[8;4;9;31;42mab\x1b[mx", "  x"},
  };
  for (const Case& c : cases) {
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
    view->feed(c.input);
    auto info = row(0);
    std::string all;
    for (const auto& segment : info.segments) {
      all += text(segment);
      for (const auto& run : segment.attributedString) {
        if (run.text.find_first_not_of(' ') != std::string::npos) continue;
        EXPECT_FALSE(run.attributes.underlineStyle || run.attributes.strikethroughStyle) << c.what;
      }
    }
    EXPECT_EQ(all.substr(0, all.find_last_not_of(' ') + 1), c.text) << c.what;
    EXPECT_TRUE(info.boxDrawings.empty() && info.blockElements.empty() && info.powerlineGlyphs.empty()) << c.what;
  }
  // The background still shows.
  view->feed("\x1b[8;42mab");
  const auto& hidden = row(0).segments[0].attributedString[0].attributes;
  EXPECT_EQ(hidden.background, ViewColor::make(view->getTerminal().ansiColors[2]));
}

}  // namespace
}  // namespace vantrelle
