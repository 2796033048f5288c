#include "Vantrelle/View/TerminalView.h"

#include <gdk/gdk.h>
#include <gdkmm/cursor.h>
#include <gtkmm/window.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "Vantrelle/View/DebugView.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

namespace {

// The control sequence introducer, 8-bit when the terminal sends 8-bit controls.
std::string csi(const Terminal& terminal) { return terminal.cc.send8bit ? std::string("\x9b") : std::string("\x1b["); }

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

TerminalView::TerminalView(std::optional<Pango::FontDescription> font)
    : Glib::ObjectBase("VantrelleTerminalView"),
      fontSet(FontSet::from(font ? *font : defaultFont())),
      scheduler(nullptr),
      outputRest(scheduler, [this] { terminal->outputRests(); }),
      lifetime(std::make_shared<TerminalView*>(this)) {
  setup();
}

// The window holds its focus widget's object, which can outlive this view; its controllers must not
// deliver focus, key or pointer events to a view that is gone.
void TerminalView::removeEventControllers() {
  GtkWidget* widget = GTK_WIDGET(gobj());
  if (!widget) return;
  std::vector<platform::GObjectPtr<GtkEventController>> attached;
  {
    platform::GObjectPtr<GListModel> controllers(gtk_widget_observe_controllers(widget));
    for (guint i = 0, count = g_list_model_get_n_items(controllers.get()); i < count; ++i) {
      auto* controller = static_cast<GtkEventController*>(g_list_model_get_item(controllers.get(), i));
      if (controller) attached.emplace_back(controller);
    }
  }
  for (const auto& controller : attached) gtk_widget_remove_controller(widget, controller.get());
}

TerminalView::~TerminalView() {
  // Nothing may call back into a view that is going away: closures queued on the main loop, its
  // event controllers, the input method, the terminal and the debug overlay. The members let go
  // of the rest themselves: child widgets, timers and connections.
  *lifetime = nullptr;
  removeEventControllers();
  if (composition.imContext)
    g_signal_handlers_disconnect_matched(composition.imContext.get(), G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr,
                                         this);
  if (terminal) terminal->tdel = nullptr;
  if (debug) debug->detach();
}

void TerminalView::setup() {
  set_focusable(true);
  set_overflow(Gtk::Overflow::HIDDEN);
  set_cursor(Gdk::Cursor::create("text"));
  path = std::make_unique<CairoDrawingPath>(*this);
  setupScroller();
  double width = std::max(frameSize.width - scrollerWidth(), 0.0);
  setupOptions(width, frameSize.height);
  setupProgressBar();
  setupFocusNotification();
  property_scale_factor().signal_changed().connect([this] { scaleFactorChanged(); });
  setupKeyboardInput();
  setupTextInput();
  setupMouseInput();
  setupLinks();
  setupAccessibility();
}

void TerminalView::setupOptions(double width, double height) {
  resetCaches();
  cellDimension = computeFontDimensions();
  TerminalOptions options = terminal ? terminal->options : TerminalOptions();
  bool sized = width != 0 || height != 0;
  if (sized) {
    options = TerminalOptions();
    options.cols = int64_t(width / cellDimension->width);
    options.rows = int64_t(height / cellDimension->height);
  }
  if (!terminal) {
    terminal = std::make_unique<Terminal>(this, options);
    terminal->scheduler = &scheduler;
    runStyle.palette = &terminal->ansiColors;
  } else if (sized) {
    terminal->options = options;
    terminal->setup(false);
  }
  terminal->setBackgroundColor(Color::defaultBackground);
  terminal->setForegroundColor(Color::defaultForeground);
  selection = std::make_unique<SelectionService>(*terminal);
  if (!caretView) {
    caretView = std::make_unique<CaretView>(ViewRect{0, 0, cellDimension->width, cellDimension->height},
                                            terminal->options.cursorStyle, this);
    caretView->set_parent(*this);
  } else {
    caretView->frame.width = cellDimension->width;
    caretView->frame.height = cellDimension->height;
    caretView->restartLook();
    caretView->redraw();
  }
  search = std::make_unique<SearchService>(*terminal);
  path->invalidateAll();
  queue_draw();
}

// Another scale changes the device pixels under every cell, and may change the cell in points.
void TerminalView::scaleFactorChanged() {
  path->invalidateAll();
  if (cellDimension && computeFontDimensions() != *cellDimension) {
    resetFont();
  } else {
    queue_draw();
  }
}

// ---- TerminalDelegate ----

void TerminalView::showCursor(Terminal&) {
  if (path->drawsCursor()) {
    queueMetalDisplay();
    return;
  }
  if (caretView && !caretView->get_parent()) caretView->set_parent(*this);
}

void TerminalView::hideCursor(Terminal&) {
  if (!path->drawsCursor() && caretView && caretView->get_parent()) caretView->unparent();
  queueMetalDisplay();
}

void TerminalView::setTerminalTitle(Terminal&, const std::string& title) {
  updateAccessibleName(title);
  if (terminalDelegate) terminalDelegate->setTerminalTitle(*this, title);
}

std::optional<Bytes> TerminalView::windowCommand(Terminal& source, const WindowManipulationCommand& command) {
  using Kind = WindowManipulationCommand::Kind;
  switch (command.kind) {
    case Kind::resizeWindowTo:
      std::printf("Request to resize to %lldx%lld\n", (long long)command.a, (long long)command.b);
      std::fflush(stdout);
      return std::nullopt;
    case Kind::reportTextAreaPixelDimension: {
      if (!cellDimension) return std::nullopt;
      double scale = backingScaleFactor();
      long long h = std::llround(cellDimension->height * scale * source.rows);
      long long w = std::llround(cellDimension->width * scale * source.cols);
      return bytesOf(csi(source) + "4;" + std::to_string(h) + ";" + std::to_string(w) + "t");
    }
    case Kind::reportCellSizeInPixels: {
      if (!cellDimension) return std::nullopt;
      double scale = backingScaleFactor();
      long long h = (long long)(cellDimension->height * scale);
      long long w = (long long)(cellDimension->width * scale);
      return bytesOf(csi(source) + "6;" + std::to_string(h) + ";" + std::to_string(w) + "t");
    }
    default:
      return std::nullopt;
  }
}

void TerminalView::sizeChanged(Terminal& source) {
  if (terminalDelegate) terminalDelegate->sizeChanged(*this, source.cols, source.rows);
  updateScroller();
}

void TerminalView::send(Terminal&, std::span<const uint8_t> data) {
  if (terminalDelegate) terminalDelegate->sendReply(*this, data);
}

void TerminalView::send(TerminalView&, std::span<const uint8_t> data) {
  if (terminalDelegate) terminalDelegate->send(*this, data);
}

void TerminalView::scrolled(Terminal&, int) {
  // Output like `yes` scrolls at every line, and a scroller update costs far more than the line:
  // within a feed only where the scrolling ends is shown.
  if (feeding) {
    scrolledWhileFeeding = true;
    return;
  }
  showScrolledPosition();
}

void TerminalView::showScrolledPosition() {
  updateScroller();
  if (terminalDelegate) terminalDelegate->scrolled(*this, scrollPosition());
}

void TerminalView::linefeed(Terminal&) {
  if (allowMouseReporting && selectionActive() && !selecting()) deactivateSelection();
}

void TerminalView::bufferActivated(Terminal&) { updateScroller(); }

void TerminalView::synchronizedOutputChanged(Terminal&, bool active) {
  if (active) return;
  updateScroller();
  queuePendingDisplay();
  if (terminalDelegate) terminalDelegate->scrolled(*this, scrollPosition());
}

void TerminalView::bell(Terminal&) {
  if (terminalDelegate) terminalDelegate->bell(*this);
}

std::optional<CellSize> TerminalView::cellSizeInPixels(Terminal&) {
  if (!cellDimension) return std::nullopt;
  double scale = get_root() ? double(get_scale_factor()) : scaleFactorOverride.value_or(1.0);
  return CellSize{std::llround(cellDimension->width * scale), std::llround(cellDimension->height * scale)};
}

void TerminalView::mouseModeChanged(Terminal& source) {
  if (source.mouseMode() == MouseMode::anyEvent) {
    startMouseMoveTracking();
  } else {
    stopMouseMoveTracking();
  }
}

void TerminalView::cursorStyleChanged(Terminal&, CursorStyle newStyle) {
  if (caretView) {
    caretView->style = newStyle;
    caretView->restartLook();
    caretView->frame.width = cellDimension ? cellDimension->width : caretView->frame.width;
    caretView->frame.height = cellDimension ? cellDimension->height : caretView->frame.height;
    caretView->restartLook();
    caretView->redraw();
  }
  queueMetalDisplay();
}

void TerminalView::hostCurrentDirectoryUpdated(Terminal& source) {
  if (terminalDelegate) terminalDelegate->hostCurrentDirectoryUpdate(*this, source.hostCurrentDirectory);
}

void TerminalView::iTermContent(Terminal&, std::span<const uint8_t> content) {
  if (terminalDelegate) terminalDelegate->iTermContent(*this, content);
}

void TerminalView::clipboardCopy(Terminal&, std::span<const uint8_t> content) {
  if (terminalDelegate) terminalDelegate->clipboardCopy(*this, content);
}

std::optional<Bytes> TerminalView::clipboardRead(Terminal&) {
  if (!terminalDelegate) return std::nullopt;
  return terminalDelegate->clipboardRead(*this);
}

// ---- Progress reports ----

void TerminalView::progressReport(Terminal&, const ProgressReport& report) {
  if (platform::DispatchQueue::isMainThread()) {
    handleProgressReport(report);
    return;
  }
  std::weak_ptr<TerminalView*> weak = lifetime;
  platform::DispatchQueue::main().async([weak, report] {
    if (auto alive = weak.lock(); alive && *alive) (*alive)->handleProgressReport(report);
  });
}

void TerminalView::clearProgressReport() {
  if (progress.progressReportTimer) progress.progressReportTimer->cancel();
  progress.progressReportTimer.reset();
  progress.lastProgressValue.reset();
  showProgress(ProgressReportState::remove, std::nullopt);
}

void TerminalView::handleProgressReport(const ProgressReport& report) {
  if (report.state == ProgressReportState::remove) {
    clearProgressReport();
    return;
  }
  std::optional<uint8_t> value;
  switch (report.state) {
    case ProgressReportState::set:
      value = report.progress.value_or(0);
      progress.lastProgressValue = value;
      break;
    case ProgressReportState::error:
      value = report.progress ? report.progress : progress.lastProgressValue;
      if (value) progress.lastProgressValue = value;
      break;
    case ProgressReportState::indeterminate:
      break;
    case ProgressReportState::pause:
      value = report.progress ? *report.progress : progress.lastProgressValue.value_or(100);
      progress.lastProgressValue = value;
      break;
    case ProgressReportState::remove:
      break;
  }
  showProgress(report.state, value);
  if (progress.progressReportTimer) progress.progressReportTimer->cancel();
  std::weak_ptr<TerminalView*> weak = lifetime;
  progress.progressReportTimer = platform::DispatchQueue::main().asyncAfter(std::chrono::seconds(15), [weak] {
    if (auto alive = weak.lock(); alive && *alive) (*alive)->clearProgressReport();
  });
}

}  // namespace vantrelle
