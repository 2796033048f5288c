// What a focused terminal with nothing to show costs: its blinking caret repaints itself alone,
// only when its level changes, and rests after the desktop's blink time-out. The window tests
// need the display's focus, so they run with the display tests.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <cmath>
#include <vector>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

TEST(IdleFrames, TheShownBlinkLevelChangesExactlyWhereTheStepScheduleSays) {
  const double cycle = 2 * CaretView::blinkPhaseSeconds;
  for (int levels : {CaretView::coarseBlinkLevels, CaretView::smoothBlinkLevels}) {
    int changes = 0;
    for (double t = 0; t < 2 * cycle; t += 0.013) {
      double level = CaretView::steppedBlinkOpacity(t, levels);
      EXPECT_NEAR(level * levels, std::round(level * levels), 1e-9) << t;
      double next = CaretView::secondsToNextBlinkStep(t, levels);
      ASSERT_GT(next, 0) << t;
      ASSERT_LE(next, cycle) << t;
      // Nothing changes before the step; at the step the level differs, unless the cycle merely
      // wraps around at full opacity.
      EXPECT_EQ(CaretView::steppedBlinkOpacity(t + next - 1e-4, levels), level) << t;
      double after = CaretView::steppedBlinkOpacity(t + next + 1e-4, levels);
      if (std::fmod(t + next + 1e-4, cycle) > 1e-3) {
        EXPECT_NE(after, level) << t;
      }
      if (CaretView::steppedBlinkOpacity(t + 0.013, levels) != level) changes++;
    }
    // The fade reaches both ends, through every level once each way.
    EXPECT_EQ(CaretView::steppedBlinkOpacity(0, levels), 1.0);
    EXPECT_EQ(CaretView::steppedBlinkOpacity(CaretView::blinkPhaseSeconds, levels), 0.0);
    EXPECT_EQ(changes, 2 * 2 * levels) << levels << " levels";
  }
}

class FocusedWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    window = std::make_unique<Gtk::Window>();
    window->set_default_size(480, 240);
    view = std::make_unique<TerminalView>();
    window->set_child(*view);
    window->present();
    view->feed("prompt$ ");
    ASSERT_TRUE(testing::pumpUntil([&] { return view->get_mapped() && view->contentFramesDrawn > 0; }));
    caret = view->caretView.get();
    ASSERT_TRUE(testing::pumpUntil([&] { return caret->get_mapped(); }));
    // An inactive window stills the caret; these tests run alone on the display, so it gets the focus.
    ASSERT_TRUE(testing::pumpUntil([&] { return window->is_active(); }));
  }
  void TearDown() override {
    window->unset_child();
    window->destroy();
  }
  std::unique_ptr<Gtk::Window> window;
  std::unique_ptr<TerminalView> view;
  CaretView* caret = nullptr;
};

TEST_F(FocusedWindow, ABlinkingCaretRepaintsOnlyItselfAndOnlyOnANewLevel) {
  caret->updateAnimation(true);
  // Counted from the first level change on: the window's own start-up frames (its focus arriving
  // among them) may still be drawing before it.
  uint64_t content = 0;
  // Every caret frame from the first level change on, with the level it showed.
  std::vector<double> shown;
  uint64_t seen = caret->framesDrawn;
  ASSERT_TRUE(testing::pumpUntil([&] {
    if (caret->framesDrawn != seen) {
      seen = caret->framesDrawn;
      if (shown.empty()) content = view->contentFramesDrawn;
      if (caret->opacity() != 1.0 || !shown.empty()) shown.push_back(caret->opacity());
    }
    // A whole fade out and back in.
    return shown.size() >= size_t(2 * caret->blinkLevels());
  }));
  EXPECT_EQ(view->contentFramesDrawn, content) << "the terminal redrew its own contents for the caret";
  for (size_t i = 1; i < shown.size(); i++) EXPECT_NE(shown[i], shown[i - 1]) << "a caret frame with nothing new";
  EXPECT_EQ(shown[size_t(caret->blinkLevels() - 1)], 0.0);
}

TEST_F(FocusedWindow, TheBlinkRestsAfterTheDesktopsTimeOutAndWakesOnInput) {
  GtkSettings* settings = gtk_widget_get_settings(GTK_WIDGET(view->gobj()));
  int saved = 10;
  g_object_get(settings, "gtk-cursor-blink-timeout", &saved, nullptr);
  g_object_set(settings, "gtk-cursor-blink-timeout", 1, nullptr);
  caret->updateAnimation(true);
  EXPECT_TRUE(caret->isBlinkRunning());
  EXPECT_TRUE(testing::pumpUntil([&] { return !caret->isBlinkRunning(); }));
  // At rest the caret shows fully and draws nothing more.
  EXPECT_EQ(caret->opacity(), 1.0);
  EXPECT_TRUE(caret->isBlinking());
  view->send(std::string("k"));
  EXPECT_TRUE(caret->isBlinkRunning());
  g_object_set(settings, "gtk-cursor-blink-timeout", saved, nullptr);
}

}  // namespace
}  // namespace vantrelle
