// The GPU drawing path: an OpenGL 3.3 core context of the view's display renders the frame into
// an offscreen framebuffer through the renderer, and the frame is shown as a texture in the
// view's snapshot. The renderer draws the cursor itself, so the caret widget stays hidden.
#include <epoxy/gl.h>
#include <glibmm/main.h>
#include <gtkmm/root.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "Vantrelle/GPU/GLDevice.h"
#include "Vantrelle/GPU/GpuLog.h"
#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/CaretView.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/PixelNodes.h"
#include "Vantrelle/View/TerminalView.h"
#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace vantrelle {

namespace {

const platform::Logger& viewLog() {
  static const platform::Logger log("dev.vantrelle.engine", "default");
  return log;
}

// The display's own reason, which the error the caller gets cannot carry.
void logNoContext(const platform::GErrorPtr& error) {
  viewLog().error("Vantrelle: no OpenGL 3.3 context for the GPU renderer: %{public}s",
                  error && error->message ? error->message : "unknown reason");
}

}  // namespace

std::unique_ptr<GpuDrawingPath> GpuDrawingPath::make(TerminalView& view, std::optional<std::string> shaderDirectory) {
  platform::GErrorPtr error;
  platform::GObjectPtr<GdkGLContext> context(
      gdk_display_create_gl_context(view.get_display()->gobj(), platform::out(error)));
  if (!context) {
    logNoContext(error);
    throw MetalError::deviceUnavailable();
  }
  gdk_gl_context_set_allowed_apis(context.get(), GDK_GL_API_GL);
  gdk_gl_context_set_required_version(context.get(), 3, 3);
  gdk_gl_context_set_forward_compatible(context.get(), TRUE);
  if (!gdk_gl_context_realize(context.get(), platform::out(error))) {
    logNoContext(error);
    throw MetalError::deviceUnavailable();
  }
  gdk_gl_context_make_current(context.get());
  auto path = std::unique_ptr<GpuDrawingPath>(new GpuDrawingPath(view, std::move(context), shaderDirectory));
  // A failed renderer leaves nothing behind: the path (and its context) go with the exception.
  TerminalView* target = &view;
  path->renderer = std::make_unique<MetalTerminalRenderer>([target] { target->queueMetalDisplay(); },
                                                           std::make_shared<GLDevice>(), shaderDirectory);
  return path;
}

GpuDrawingPath::GpuDrawingPath(TerminalView& view, platform::GObjectPtr<GdkGLContext> context,
                               std::optional<std::string> shaders)
    : view(view), context(std::move(context)), shaders(std::move(shaders)) {
  rootConnection = view.property_root().signal_changed().connect([this] { rootChanged(); });
}

// A GL context belongs to one display; a view that moves to a window on another display needs a
// renderer made there. The switch runs from the main loop, since it replaces this path.
void GpuDrawingPath::rootChanged() {
  auto* root = view.get_root();
  if (!root || dynamic_cast<Gtk::Widget*>(root)->get_display()->gobj() == display()) return;
  std::weak_ptr<bool> token = alive;
  TerminalView* target = &view;
  Glib::signal_idle().connect_once([token, target] {
    if (!token.expired()) target->rebindMetalRendererToWindow();
  });
}

GpuDrawingPath::~GpuDrawingPath() {
  *alive = false;
  rootConnection.disconnect();
  gdk_gl_context_make_current(context.get());
  renderer.reset();
  if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
  if (colorBuffer) glDeleteRenderbuffers(1, &colorBuffer);
  gdk_gl_context_clear_current();
}

void GpuDrawingPath::invalidate(const ViewRect&) { view.queue_draw(); }

void GpuDrawingPath::invalidateAll() {
  view.gpuState.metalDirtyRange = std::pair{0, INT_MAX};
  view.queue_draw();
}

void GpuDrawingPath::rowsChanged(int start, int end) {
  int yDisp = view.getTerminal().buffer->yDisp;
  std::pair<int, int> lines{yDisp + start, yDisp + end};
  if (view.gpuState.metalDirtyRange) {
    lines.first = std::min(lines.first, view.gpuState.metalDirtyRange->first);
    lines.second = std::max(lines.second, view.gpuState.metalDirtyRange->second);
  }
  view.gpuState.metalDirtyRange = lines;
  view.queue_draw();
}

void GpuDrawingPath::cursorMayHaveChanged() { view.queue_draw(); }

std::optional<GpuDrawingPath::Frame> GpuDrawingPath::render() {
  if (!renderInPlace()) return std::nullopt;
  return Frame{framebufferWidth, framebufferHeight, pixels};
}

bool GpuDrawingPath::renderInPlace() {
  // GTK's own renderer may have its context current; it gets it back afterwards.
  GdkGLContext* current = gdk_gl_context_get_current();
  platform::GObjectPtr<GdkGLContext> previous(current ? GDK_GL_CONTEXT(g_object_ref(current)) : nullptr);
  failure.reset();
  bool drawn = renderFrame();
  if (previous) {
    gdk_gl_context_make_current(previous.get());
  } else {
    gdk_gl_context_clear_current();
  }
  if (failure) fallBackToCairo(*failure);
  return drawn;
}

// A frame the context cannot draw (it was lost, or the frame is beyond what it can hold) would
// leave the view blank for as long as it stays so: the view goes back to Cairo, which draws any
// size, and says why. The switch runs from the main loop, since it replaces this path.
void GpuDrawingPath::fallBackToCairo(const std::string& reason) {
  if (fallingBack) return;
  fallingBack = true;
  viewLog().error("Vantrelle: OpenGL frame could not be drawn; falling back to Cairo: %{public}s", reason.c_str());
  std::weak_ptr<bool> token = alive;
  TerminalView* target = &view;
  Glib::signal_idle().connect_once([token, target] {
    if (!token.expired()) target->updateMetalRenderer(false);
  });
}

namespace {

// Errors after which the context draws nothing more: lost, or out of memory.
std::optional<std::string> contextFailure() {
  std::optional<std::string> failure;
  for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError()) {
    if (error == GL_CONTEXT_LOST) failure = "the OpenGL context was lost";
    if (error == GL_OUT_OF_MEMORY && !failure) failure = "the OpenGL context ran out of memory";
  }
  return failure;
}

}  // namespace

FrameSnapshot GpuDrawingPath::viewSnapshot() const {
  FrameSnapshot frame;
  frame.terminal = &view.getTerminal();
  frame.rows = view.rowAnalysis();
  frame.bounds = view.frame();
  frame.cellSize = view.cellDimension;
  frame.metrics = view.fontMetrics();
  frame.fonts = view.fontSet;
  frame.pango = view.get_pango_context();
  frame.foreground = view.nativeForegroundColor();
  frame.background = view.nativeBackgroundColor();
  frame.caretColor = view.caretColor();
  frame.caretTextColor = view.caretTextColor();
  frame.caretFocused = !view.caretViewTracksFocus() || view.hasFocus();
  frame.cursorMayBlink = view.hasFocus() && (!view.caretView || view.caretView->blinkAllowedNow());
  frame.customBlockGlyphs = view.getCustomBlockGlyphs();
  frame.antiAliasCustomBlockGlyphs = view.getAntiAliasCustomBlockGlyphs();
  frame.fontSmoothing = view.fontSmoothing();
  frame.backingScale = view.backingScaleFactor();
  frame.scale = std::max(view.metalScaleFactorOverride().value_or(frame.backingScale), 1.0);
  frame.bufferingMode = view.gpuState.metalBufferingMode;
  frame.dirtyRows = view.gpuState.metalDirtyRange;
  return frame;
}

bool GpuDrawingPath::renderFrame() {
  FrameSnapshot snapshot = viewSnapshot();
  double scale = snapshot.scale;
  ViewSize size = snapshot.bounds;
  int width = int(std::ceil(size.width * scale)), height = int(std::ceil(size.height * scale));
  if (width <= 0 || height <= 0) return false;
  gdk_gl_context_make_current(context.get());
  ProfileInterval drawable("Metal.CurrentDrawable");
  if (width != framebufferWidth || height != framebufferHeight) {
    if (!framebuffer) glGenFramebuffers(1, &framebuffer);
    if (!colorBuffer) glGenRenderbuffers(1, &colorBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colorBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer);
    framebufferWidth = width, framebufferHeight = height;
  }
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  drawable.end();
  ProfileInterval renderPass("Metal.RenderPass");
  if (GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER); status != GL_FRAMEBUFFER_COMPLETE) {
    // Forget the size, so that a later frame makes the storage again.
    framebufferWidth = framebufferHeight = 0;
    failure = contextFailure().value_or("no framebuffer of " + std::to_string(width) + " by " + std::to_string(height) +
                                        " pixels (status " + std::to_string(status) + ")");
    return false;
  }
  renderPass.end();
  if (!renderer->draw(snapshot, width, height, scale)) return false;
  if ((failure = contextFailure())) return false;
  // The rows marked changed are built now.
  view.gpuState.metalDirtyRange.reset();
  // Kept from frame to frame: a new pair of frame-sized buffers, zeroed, for every frame cost
  // more than reading the frame back. Made anew for a new size, so that a window once large does
  // not keep buffers of that size.
  const size_t stride = size_t(width) * 4;
  if (pixels.size() != stride * height || scale != bandsScale) {
    readback = std::vector<uint8_t>(stride * height);
    pixels = std::vector<uint8_t>(stride * height);
    bands.clear();
    bands.resize(size_t((height + bandHeightPx - 1) / bandHeightPx));
    bandsScale = scale;
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, readback.data());
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  // The framebuffer's first row is the bottom one; images start at the top. A band whose rows come
  // out as they were keeps its node, so that GTK copies and composites only the bands that changed
  // (a caret's blink, a row of output), not the whole view every frame.
  for (size_t band = 0; band < bands.size(); band++) {
    const int top = int(band) * bandHeightPx, end = std::min(top + bandHeightPx, height);
    bool same = bands[band] != nullptr;
    for (int r = top; r < end; r++) {
      const uint8_t* from = &readback[size_t(height - 1 - r) * stride];
      uint8_t* to = &pixels[size_t(r) * stride];
      if (same && std::memcmp(from, to, stride) == 0) continue;
      same = false;
      std::copy_n(from, stride, to);
    }
    if (!same) bands[band].reset();
  }
  return true;
}

bool GpuDrawingPath::snapshot(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  if (!renderInPlace()) return false;
  const bool forCairo = paintsWithCairo(view);
  if (forCairo != bandsForCairo) {
    for (auto& band : bands) band.reset();
    bandsForCairo = forCairo;
  }
  const int stride = framebufferWidth * 4;
  for (size_t band = 0; band < bands.size(); band++) {
    if (!bands[band]) {
      const int top = int(band) * bandHeightPx, height = std::min(bandHeightPx, framebufferHeight - top);
      PixelRows rows{pixels.data() + size_t(top) * size_t(stride), stride, framebufferWidth, height};
      graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, float(top / bandsScale), float(framebufferWidth / bandsScale),
                                                  float(height / bandsScale));
      bands[band] = makePixelNode(rows, bounds, forCairo);
    }
    gtk_snapshot_append_node(snapshot->gobj(), bands[band].get());
  }
  view.contentFramesDrawn++;
  return true;
}

// ---- The view's side ----

void TerminalView::setUseMetal(bool value) {
  if (value == gpuState.useMetalRenderer) return;
  updateMetalRenderer(value);
}

void TerminalView::updateMetalRenderer(bool enabled) {
  if (!enabled) {
    setDrawingPath(nullptr);
    restartCaretLook();
    return;
  }
  if (dynamic_cast<GpuDrawingPath*>(path.get())) return;
  setDrawingPath(GpuDrawingPath::make(*this, gpuState.shaderDirectory));
  // The renderer draws the cursor; the caret widget stays hidden, and still.
  freezeCaret();
}

void TerminalView::rebindMetalRendererToWindow() {
  auto* current = dynamic_cast<GpuDrawingPath*>(path.get());
  if (!gpuState.useMetalRenderer || !current) return;
  try {
    setDrawingPath(GpuDrawingPath::make(*this, current->shaderDirectory()));
  } catch (const MetalError& error) {
    disableMetalRendererAfterRebindFailure(error);
  }
}

void TerminalView::disableMetalRendererAfterRebindFailure(const MetalError& error) {
  platform::Logger("dev.vantrelle.engine", "default")
      .error("Vantrelle: Metal renderer rebind failed; falling back to CoreGraphics: %{public}s",
             error.description().c_str());
  updateMetalRenderer(false);
}

void TerminalView::setMetalScaleFactorOverride(std::optional<double> value) {
  bool changed = value != gpuState._metalScaleFactorOverride;
  gpuState._metalScaleFactorOverride = value;
  if (changed && gpuState.useMetalRenderer) queue_draw();
}

}  // namespace vantrelle
