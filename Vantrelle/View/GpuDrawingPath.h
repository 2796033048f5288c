#pragma once
// The view's drawing path through the GPU renderer.
#include <gdk/gdk.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/GPU/FrameSnapshot.h"
#include "Vantrelle/View/DrawingPath.h"
#include "Vantrelle/View/PixelNodes.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

class MetalTerminalRenderer;

class GpuDrawingPath : public TerminalDrawingPath {
 public:
  // Throws MetalError when no GL 3.3 context or no renderer can be made.
  static std::unique_ptr<GpuDrawingPath> make(TerminalView& view,
                                              std::optional<std::string> shaderDirectory = std::nullopt);
  ~GpuDrawingPath() override;
  void invalidate(const ViewRect& rect) override;
  void invalidateAll() override;
  void rowsChanged(int start, int end) override;
  void cursorMayHaveChanged() override;
  bool snapshot(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  bool drawsCursor() const override { return true; }

  // One frame's pixels, B G R A premultiplied, first row at the top.
  struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
  };
  std::optional<Frame> render();
  // What the renderer reads of the view for the next frame.
  FrameSnapshot viewSnapshot() const;
  MetalTerminalRenderer& renderer_() { return *renderer; }
  // Where the shaders came from, so that a rebuilt path finds the same ones.
  const std::optional<std::string>& shaderDirectory() const { return shaders; }
  GdkDisplay* display() const { return gdk_gl_context_get_display(context.get()); }
  // The bytes the frame's pixels are kept in between frames.
  size_t pixelBytesHeld() const { return readback.capacity() + pixels.capacity(); }

 private:
  GpuDrawingPath(TerminalView& view, platform::GObjectPtr<GdkGLContext> context, std::optional<std::string> shaders);
  void rootChanged();
  // Draws a frame into `pixels`; false when there is none to draw.
  bool renderInPlace();
  bool renderFrame();
  void fallBackToCairo(const std::string& reason);
  TerminalView& view;
  platform::GObjectPtr<GdkGLContext> context;
  std::unique_ptr<MetalTerminalRenderer> renderer;
  unsigned framebuffer = 0;
  unsigned colorBuffer = 0;
  int framebufferWidth = 0;
  int framebufferHeight = 0;
  // The last frame as read back (bottom row first) and as shown (top row first).
  std::vector<uint8_t> readback;
  std::vector<uint8_t> pixels;
  // The shown frame cut into bands of whole pixel rows, each a node of its own, made again only
  // when pixels in it changed; `bandsScale` is the scale they were drawn at.
  static constexpr int bandHeightPx = 32;
  std::vector<RenderNodePtr> bands;
  bool bandsForCairo = false;
  double bandsScale = 0;
  std::optional<std::string> shaders;
  sigc::connection rootConnection;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  // Why the last frame could not be drawn, when the context can draw no more.
  std::optional<std::string> failure;
  bool fallingBack = false;
};

}  // namespace vantrelle
