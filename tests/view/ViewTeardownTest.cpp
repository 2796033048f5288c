// A view that goes lets go of what it started: the timer that clears a progress report, the
// timer that scrolls a drag, and the children it shows (find bar, link preview, composition).
#include <gtest/gtest.h>

#include "InputTestSupport.h"

namespace vantrelle {
namespace {

using ViewTeardown = testing::InputTest;

TEST_F(ViewTeardown, ADestroyedViewStopsItsTimersAndFreesItsChildren) {
  view->handleProgressReport({ProgressReportState::set, 40});
  auto progressTimer = view->progress.progressReportTimer;
  ASSERT_TRUE(progressTimer);

  for (int i = 0; i < 200; i++) view->feed("row\r\n");
  MouseRecord drag;
  drag.kind = MouseRecord::Kind::dragged;
  drag.y = -4 * 16;
  view->mouseDragged(drag);
  guint autoScroll = view->mouseState.selectionAutoScrollTimer.get();
  ASSERT_NE(autoScroll, 0u);

  view->showFindBar(false);
  view->setMarkedText("ka", 2);
  ASSERT_TRUE(view->findState.findBar && view->composition.markedTextOverlay);
  GObject* children[] = {G_OBJECT(view->findState.findBar->gobj()),
                         G_OBJECT(view->composition.markedTextOverlay->gobj())};
  for (GObject*& child : children) g_object_add_weak_pointer(child, reinterpret_cast<gpointer*>(&child));

  view.reset();
  EXPECT_TRUE(progressTimer->isCancelled());
  EXPECT_EQ(g_main_context_find_source_by_id(nullptr, autoScroll), nullptr);
  for (GObject* child : children) EXPECT_EQ(child, nullptr);
}

}  // namespace
}  // namespace vantrelle
