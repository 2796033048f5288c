// Switching a view between the Cairo path and the GPU path, and the renderer's blink timer.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "Vantrelle/GPU/GLDevice.h"
#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/TerminalView.h"
#include "tests/TemporaryFolder.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

class GpuHosting : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->scaleFactorOverride = 1.0;
    view->size_allocate(Gtk::Allocation(0, 0, 320, 120), -1);
  }
  std::unique_ptr<TerminalView> view;
};

TEST_F(GpuHosting, SwitchingOnAndOff) {
  view->setUseMetal(false);  // never on: nothing happens
  EXPECT_FALSE(view->isUsingMetalRenderer());
  EXPECT_NE(dynamic_cast<CairoDrawingPath*>(&view->drawingPath()), nullptr);

  view->setDrawingPath(GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders")));
  EXPECT_TRUE(view->isUsingMetalRenderer());
  view->setUseMetal(true);  // already on: the same path stays
  EXPECT_NE(dynamic_cast<GpuDrawingPath*>(&view->drawingPath()), nullptr);
  view->caretView->freeze();
  view->setUseMetal(false);
  EXPECT_FALSE(view->isUsingMetalRenderer());
  EXPECT_NE(dynamic_cast<CairoDrawingPath*>(&view->drawingPath()), nullptr);
  // Back on the Cairo path the caret widget blinks again in its blinking style.
  EXPECT_TRUE(view->caretView->isBlinking());
}

TEST_F(GpuHosting, AProgramLooksForTheShadersOnlyInItsOwnTree) {
  // The test executable has no bundle beside it; the build's bundle and the sources, which have
  // the shaders, are not its own.
  EXPECT_THROW(view->setUseMetal(true), MetalError);
  EXPECT_FALSE(view->isUsingMetalRenderer());
}

TEST_F(GpuHosting, AFailedSwitchKeepsTheCairoPath) {
  // The renderer finds no shaders where it is sent to read them.
  view->gpuState.shaderDirectory = "/nonexistent/shaders";
  view->caretView->restartLook();
  EXPECT_THROW(view->setUseMetal(true), MetalError);
  EXPECT_FALSE(view->isUsingMetalRenderer());
  EXPECT_TRUE(view->caretView->isBlinking());
  EXPECT_NE(dynamic_cast<CairoDrawingPath*>(&view->drawingPath()), nullptr);
}

TEST_F(GpuHosting, BlinkTimerRunsOnlyForBlinkingVisibleFocusedCursors) {
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  auto& renderer = path->renderer_();
  view->getTerminal().options.cursorStyle = CursorStyle::blinkBlock;
  // Without the focus the cursor is still.
  ASSERT_TRUE(path->render());
  EXPECT_FALSE(renderer.cursorBlinkTimer);
  view->becomeFirstResponder();
  ASSERT_TRUE(path->render());
  EXPECT_TRUE(renderer.cursorBlinkTimer);
  renderer.cursorBlinkOn = false;
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  ASSERT_TRUE(path->render());
  EXPECT_FALSE(renderer.cursorBlinkTimer);
  EXPECT_TRUE(renderer.cursorBlinkOn);
  view->getTerminal().options.cursorStyle = CursorStyle::blinkBar;
  view->getTerminal().cursorHidden = true;
  ASSERT_TRUE(path->render());
  EXPECT_FALSE(renderer.cursorBlinkTimer);
}

// As the caret widget's, the drawn cursor's blink rests, shown fully, once the desktop's blink
// time-out passed without a key, and a key wakes it.
TEST_F(GpuHosting, TheBlinkRestsAfterTheDesktopsTimeOutAndAKeyWakesIt) {
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  auto& renderer = path->renderer_();
  view->getTerminal().options.cursorStyle = CursorStyle::blinkBlock;
  view->becomeFirstResponder();
  GtkSettings* settings = gtk_widget_get_settings(GTK_WIDGET(view->gobj()));
  int saved = 10;
  g_object_get(settings, "gtk-cursor-blink-timeout", &saved, nullptr);
  g_object_set(settings, "gtk-cursor-blink-timeout", 1, nullptr);
  ASSERT_TRUE(path->render());
  ASSERT_TRUE(renderer.cursorBlinkTimer);
  // The first frame after the time-out ends the blink, whatever step it was at.
  auto until = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
  while (view->caretView->blinkAllowedNow() && g_get_monotonic_time() < until) g_main_context_iteration(nullptr, TRUE);
  renderer.cursorBlinkOn = false;
  ASSERT_TRUE(path->render());
  EXPECT_FALSE(renderer.cursorBlinkTimer);
  EXPECT_TRUE(renderer.cursorBlinkOn);
  ASSERT_TRUE(path->render());
  EXPECT_FALSE(renderer.cursorBlinkTimer) << "a frame without a key restarted the blink";
  view->send(std::string("k"));
  ASSERT_TRUE(path->render());
  EXPECT_TRUE(renderer.cursorBlinkTimer);
  g_object_set(settings, "gtk-cursor-blink-timeout", saved, nullptr);
}

TEST_F(GpuHosting, ScaleOverrideSetsTheDrawableSize) {
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  view->setMetalScaleFactorOverride(2.0);
  auto frame = path->render();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 640);
  view->setMetalScaleFactorOverride(0.5);  // below 1 draws at 1
  frame = path->render();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->width, 320);
}

// The frame's pixels are kept between frames at the size drawn, not at the largest ever drawn.
// A frame hands GTK the nodes of the pixel bands it left as they were from the frame before, so
// that GTK copies and composites only what changed, not the whole view.
TEST_F(GpuHosting, AFrameRemakesOnlyTheBandsWhosePixelsChanged) {
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  view->getTerminal().cursorHidden = true;
  auto frameNodes = [&] {
    auto snapshot = Gtk::Snapshot::create();
    EXPECT_TRUE(path->snapshot(snapshot));
    std::unique_ptr<GskRenderNode, void (*)(GskRenderNode*)> root(gtk_snapshot_to_node(snapshot->gobj()),
                                                                  gsk_render_node_unref);
    std::vector<std::unique_ptr<GskRenderNode, void (*)(GskRenderNode*)>> nodes;
    if (root && gsk_render_node_get_node_type(root.get()) == GSK_CONTAINER_NODE) {
      for (guint i = 0; i < gsk_container_node_get_n_children(root.get()); i++)
        nodes.emplace_back(gsk_render_node_ref(gsk_container_node_get_child(root.get(), i)), gsk_render_node_unref);
    } else if (root) {
      nodes.emplace_back(gsk_render_node_ref(root.get()), gsk_render_node_unref);
    }
    return nodes;
  };
  view->feed(std::string("one\r\ntwo\r\nthree"));
  auto before = frameNodes();
  ASSERT_GT(before.size(), 1u);
  // The last of five rows of 17 pixels: pixels 68-84, band 2 of 32 pixel rows.
  view->feed(std::string("\x1b[5;1Hfive"));
  auto after = frameNodes();
  ASSERT_EQ(after.size(), before.size());
  for (size_t band = 0; band < after.size(); band++) EXPECT_EQ(after[band] != before[band], band == 2) << band;
}

TEST_F(GpuHosting, TheKeptPixelsFollowTheFrameDownAfterALargeOne) {
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  view->size_allocate(Gtk::Allocation(0, 0, 1600, 900), -1);
  ASSERT_TRUE(path->render());
  view->size_allocate(Gtk::Allocation(0, 0, 320, 120), -1);
  ASSERT_TRUE(path->render());
  EXPECT_EQ(path->pixelBytesHeld(), 2u * 320 * 120 * 4);
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

TEST_F(GpuHosting, AFailedRebindFallsBackToCairo) {
  view->rebindMetalRendererToWindow();  // off: nothing to rebind
  EXPECT_FALSE(view->isUsingMetalRenderer());

  const ::testing::TemporaryFolder folder("gpu-rebind-shaders");
  std::string shaders = (folder.path() / "shaders").string();
  std::filesystem::create_directories(shaders);
  for (const char* name : requiredShaderFunctions) {
    std::filesystem::copy_file(std::string(ZORVEL_SOURCE_DIR "/shaders/") + name + ".glsl",
                               shaders + "/" + name + ".glsl", std::filesystem::copy_options::overwrite_existing);
  }
  view->setDrawingPath(GpuDrawingPath::make(*view, shaders));
  view->rebindMetalRendererToWindow();
  EXPECT_NE(dynamic_cast<GpuDrawingPath*>(&view->drawingPath()), nullptr);

  // The shaders are gone by the time the view needs a new renderer.
  std::filesystem::remove_all(shaders);
  view->rebindMetalRendererToWindow();
  EXPECT_FALSE(view->isUsingMetalRenderer());
  EXPECT_NE(dynamic_cast<CairoDrawingPath*>(&view->drawingPath()), nullptr);
}

}  // namespace
}  // namespace vantrelle

#include <gtkmm/window.h>

namespace vantrelle {
namespace {

TEST_F(GpuHosting, AWindowShowsTheGpuFrames) {
  Gtk::Window window;
  window.set_default_size(400, 200);
  window.set_child(*view);
  view->setDrawingPath(GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders")));
  auto& renderer = static_cast<GpuDrawingPath&>(view->drawingPath()).renderer_();
  view->feed(std::string("hello from the GPU"));
  window.present();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (renderer.passesInLastBuild == 0 && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, FALSE);
  }
  EXPECT_GT(renderer.passesInLastBuild, 0);
  window.unset_child();
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// The GPU path draws the cursor into its frames, so the focus leaving or coming back needs a
// frame even when nothing else changed: a steady cursor never blinks one into being.
TEST_F(GpuHosting, AChangeOfFocusDrawsAFrame) {
  Gtk::Window window;
  window.set_default_size(400, 200);
  window.set_child(*view);
  view->setDrawingPath(GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders")));
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  window.present();
  auto pumpUntil = [](auto done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, FALSE);
    return done();
  };
  ASSERT_TRUE(pumpUntil([&] { return view->contentFramesDrawn > 0; }));
  for (bool focused : {true, false, true}) {
    // Let any frame still on its way arrive first.
    uint64_t before = 0;
    do {
      before = view->contentFramesDrawn;
      auto settle = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
      while (std::chrono::steady_clock::now() < settle) g_main_context_iteration(nullptr, FALSE);
    } while (view->contentFramesDrawn != before);
    focused ? view->becomeFirstResponder() : view->resignFirstResponder();
    EXPECT_TRUE(pumpUntil([&] { return view->contentFramesDrawn > before; })) << "focused " << focused;
  }
  window.unset_child();
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// A frame the GL context cannot draw would leave the view blank; the view goes back to Cairo.
TEST_F(GpuHosting, AFrameTheContextCannotDrawFallsBackToCairo) {
  view->setDrawingPath(GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders")));
  // Wider than any framebuffer a GL implementation holds.
  view->size_allocate(Gtk::Allocation(0, 0, 70000, 40), -1);
  EXPECT_FALSE(static_cast<GpuDrawingPath&>(view->drawingPath()).render());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (view->isUsingMetalRenderer() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, FALSE);
  }
  EXPECT_FALSE(view->isUsingMetalRenderer());
  EXPECT_NE(dynamic_cast<CairoDrawingPath*>(&view->drawingPath()), nullptr);
}

}  // namespace
}  // namespace vantrelle
