// The progress strip: bar widths, the sliding segment and its track, colours and hiding.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

class ProgressBarViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    owned = std::make_unique<TerminalProgressBarView>();
  }
  std::unique_ptr<TerminalProgressBarView> owned;
  TerminalProgressBarView& bar() { return *owned; }
};

TEST_F(ProgressBarViewTest, APercentageShowsABarThatWideWithoutTrack) {
  bar().apply(ProgressReportState::error, 40);
  bar().relayout(200, 2);
  EXPECT_TRUE(bar().get_visible());
  EXPECT_DOUBLE_EQ(bar().barFrame().width, 80);
  EXPECT_FALSE(bar().trackVisible());
  EXPECT_FALSE(bar().isSliding());
  EXPECT_GT(bar().barColor().red, 0.8);
  EXPECT_LT(bar().barColor().green, 0.2);
  // A resize takes effect at once.
  bar().relayout(100, 2);
  EXPECT_DOUBLE_EQ(bar().barFrame().width, 40);
  // Out-of-range percentages from the program stop at full.
  bar().apply(ProgressReportState::set, 250);
  bar().relayout(100, 2);
  EXPECT_DOUBLE_EQ(bar().barFrame().width, 100);
}

TEST_F(ProgressBarViewTest, WithoutAPercentageASegmentSlidesOverATrack) {
  bar().apply(ProgressReportState::pause, std::nullopt);
  bar().relayout(200, 2);
  EXPECT_TRUE(bar().trackVisible());
  EXPECT_TRUE(bar().isSliding());
  EXPECT_DOUBLE_EQ(bar().barFrame().width, 50);
  ViewColor orange = bar().barColor();
  EXPECT_GT(orange.red, 0.9);
  EXPECT_GT(orange.green, 0.4);
  // Nothing to slide across in a strip of no width.
  bar().relayout(0, 2);
  EXPECT_FALSE(bar().isSliding());
  bar().relayout(200, 2);
  bar().apply(ProgressReportState::remove, std::nullopt);
  EXPECT_FALSE(bar().get_visible());
  EXPECT_FALSE(bar().isSliding());
}

}  // namespace
}  // namespace vantrelle
