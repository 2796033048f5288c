// Display scheduling: host output is coalesced into one redraw per frame interval, output that
// answers the user's typing is drawn at once, other output while the user types is spaced out so
// that the echo of the next key finds a frame free, and only the rows that changed are repainted.
#include <gdkmm/frameclock.h>
#include <gtk/gtk.h>
#include <gtkmm/snapshot.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <utility>

#include "Vantrelle/View/PromptFrame.h"
#include "Vantrelle/View/TerminalView.h"
#include "platform/Dispatch.h"

namespace vantrelle {

using platform::uptimeNanoseconds;

void TerminalView::queuePendingDisplay() {
  if (terminal->synchronizedOutputActive || pendingDisplay) return;
  pendingDisplay = true;
  // The queued redraw keeps the view's lifetime token so that it cannot outlive the view, and runs
  // only for the request it was made for.
  std::weak_ptr<TerminalView*> weak = lifetime;
  uint64_t request = ++displayRequest;
  auto redraw = [weak, request] {
    auto alive = weak.lock();
    if (!alive || !*alive) return;
    TerminalView& view = **alive;
    if (!view.pendingDisplay || view.displayRequest != request) return;
    view.updateDisplay(true);
    view.updateDebugView();
    view.pendingDisplay = false;
  };
  // Shown, the redraw waits for the display's next frame: output that keeps coming is drawn once on
  // every beat, where a timer of its own would drift against the beat and miss every few frames.
  // The timer stays as the bound for a view whose frames stop (hidden).
  bool shown = get_mapped();
  if (shown) followFrameClock();
  platform::DispatchQueue::main().asyncAfter(
      std::chrono::nanoseconds(shown ? shownDisplayBoundNs : displayCoalescingNs), redraw);
}

// The view stays on the frame clock from one frame to the next while output keeps coming, as an
// animation does, and leaves it after a frame with nothing new. GTK stamps the frames of such a run
// on its steady beat; a clock that went idle in between takes the moment its timer woke as the next
// frame's time instead, a little after the beat, so the beat would drift later with every frame.
void TerminalView::followFrameClock() {
  if (followingFrameClock) return;
  followingFrameClock = true;
  // Cleared however the callback ends: by answering false, or dropped by GTK with the view's
  // realization.
  struct Following {
    explicit Following(std::weak_ptr<TerminalView*> view) : view(std::move(view)) {}
    Following(const Following&) = delete;
    Following& operator=(const Following&) = delete;
    std::weak_ptr<TerminalView*> view;
    ~Following() {
      if (auto alive = view.lock(); alive && *alive) (*alive)->followingFrameClock = false;
    }
  };
  auto following = std::make_shared<Following>(lifetime);
  add_tick_callback([this, following](const Glib::RefPtr<Gdk::FrameClock>&) {
    // Drawn ahead for this frame; output that came since waits for the next one, which keeps the
    // caret with the text drawn.
    if (framePacing.takeDrawnAhead()) return true;
    if (!pendingDisplay) return false;
    updateDisplay(true);
    updateDebugView();
    pendingDisplay = false;
    return true;
  });
}

// Output that keeps coming stops for the frame that draws it, so the frame starts on the beat
// rather than after the rest of a slice of parsing. While the user types, output is drawn by the
// rules for typing instead, and delivery goes on as it did.
uint64_t TerminalView::nextFrameDueNs() {
  bool awaited = pendingDisplay && get_mapped() && !shouldDisplayImmediatelyAfterUserInput();
  auto clock = awaited ? get_frame_clock() : nullptr;
  return framePacing.nextFrameDue(clock ? clock->gobj() : nullptr, path->expectedPrepareNs());
}

void TerminalView::framePainted() {
  auto clock = get_frame_clock();
  auto painted = framePacing.framePainted(clock ? clock->gobj() : nullptr);
  if (painted.releasesDelivery) {
    deliverWaitingOutput();
    return;
  }
  if (!painted.overran || pendingDisplay || !get_mapped() || shouldDisplayImmediatelyAfterUserInput()) return;
  deliverWaitingOutput();
}

// Output that keeps coming is drawn when delivery stops for the frame rather than in the frame, and
// delivery waits for that frame: the frame then only hands GTK what was drawn and starts on the
// beat, so frames end as evenly spaced as GTK's own part of them allows. Output that answers the
// user's typing is drawn at once instead, and a path that draws only in its frame (the GPU's) is
// left to do so.
bool TerminalView::drawAheadOfFrame() {
  if (!framePacing.beatAwaited() || !pendingDisplay || !path->expectedPrepareNs() ||
      terminal->synchronizedOutputActive || !get_mapped() || shouldDisplayImmediatelyAfterUserInput())
    return false;
  updateDisplay(true);
  if (!path->prepareFrame()) return false;
  if (caretView && caretView->get_parent()) caretView->prepare();
  auto clock = get_frame_clock();
  framePacing.drewAhead(clock ? clock->gobj() : nullptr);
  return true;
}

bool TerminalView::shouldDisplayImmediatelyAfterUserInput() {
  if (terminal->synchronizedOutputActive) return false;
  uint64_t last;
  {
    std::lock_guard<std::mutex> lock(userInputLock);
    last = lastUserInputUptimeNs;
  }
  if (last == 0) return false;
  uint64_t now = uptimeNanoseconds();
  if (now < last) return false;
  return now - last <= interactiveInputDisplayWindowNs;
}

void TerminalView::displayFedOutput() {
  if (!shouldDisplayImmediatelyAfterUserInput()) {
    queuePendingDisplay();
    return;
  }
  // The first output after a keystroke answers it, and so does any output within a frame interval
  // of it: other output may come first and take the frame the echo has to wait for.
  bool answersInput;
  {
    std::lock_guard<std::mutex> lock(userInputLock);
    uint64_t now = uptimeNanoseconds();
    answersInput = std::exchange(inputAwaitingOutput, false) ||
                   (now >= lastUserInputUptimeNs && now - lastUserInputUptimeNs <= displayCoalescingNs);
  }
  if (answersInput) {
    displayImmediately();
    startEchoFrameNow();
  } else {
    queueDisplayWhileTyping();
    drawOutputAheadWhileTyping();
  }
}

// Output that goes on while the user types (a status line, a log scrolling in a region) keeps to
// its spaced frame, but is drawn now, while the main loop is free: the frame that shows the next
// key's echo then draws only the echo's row rather than all the rows the output changed since.
// Drawing ahead is kept to a fifth of the time at most, so that a flood while typing is not drawn
// over and over for one frame; the spaced frame, or the echo's, draws what is left.
void TerminalView::drawOutputAheadWhileTyping() {
  if (!path->expectedPrepareNs() || terminal->synchronizedOutputActive || !get_mapped() || !cellDimension) return;
  const Buffer& buffer = *terminal->buffer;
  if (buffer.yDisp != buffer.yBase) return;
  const uint64_t now = uptimeNanoseconds();
  const uint64_t spacing = std::max(typingDrawAheadSpacingNs, 4 * typingDrawAheadTookNs);
  if (typingDrawnAheadNs && now < typingDrawnAheadNs + spacing) return;
  if (!passChangedRowsToPath()) return;
  path->prepareFrame();
  typingDrawnAheadNs = uptimeNanoseconds();
  typingDrawAheadTookNs = typingDrawnAheadNs - now;
}

// The frame that shows the echo of a key starts as soon as the main loop is free, not one interval
// after a frame that drew other output.
void TerminalView::startEchoFrameNow() {
  if (!get_mapped() || !platform::DispatchQueue::isMainThread()) return;
  if (auto clock = get_frame_clock()) startRequestedFrameNow(clock->gobj());
}

// GTK starts a frame no sooner than one interval after the last one. Output that flows while the
// user types would otherwise take every frame, and the echo of each key would wait for the next.
// One timer at a time; it waits again when a frame or a keystroke came in between.
void TerminalView::queueDisplayWhileTyping() {
  if (terminal->synchronizedOutputActive || pendingDisplay || typingDisplayQueuedNs) return;
  typingDisplayQueuedNs = uptimeNanoseconds();
  armDisplayWhileTyping();
}

void TerminalView::armDisplayWhileTyping() {
  uint64_t due = displayWhileTypingDue(), now = uptimeNanoseconds();
  std::weak_ptr<TerminalView*> weak = lifetime;
  platform::DispatchQueue::main().asyncAfter(std::chrono::nanoseconds(due > now ? due - now : 0), [weak, due] {
    auto alive = weak.lock();
    if (!alive || !*alive) return;
    TerminalView& view = **alive;
    if (view.displayWhileTypingDue() > due) {
      view.armDisplayWhileTyping();
      return;
    }
    view.typingDisplayQueuedNs = 0;
    view.updateDisplay(true);
    view.updateDebugView();
  });
}

// Some frame intervals after the view's last frame, later while a keystroke still waits for its
// echo, but never much later than the output came.
uint64_t TerminalView::displayWhileTypingDue() const {
  uint64_t due = framePacing.lastFrameNs() ? framePacing.lastFrameNs() + typingOutputFrameSpacingNs : 0;
  {
    std::lock_guard<std::mutex> lock(userInputLock);
    if (inputAwaitingOutput) due = std::max(due, lastUserInputUptimeNs + displayCoalescingNs);
  }
  return std::min(due, typingDisplayQueuedNs + typingOutputLongestWaitNs);
}

void TerminalView::displayImmediately() {
  if (platform::DispatchQueue::isMainThread()) {
    updateDisplay(true);
    updateDebugView();
    pendingDisplay = false;
    return;
  }
  if (pendingDisplay) return;
  pendingDisplay = true;
  std::weak_ptr<TerminalView*> weak = lifetime;
  platform::DispatchQueue::main().async([weak] {
    auto alive = weak.lock();
    if (!alive || !*alive) return;
    TerminalView& view = **alive;
    view.updateDisplay(true);
    view.updateDebugView();
    view.pendingDisplay = false;
  });
}

void TerminalView::updateDisplay(bool notifyAccessibility) {
  displayCount++;
  if (terminal->synchronizedOutputActive) {
    pendingDisplay = false;
    return;
  }
  updateCursorPosition();
  // The find bar follows the caret's line as output and typing move it.
  placeFindBar();
  Buffer& buffer = *terminal->buffer;
  if (!passChangedRowsToPath()) {
    if (notifyUpdateChanges && terminalDelegate) {
      terminalDelegate->rangeChanged(*this, buffer.yDisp + buffer.y, buffer.yDisp + buffer.y);
    }
    path->cursorMayHaveChanged();
    // Rows drawn ahead of this redraw still want a frame to show them.
    if (path->drawnAheadUnshown()) queue_draw();
    pendingDisplay = false;
    return;
  }
  if (buffer.yDisp != buffer.yBase || cellDimension) queue_draw();
  updateDebugView();
  pendingDisplay = false;
}

bool TerminalView::passChangedRowsToPath() {
  int start = terminal->refreshStart, end = terminal->refreshEnd;
  Buffer& buffer = *terminal->buffer;
  if (start == std::numeric_limits<int>::max() && end == -1) return false;
  if (notifyUpdateChanges && terminalDelegate) terminalDelegate->rangeChanged(*this, start, end);
  terminal->refreshStart = std::numeric_limits<int>::max();
  terminal->scrollInvariantRefreshStart = std::numeric_limits<int>::max();
  terminal->refreshEnd = -1;
  terminal->scrollInvariantRefreshEnd = -1;
  if (buffer.yDisp != buffer.yBase) {
    // The rows are marked where they lie on the screen. A view scrolled back by fewer rows than
    // the cursor is from the top shows them lower down, so the echo of a key typed there was
    // never drawn; and a full scrollback moves the saved lines under the view as output comes.
    path->invalidateAll();
  } else {
    path->rowsChanged(start, end);
    if (cellDimension) {
      double h = cellDimension->height;
      double top = h * std::max(start, 0);
      // One row below the range too: a Kitty image moved down by its placement's offset (less than
      // a cell) hangs into the row below its own. Text that reaches past its row needs no such
      // margin: the pass repaints the rows its ink reaches by itself.
      double bottom = end >= terminal->rows - 1 ? frameSize.height : std::min(h * (end + 2), frameSize.height);
      if (bottom > top) path->invalidate({0, top, frameSize.width, bottom - top});
    }
  }
  return true;
}

void TerminalView::updateCursorPosition() {
  if (!caretView || !cellDimension) return;
  Buffer& buffer = *terminal->buffer;
  int cursorLine = buffer.yBase + buffer.y;
  bool onScreen = cursorLine >= buffer.yDisp && cursorLine < buffer.yDisp + buffer.rows();
  if (!onScreen || path->drawsCursor()) {
    if (caretView->get_parent()) caretView->unparent();
    return;
  }
  if (!terminal->cursorHidden) {
    if (!caretView->get_parent()) caretView->set_parent(*this);
  } else if (caretView->get_parent()) {
    caretView->unparent();
  }
  const BufferLine& line = *buffer.lines()[cursorLine];
  double factor = line.renderMode == BufferLine::RenderLineMode::single ? 1 : 2;
  const double cw = cellDimension->width, ch = cellDimension->height;
  ViewRect frame = caretView->frame;
  frame.x = factor * cw * buffer.x;
  frame.y = ch * (cursorLine - buffer.yDisp);
  int column = std::min<int>(buffer.x, std::max(line.count() - 1, 0));
  const CharData& cell = line[column];
  frame.width = factor * cw * std::max<int>(cell.width, 1);
  frame.height = ch;
  bool resized = frame.width != caretView->frame.width || frame.height != caretView->frame.height;
  bool moved = !(frame == caretView->frame);
  caretView->frame = frame;
  caretView->setText(cell);
  // The caret is allocated only its size and drawn at its frame (snapshot_vfunc): a caret that
  // moves needs a redraw, not a layout, which on X11 cost each echoed key a dozen round trips to
  // the display server while GTK worked out the window's size limits anew.
  if (resized) {
    queue_allocate();
  } else if (moved) {
    // Without a layout the input method must be told where the caret went.
    updateInputMethodCursorLocation();
    queue_draw();
  }
}

void TerminalView::queueMetalDisplay() {
  // The GPU path schedules its own frames through its drawing path.
  if (path->drawsCursor()) queue_draw();
}

void TerminalView::setDrawingPath(std::unique_ptr<TerminalDrawingPath> newPath) {
  path = newPath ? std::move(newPath) : std::make_unique<CairoDrawingPath>(*this);
  gpuState.useMetalRenderer = path->drawsCursor();
  path->invalidateAll();
  updateCursorPosition();
  queue_draw();
}

void TerminalView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  // The frame clock's time for this frame: GTK keeps frames on a steady beat and counts the next
  // free one from this time, which may lie a little ahead of the moment the frame was drawn.
  auto clock = get_frame_clock();
  framePacing.frameHandedOver(clock ? uint64_t(clock->get_frame_time()) * 1000 : uptimeNanoseconds());
  if (!path->snapshot(snapshot)) {
    Gdk::RGBA background;
    const ViewColor& bg = runStyle.background;
    background.set_rgba(bg.red, bg.green, bg.blue, bg.alpha);
    snapshot->append_color(background, Gdk::Rectangle(0, 0, get_width(), get_height()));
  }
  // The caret on the rows, then the bars floating over both.
  if (caretView && caretView->get_parent() == this) snapshotCaret(snapshot);
  for (Gtk::Widget* child = get_first_child(); child; child = child->get_next_sibling()) {
    if (child != caretView.get()) snapshot_child(*child, snapshot);
  }
}

// Cells may start at half points on scaled displays, so the caret is placed with a translation
// rather than at whole points.
void TerminalView::snapshotCaret(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  const ViewRect& frame = caretView->frame;
  graphene_point_t origin = GRAPHENE_POINT_INIT(float(frame.x), float(frame.y));
  snapshot->save();
  gtk_snapshot_translate(snapshot->gobj(), &origin);
  snapshot_child(*caretView, snapshot);
  snapshot->restore();
}

// ---- The Cairo drawing path ----

std::vector<GskRenderNode*> CairoDrawingPath::bandNodes() const {
  std::vector<GskRenderNode*> nodes;
  for (const auto& band : bands) nodes.push_back(band.get());
  return nodes;
}

void CairoDrawingPath::invalidate(const ViewRect& rect) { dirty = dirty.united(rect); }

void CairoDrawingPath::invalidateAll() { dirty = {0, 0, 1e9, 1e9}; }

cairo_surface_t* CairoDrawingPath::render() {
  ViewSize size = view.frameSize;
  double scale = view.backingScaleFactor();
  int widthPx = int(std::ceil(size.width * scale)), heightPx = int(std::ceil(size.height * scale));
  if (widthPx <= 0 || heightPx <= 0) return nullptr;
  if (!surface || widthPx != surfaceWidthPx || heightPx != surfaceHeightPx || scale != surfaceScale) {
    surface.reset();  // before the next is made, so two whole surfaces are never held at once
    surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, widthPx, heightPx));
    cairo_surface_set_device_scale(surface.get(), scale, scale);
    surfaceWidthPx = widthPx, surfaceHeightPx = heightPx, surfaceScale = scale;
    dirty = {0, 0, size.width, size.height};
    bands.clear();
    bands.resize(size_t((heightPx + bandHeightPx - 1) / bandHeightPx));
  }
  ViewRect clipped{0, 0, size.width, size.height};
  int rowsDrawn = 0;
  repainted = false;
  auto repaint = [&](const ViewRect& rect) {
    if (!rect.intersects(clipped)) return;
    repainted = true;
    double x0 = std::max(rect.x, 0.0), y0 = std::max(rect.y, 0.0);
    double x1 = std::min(rect.maxX(), size.width), y1 = std::min(rect.maxY(), size.height);
    // The bands the repainted rectangle touches, in device pixels.
    const int firstBand = std::max(int(std::floor(y0 * scale)) / bandHeightPx, 0);
    const int lastBand = std::min(int(std::ceil(y1 * scale)) / bandHeightPx, int(bands.size()) - 1);
    keepBandPixels(firstBand, lastBand);
    platform::CairoPtr cr(cairo_create(surface.get()));
    cairo_rectangle(cr.get(), x0, y0, x1 - x0, y1 - y0);
    cairo_clip(cr.get());
    view.drawTerminalContents({x0, y0, x1 - x0, y1 - y0}, cr.get(), view.terminal->buffer->yDisp);
    rowsDrawn += view.lastPassRowCount;
    cr.reset();
    cairo_surface_flush(surface.get());
    dropChangedBands(firstBand, lastBand);
  };
  repaint(dirty);
  // Rows outside the rectangle that its rows' ink reaches, or reached before, are repainted as
  // well; the ink reaching into them from rows that did not change is still in place past them.
  if (ViewRect beyond = std::exchange(view.inkBeyondPass, {}); !beyond.isEmpty()) repaint(beyond);
  view.inkBeyondPass = {};
  view.lastPassRowCount = rowsDrawn;
  dirty = {};
  return surface.get();
}

// Rows are repainted whole, also those that come out as they were: rows a scrolling region's
// cursor passed over, a line written again with the same text. The pixels of the bands about to
// be repainted are kept, so that a band that comes out the same keeps its node, and GTK neither
// copies nor composites it again.
void CairoDrawingPath::keepBandPixels(int firstBand, int lastBand) {
  keptBands.clear();
  keepingBands = bandKeepingRests == 0;
  if (!keepingBands) {
    bandKeepingRests--;
    return;
  }
  const int stride = cairo_image_surface_get_stride(surface.get());
  const uint8_t* data = cairo_image_surface_get_data(surface.get());
  for (int band = firstBand; band <= lastBand; band++) {
    if (!bands[size_t(band)]) continue;
    const size_t top = size_t(band) * bandHeightPx * size_t(stride);
    const size_t bytes = size_t(std::min(bandHeightPx, surfaceHeightPx - band * bandHeightPx)) * size_t(stride);
    keptBands.insert(keptBands.end(), data + top, data + top + bytes);
  }
}

void CairoDrawingPath::dropChangedBands(int firstBand, int lastBand) {
  const int stride = cairo_image_surface_get_stride(surface.get());
  const uint8_t* data = cairo_image_surface_get_data(surface.get());
  size_t kept = 0;
  int compared = 0, same = 0;
  for (int band = firstBand; band <= lastBand; band++) {
    auto& node = bands[size_t(band)];
    if (!node) continue;
    if (!keepingBands) {
      node.reset();
      continue;
    }
    const size_t top = size_t(band) * bandHeightPx * size_t(stride);
    const size_t bytes = size_t(std::min(bandHeightPx, surfaceHeightPx - band * bandHeightPx)) * size_t(stride);
    compared++;
    if (std::memcmp(data + top, keptBands.data() + kept, bytes) == 0) {
      same++;
    } else {
      node.reset();
    }
    kept += bytes;
  }
  // Output that changes every band it touches (a flood, a full-screen program drawing anew) gains
  // nothing from keeping them, which costs a copy of the bands: keeping rests for a few repaints.
  if (compared >= 4 && same == 0) bandKeepingRests = 7;
}

// Each band of the surface is a node of its own, made again only when pixels in it changed: a
// frame copies (and a GL renderer uploads) the rows that changed, not the whole view, and a frame
// in which only the caret or a child changed hands GTK the same nodes, which it neither uploads
// nor repaints.
bool CairoDrawingPath::makeBands(cairo_surface_t* pixels, bool forCairo) {
  if (forCairo != bandsForCairo) {
    for (auto& band : bands) band.reset();
    bandsForCairo = forCairo;
  }
  const int stride = cairo_image_surface_get_stride(pixels);
  bool madeAny = false;
  for (size_t band = 0; band < bands.size(); band++) {
    if (bands[band]) continue;
    int top = int(band) * bandHeightPx, height = std::min(bandHeightPx, surfaceHeightPx - top);
    PixelRows rows{cairo_image_surface_get_data(pixels) + size_t(top) * size_t(stride), stride, surfaceWidthPx, height};
    graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, float(top / surfaceScale), float(surfaceWidthPx / surfaceScale),
                                                float(height / surfaceScale));
    bands[band] = makePixelNode(rows, bounds, forCairo);
    madeAny = true;
  }
  return madeAny;
}

bool CairoDrawingPath::prepareFrame() {
  uint64_t start = platform::uptimeNanoseconds();
  cairo_surface_t* pixels = render();
  if (!pixels) return false;
  // A repaint that left every band as it was still drew the frame's output.
  if (makeBands(pixels, paintsWithCairo(view)) || repainted) {
    uint64_t took = platform::uptimeNanoseconds() - start;
    // Drawn twice before one frame, the frame shows what both drew.
    aheadNs = (bandsMadeAhead ? aheadNs : 0) + took;
    bandsMadeAhead = true;
    drawTimes[drawsTimed++ % drawTimes.size()] = took;
  }
  return true;
}

// The second longest of the last few frames' drawing, so that one slow frame (a first one, say)
// does not hold output back for the next several; with some room, so that the frame need not wait
// for the drawing, and capped, so that output still gets most of each frame interval.
uint64_t CairoDrawingPath::expectedPrepareNs() const {
  std::array<uint64_t, 8> longest = drawTimes;
  std::nth_element(longest.begin(), longest.begin() + 1, longest.end(), std::greater<>());
  uint64_t expected = drawsTimed < 2 ? longest[0] : longest[1];
  return std::min<uint64_t>(expected + expected / 4, 5'000'000);
}

bool CairoDrawingPath::snapshot(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  uint64_t start = platform::uptimeNanoseconds();
  // Drawn ahead, there is nothing left to draw unless something changed since.
  cairo_surface_t* pixels = render();
  if (!pixels) return false;
  bool forCairo = paintsWithCairo(view);
  if (forCairo) keepWindowUploadsWarm(view);
  bool madeNow = makeBands(pixels, forCairo) || repainted;
  if (madeNow) drawTimes[drawsTimed++ % drawTimes.size()] = platform::uptimeNanoseconds() - start;
  for (auto& band : bands) gtk_snapshot_append_node(snapshot->gobj(), band.get());
  drawnAheadNs = std::exchange(bandsMadeAhead, false) ? aheadNs : 0;
  if (drawnAheadNs || madeNow) view.contentFramesDrawn++;
  // The surface is the view's size rounded up to whole device pixels, so it covers the view.
  return true;
}

}  // namespace vantrelle
