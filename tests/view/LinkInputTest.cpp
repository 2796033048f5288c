// Links under the pointer: parsing payloads, hover underline, the preview and opening on click.
#include "InputTestSupport.h"

namespace vantrelle {
namespace {

struct LinkHost : testing::RecordingHost {
  std::vector<std::pair<std::string, std::map<std::string, std::string>>> opened;
  void requestOpenLink(TerminalView&, const std::string& link,
                       const std::map<std::string, std::string>& params) override {
    opened.emplace_back(link, params);
  }
};

class LinkInputTest : public testing::InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    view->terminalDelegate = &links;
    view->feed("\x1b]8;id=7;https://example.com/a\x1b\\explicit\x1b]8;;\x1b\\ see https://implicit.example/x now\r\n");
  }
  MouseRecord click(int col, int row, InputModifiers modifiers = {}) {
    MouseRecord r;
    r.kind = MouseRecord::Kind::up;
    r.x = col * 8 + 4;
    r.y = row * 16 + 8;
    r.modifiers = modifiers;
    return r;
  }
  LinkHost links;
};

TEST_F(LinkInputTest, PayloadsSplitIntoTargetAndParameters) {
  auto parsed = TerminalView::urlAndParamsFrom("id=1:x=2;T");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->first, "T");
  EXPECT_EQ(parsed->second, (TerminalView::LinkParams{{"id", "1"}, {"x", "2"}}));
  EXPECT_FALSE(TerminalView::urlAndParamsFrom("no separator"));
  parsed = TerminalView::urlAndParamsFrom(";T;rest");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->first, "T");
  EXPECT_TRUE(parsed->second.empty());
  EXPECT_EQ(view->payloadString(Position(3, 0)), "id=7;https://example.com/a");
  EXPECT_FALSE(view->payloadString(Position(20, 0)));
  EXPECT_FALSE(view->payloadString(Position(3, 500)));
}

TEST_F(LinkInputTest, TheModifierGatesHoverAndClicksInTheDefaultMode) {
  view->mouseUp(click(2, 0));
  EXPECT_TRUE(links.opened.empty());
  EXPECT_FALSE(view->linkState.linkHighlightRange);
  view->mouseUp(click(2, 0, testing::InputTest::control()));
  ASSERT_EQ(links.opened.size(), 1u);
  EXPECT_EQ(links.opened[0].first, "https://example.com/a");
  EXPECT_EQ(links.opened[0].second.at("id"), "7");
  // Implicit links open the same way, with their own text.
  view->mouseUp(click(16, 0, testing::InputTest::control()));
  ASSERT_EQ(links.opened.size(), 2u);
  EXPECT_EQ(links.opened[1].first, "https://implicit.example/x");
  EXPECT_TRUE(links.sent.empty());
}

// A program that reads the mouse hears a whole click when one opens a link: its press and its
// release, never a button left down.
TEST_F(LinkInputTest, AClickThatOpensALinkIsAWholeClickToAProgramReadingTheMouse) {
  view->feed("\x1b[?1000h\x1b[?1006h");
  links.sent.clear();
  MouseRecord press = click(2, 0, testing::InputTest::control());
  press.kind = MouseRecord::Kind::down;
  view->mouseDown(press);
  view->mouseUp(click(2, 0, testing::InputTest::control()));
  ASSERT_EQ(links.opened.size(), 1u);
  EXPECT_EQ(links.sent, "\x1b[<16;3;1M\x1b[<16;3;1m");
}

TEST_F(LinkInputTest, AlwaysModeOpensOnlyExplicitLinksWithoutTheModifier) {
  view->setLinkHighlightMode(TerminalView::LinkHighlightMode::always);
  view->mouseUp(click(16, 0));
  EXPECT_TRUE(links.opened.empty());
  view->mouseUp(click(2, 0));
  EXPECT_EQ(links.opened.size(), 1u);
}

TEST_F(LinkInputTest, HoverModeOpensOnlyTheHighlightedLink) {
  view->setLinkHighlightMode(TerminalView::LinkHighlightMode::hover);
  EXPECT_FALSE(view->linkForClick(Position(2, 0), false));
  MouseRecord move = click(2, 0);
  move.kind = MouseRecord::Kind::moved;
  view->mouseMoved(move);
  ASSERT_TRUE(view->linkState.linkHighlightRange);
  EXPECT_EQ(view->linkState.linkHighlightRange->front().upper, 8);
  EXPECT_FALSE(view->linkForClick(Position(16, 0), false));
  EXPECT_TRUE(view->linkForClick(Position(2, 0), false));
  view->mouseExited();
  EXPECT_FALSE(view->linkState.linkHighlightRange);
}

TEST_F(LinkInputTest, ReleasingTheModifierDropsPreviewAndUnderline) {
  MouseRecord move = click(2, 0);
  move.kind = MouseRecord::Kind::moved;
  view->mouseMoved(move);
  EXPECT_FALSE(view->linkState.linkHighlightRange);
  view->flagsChanged(KeyRecord::make(GDK_KEY_Control_L), true);
  EXPECT_TRUE(view->commandActive);
  EXPECT_TRUE(view->linkState.urlPreview);
  EXPECT_TRUE(view->linkState.linkHighlightRange);
  EXPECT_EQ(view->linkState.lastReportedLink, "https://example.com/a");
  view->flagsChanged(KeyRecord::make(GDK_KEY_Control_L, testing::InputTest::control()), false);
  EXPECT_FALSE(view->commandActive);
  EXPECT_FALSE(view->linkState.urlPreview);
  EXPECT_FALSE(view->linkState.linkHighlightRange);
  EXPECT_FALSE(view->linkState.lastReportedLink);
  // Released where the view could not hear it: the next motion without it ends the preview.
  view->flagsChanged(KeyRecord::make(GDK_KEY_Control_L), true);
  ASSERT_TRUE(view->linkState.urlPreview);
  view->mouseMoved(move);
  EXPECT_FALSE(view->commandActive);
  EXPECT_FALSE(view->linkState.urlPreview);
  EXPECT_FALSE(view->linkState.linkHighlightRange);
}

// With the modifier held, the preview shows the target of the explicit link under the pointer
// only: moved onto a plain URL it goes, and the underline follows that URL.
TEST_F(LinkInputTest, ThePreviewLeavesWithTheExplicitLink) {
  auto at = [this](int col) {
    MouseRecord move = click(col, 0, testing::InputTest::control());
    move.kind = MouseRecord::Kind::moved;
    return move;
  };
  view->mouseMoved(at(2));
  view->flagsChanged(KeyRecord::make(GDK_KEY_Control_L), true);
  ASSERT_TRUE(view->linkState.urlPreview);
  view->mouseMoved(at(16));
  EXPECT_FALSE(view->linkState.urlPreview);
  EXPECT_EQ(view->linkState.lastReportedLink, "https://implicit.example/x");
  view->mouseMoved(at(3));
  EXPECT_TRUE(view->linkState.urlPreview);
}

}  // namespace
}  // namespace vantrelle
