// Mouse input: reports to the program, selection by dragging, and the scroll wheel.
#include <gtkmm/eventcontrollermotion.h>
#include <gtkmm/eventcontrollerscroll.h>
#include <gtkmm/gestureclick.h>

#include <algorithm>
#include <cmath>

#include "Vantrelle/Keyboard/EscapeSequences.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

// GDK numbers buttons from 1 with the secondary button third; reports number them from 0 with
// the secondary button second.
int buttonNumberOf(guint gdkButton) {
  switch (gdkButton) {
    case 1:
      return 0;
    case 2:
      return 2;
    case 3:
      return 1;
    default:
      return gdkButton > 3 ? int(gdkButton) - 1 : 0;
  }
}

// Where the pointer is on the surface when `event` came. A wheel turned on a plain X11 button
// comes without a position; the pointer is where it turned, not the view's corner.
bool pointerPosition(GdkEvent* event, GtkNative* native, double& x, double& y) {
  if (gdk_event_get_position(event, &x, &y) && std::isfinite(x) && std::isfinite(y)) return true;
  GdkSurface* surface = gtk_native_get_surface(native);
  // The seat's pointer: the event's own device may be a physical one that X cannot be asked about.
  GdkSeat* seat = gdk_event_get_seat(event);
  GdkDevice* device = seat ? gdk_seat_get_pointer(seat) : nullptr;
  return surface && device && gdk_surface_get_device_position(surface, device, &x, &y, nullptr);
}

// A touchpad's or a pointing stick's scrolling: smooth, from a device that is no wheel. GTK gives
// each event its physical device.
bool isTouchpadScroll(GdkEvent* event) {
  if (!event || gdk_event_get_event_type(event) != GDK_SCROLL) return false;
  if (gdk_scroll_event_get_direction(event) != GDK_SCROLL_SMOOTH) return false;
  GdkDevice* device = gdk_event_get_device(event);
  GdkInputSource source = device ? gdk_device_get_source(device) : GDK_SOURCE_MOUSE;
  return source == GDK_SOURCE_TOUCHPAD || source == GDK_SOURCE_TRACKPOINT;
}

// How far the desktop's own scrolled views go for a wheel's notch in a view `height` points
// tall: the two-thirds power of the height, about three lines of a 24-row terminal. A notch
// always goes a line at least, or a view of a few rows would not move.
double wheelNotchPoints(double height, double lineHeight) {
  return std::max(std::pow(std::max(height, 0.0), 2.0 / 3.0), lineHeight);
}

// Buttons past the middle one (a mouse's back and forward buttons) have no number in the reports;
// taken as the primary button they would click where the user never clicked.
bool hasReportNumber(const MouseRecord& event) { return event.buttonNumber <= 2; }

constexpr int releaseFlags = 3;
constexpr int primaryButton = 0;
constexpr int secondaryButton = 1;
constexpr int middleButton = 2;
constexpr int motionFlag = 32;

}  // namespace

// Clicks on the find bar or the scroller belong to them, not to the terminal.
bool TerminalView::pointerIsOnTerminal(double x, double y) {
  Gtk::Widget* picked = pick(x, y, Gtk::PickFlags::DEFAULT);
  return !picked || picked == this || picked == caretView.get();
}

void TerminalView::setupMouseInput() {
  auto click = Gtk::GestureClick::create();
  click->set_button(0);
  auto record = [](Gtk::GestureSingle* gesture, MouseRecord::Kind kind, int count, double x, double y) {
    MouseRecord r;
    r.kind = kind;
    r.x = x;
    r.y = y;
    r.clickCount = count;
    r.buttonNumber = buttonNumberOf(gesture->get_current_button());
    r.modifiers = InputModifiers::from(GdkModifierType(gesture->get_current_event_state()));
    return r;
  };
  click->signal_pressed().connect([this, record, g = click.get()](int count, double x, double y) {
    if (!pointerIsOnTerminal(x, y)) return;
    grab_focus();
    mouseState.mouseButtonHeld = true;
    mouseDown(record(g, MouseRecord::Kind::down, count, x, y));
  });
  click->signal_released().connect([this, record, g = click.get()](int count, double x, double y) {
    if (!mouseState.mouseButtonHeld) return;
    mouseState.mouseButtonHeld = false;
    mouseUp(record(g, MouseRecord::Kind::up, count, x, y));
  });
  // A press taken away by a grab is never released here: its drag is over all the same.
  click->signal_cancel().connect([this](Gdk::EventSequence*) {
    mouseState.mouseButtonHeld = false;
    mouseState.didSelectionDrag = false;
    mouseState.selectionPressPosition.reset();
    mouseState.lastSelectionDragPoint.reset();
    mouseState.autoScrollDelta = 0;
    stopSelectionAutoScrollTimer();
  });
  add_controller(click);

  auto motion = Gtk::EventControllerMotion::create();
  motion->signal_motion().connect([this, m = motion.get()](double x, double y) {
    MouseRecord r;
    r.x = x;
    r.y = y;
    GdkModifierType state = GdkModifierType(m->get_current_event_state());
    r.modifiers = InputModifiers::from(state);
    bool held = mouseState.mouseButtonHeld && (state & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK));
    r.kind = held ? MouseRecord::Kind::dragged : MouseRecord::Kind::moved;
    if (held) {
      r.buttonNumber = state & GDK_BUTTON1_MASK ? 0 : state & GDK_BUTTON3_MASK ? 1 : 2;
      mouseDragged(r);
    } else {
      mouseMoved(r);
    }
  });
  motion->signal_leave().connect([this] {
    mouseState.lastPointerLocation.reset();
    mouseExited();
  });
  add_controller(motion);

  auto scroll = Gtk::EventControllerScroll::create();
  scroll->set_flags(Gtk::EventControllerScroll::Flags::VERTICAL);
  scroll->signal_scroll().connect(
      [this, s = scroll.get()](double, double dy) {
        bool inPoints = gtk_event_controller_scroll_get_unit(s->gobj()) == GDK_SCROLL_UNIT_SURFACE;
        GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(s->gobj()));
        ScrollRecord r =
            ScrollRecord::make(dy, inPoints, isTouchpadScroll(event), cellDimension ? cellDimension->height : 0);
        r.modifiers = InputModifiers::from(GdkModifierType(s->get_current_event_state()));
        double x = 0, y = 0;
        GtkNative* native = gtk_widget_get_native(GTK_WIDGET(gobj()));
        double ex = 0, ey = 0;
        if (event && native && pointerPosition(event, native, ex, ey)) {
          double nx = 0, ny = 0;
          gtk_native_get_surface_transform(native, &nx, &ny);
          gtk_widget_translate_coordinates(GTK_WIDGET(native), GTK_WIDGET(gobj()), ex - nx, ey - ny, &x, &y);
        }
        r.x = x;
        r.y = y;
        scrollWheel(r);
        return true;
      },
      false);
  add_controller(scroll);
}

std::pair<Position, Position> TerminalView::calculateMouseHit(double x, double y) const {
  ViewSize cell = cellDimension.value_or(ViewSize{1, 1});
  double cw = cell.width > 0 ? cell.width : 1, ch = cell.height > 0 ? cell.height : 1;
  const Buffer& buffer = *terminal->buffer;
  int64_t col = std::clamp<int64_t>(int64_t(std::max(x, 0.0) / cw), 0, std::max(terminal->cols - 1, 0));
  int64_t lastLine = std::max(buffer.lines().count() - 1, 0);
  int64_t row = std::clamp<int64_t>(int64_t(std::floor(y / ch)) + buffer.yDisp, 0, lastLine);
  int64_t px = int64_t(std::clamp(x, 0.0, frameSize.width));
  int64_t py = int64_t(std::clamp(y, 0.0, frameSize.height));
  return {Position(col, row), Position(px, py)};
}

namespace {

bool isBefore(const Position& a, const Position& b) {
  return Position::compare(a, b) == Position::compareResult::before;
}

// The edges of the character a cell shows. A wide character's two cells are one character: a
// press or a pointer on either half takes in the whole of it.
bool isWideSpacer(Buffer& buffer, const Position& p) {
  const CharData cell = buffer.getCharAtBufferRelative(p);
  return cell.code == 0 && cell.width == 0 && p.col > 0 &&
         buffer.getCharAtBufferRelative(Position(p.col - 1, p.row)).width == 2;
}

Position characterStart(Buffer& buffer, const Position& p) {
  return isWideSpacer(buffer, p) ? Position(p.col - 1, p.row) : p;
}

Position characterEnd(Buffer& buffer, const Position& p) {
  return Position(p.col + (buffer.getCharAtBufferRelative(p).width == 2 ? 2 : 1), p.row);
}

}  // namespace

// Dragging selects the characters from the one under the press to the one under the pointer,
// both taken in. The selection's end is exclusive: made of the pointer's cell alone, it would
// leave that character out, and the last column of a full line could not be selected at all.
// Words and lines go by the selection's own rules.
void TerminalView::dragSelectionTo(Position cell) {
  if (selection->selectionMode != SelectionService::SelectionMode::character) {
    selection->dragExtend(cell);
    return;
  }
  Buffer& buffer = *terminal->buffer;
  if (const auto& press = mouseState.selectionPressPosition) {
    if (isBefore(cell, *press)) {
      selection->setSelection(characterEnd(buffer, *press), characterStart(buffer, cell));
    } else {
      selection->setSelection(characterStart(buffer, *press), characterEnd(buffer, cell));
    }
    return;
  }
  // A selection that a Shift-click extended grows from the end it kept.
  selection->dragExtend(isBefore(cell, selection->start()) ? characterStart(buffer, cell) : characterEnd(buffer, cell));
}

// Reports number the buttons as xterm does, the middle one second and the secondary one third;
// a release says which button was let go where the encoding can (SGR); motion with no button
// held is a release whatever the encoding.
int TerminalView::encodeMouseEvent(const MouseRecord& event, bool overwriteRelease) const {
  const InputModifiers& m = event.modifiers;
  if (!overwriteRelease) {
    int button = event.buttonNumber == 1 ? 2 : event.buttonNumber == 2 ? 1 : event.buttonNumber;
    return terminal->encodeButton(button, event.kind == MouseRecord::Kind::up, m.shift, m.alt, m.control);
  }
  int flags = releaseFlags;
  if (sendsModifiers(terminal->mouseMode())) {
    if (m.shift) flags += 4;
    if (m.alt) flags += 8;
    if (m.control) flags += 16;
  }
  return flags;
}

bool TerminalView::mouseReportingApplies(const InputModifiers& modifiers) const {
  return allowMouseReporting && (!modifiers.shift || terminal->mouseShiftCapture);
}

void TerminalView::sharedMouseEvent(const MouseRecord& event) {
  auto [grid, pixels] = calculateMouseHit(event.x, event.y);
  int row = std::max(0, std::min(int(grid.row) - terminal->buffer->yDisp, terminal->rows - 1));
  terminal->sendEvent(encodeMouseEvent(event, false), int(grid.col), row, int(pixels.col), int(pixels.row));
}

void TerminalView::mouseDown(const MouseRecord& event) {
  if (!hasReportNumber(event)) return;
  // X10 compatibility mode asks for presses only; it is a reporting mode like the others, or a
  // program that chose it would never hear of a click.
  if (mouseReportingApplies(event.modifiers) && terminal->mouseMode() != MouseMode::off) {
    sharedMouseEvent(event);
    return;
  }
  // The middle button pastes what was selected last, here or in another program, and leaves
  // the selection as it is.
  if (event.buttonNumber == middleButton) {
    pastePrimary();
    return;
  }
  // Nor does the secondary button select: a right click, from the habit of a context menu, threw
  // away the selection the user was about to copy.
  if (event.buttonNumber == secondaryButton) return;
  mouseState.didSelectionDrag = false;
  Position hit = calculateMouseHit(event.x, event.y).first;
  mouseState.selectionPressPosition = hit;
  if (event.clickCount == 2) {
    selection->selectWordOrExpression(hit, *terminal->buffer);
  } else if (event.clickCount == 1) {
    if (selection->active() && event.modifiers.shift) {
      bool characters = selection->selectionMode == SelectionService::SelectionMode::character;
      Buffer& buffer = *terminal->buffer;
      if (characters) hit = isBefore(hit, selection->start()) ? characterStart(buffer, hit) : characterEnd(buffer, hit);
      selection->shiftExtend(hit);
      mouseState.selectionPressPosition.reset();
    } else {
      selection->setActive(false);
    }
  } else {
    selection->select(hit.row);
  }
  setNeedsDisplay();
  // A click that let the match go leaves the find bar to keep off the caret alone.
  placeFindBar();
}

void TerminalView::mouseUp(const MouseRecord& event) {
  if (!hasReportNumber(event)) return;
  stopSelectionAutoScrollTimer();
  mouseState.autoScrollDelta = 0;
  mouseState.lastSelectionDragPoint.reset();
  mouseState.selectionPressPosition.reset();
  mouseState.didSelectionDrag = false;
  Position hit = calculateMouseHit(event.x, event.y).first;
  bool command = event.modifiers.control;
  updateHoverLink(hit, commandActive || command);
  bool reporting = mouseReportingApplies(event.modifiers) && terminal->mouseMode() != MouseMode::off;
  if (auto link = linkForClick(hit, command)) {
    if (terminalDelegate) terminalDelegate->requestOpenLink(*this, link->first, link->second);
    // A program that heard the press hears the release too, or it takes the button as held down
    // from then on.
    if (reporting) sharedMouseEvent(event);
    return;
  }
  if (!allowMouseReporting || (event.modifiers.shift && !terminal->mouseShiftCapture) ||
      terminal->mouseMode() == MouseMode::off) {
    if (event.buttonNumber == primaryButton) publishPrimarySelection();
    return;
  }
  sharedMouseEvent(event);
}

void TerminalView::mouseDragged(const MouseRecord& event) {
  auto [hit, pixels] = calculateMouseHit(event.x, event.y);
  if (mouseReportingApplies(event.modifiers)) {
    MouseMode mode = terminal->mouseMode();
    if (mode == MouseMode::buttonEventTracking || mode == MouseMode::anyEvent) {
      int row = std::max(0, std::min(int(hit.row) - terminal->buffer->yDisp, terminal->rows - 1));
      terminal->sendEvent(encodeMouseEvent(event, false) + motionFlag, int(hit.col), row, int(pixels.col),
                          int(pixels.row));
      return;
    }
    if (mode != MouseMode::off) return;
  }
  if (event.buttonNumber != primaryButton) return;
  if (!selection->active()) {
    if (!mouseState.selectionPressPosition) mouseState.selectionPressPosition = hit;
    selection->setSoftStart(*mouseState.selectionPressPosition);
    selection->startSelection();
  }
  dragSelectionTo(hit);
  mouseState.didSelectionDrag = true;
  mouseState.lastSelectionDragPoint = std::make_pair(event.x, event.y);
  mouseState.autoScrollDelta = 0;
  // Auto-scroll reads the pointer's row unclamped: how far outside the rows decides the speed.
  double cellHeight = cellDimension && cellDimension->height > 0 ? cellDimension->height : 1;
  int screenRow = int(std::floor(event.y / cellHeight));
  int rows = terminal->rows;
  if (selection->active() && (screenRow < 1 || screenRow >= rows)) {
    int distance = screenRow < 1 ? -screenRow : screenRow - rows;
    int speed = distance >= 10 ? std::max(rows, 20) : distance >= 6 ? 10 : distance >= 2 ? 3 : 1;
    mouseState.autoScrollDelta = screenRow < 1 ? -speed : speed;
    startSelectionAutoScrollTimer();
  } else {
    stopSelectionAutoScrollTimer();
  }
  setNeedsDisplay();
}

void TerminalView::startSelectionAutoScrollTimer() {
  if (mouseState.selectionAutoScrollTimer) return;
  std::weak_ptr<TerminalView*> alive = lifetime;
  auto* holder = new std::weak_ptr<TerminalView*>(alive);
  mouseState.selectionAutoScrollTimer.reset(g_timeout_add_full(
      G_PRIORITY_DEFAULT, 50,
      [](gpointer data) -> gboolean {
        auto owner = static_cast<std::weak_ptr<TerminalView*>*>(data)->lock();
        if (!owner || !*owner) return G_SOURCE_REMOVE;
        (*owner)->scrollingTimerElapsed();
        return G_SOURCE_CONTINUE;
      },
      holder, [](gpointer data) { delete static_cast<std::weak_ptr<TerminalView*>*>(data); }));
}

void TerminalView::stopSelectionAutoScrollTimer() { mouseState.selectionAutoScrollTimer.reset(); }

void TerminalView::scrollingTimerElapsed() {
  if (mouseState.autoScrollDelta == 0) return;
  if (mouseState.autoScrollDelta < 0) {
    scrollTo(std::max(terminal->buffer->yDisp + mouseState.autoScrollDelta, 0), true);
  } else {
    scrollDown(mouseState.autoScrollDelta);
  }
  if (selection->active() && mouseState.lastSelectionDragPoint) {
    dragSelectionTo(
        calculateMouseHit(mouseState.lastSelectionDragPoint->first, mouseState.lastSelectionDragPoint->second).first);
  }
  setNeedsDisplay();
}

void TerminalView::mouseMoved(const MouseRecord& event) {
  mouseState.lastPointerLocation = std::make_pair(event.x, event.y);
  // The link modifier may have been let go in another window, where its release never reached
  // this view: motion without it ends the preview and the underline.
  if (commandActive && !event.modifiers.control) turnOffUrlPreview();
  auto [hit, pixels] = calculateMouseHit(event.x, event.y);
  if (commandActive) {
    // The preview names the target of the link under the pointer and of no other: left showing
    // over another link, or over plain text, it would name a target a click there does not open.
    if (auto payload = payloadString(hit)) {
      previewUrl(*payload, hit);
    } else {
      removeUrlPreview();
    }
    reportLink(hit);
  }
  updateHoverLink(hit, std::nullopt);
  if (terminal->mouseMode() != MouseMode::anyEvent) return;
  int row = std::max(0, std::min(int(hit.row) - terminal->buffer->yDisp, terminal->rows - 1));
  terminal->sendEvent(encodeMouseEvent(event, true) + motionFlag, int(hit.col), row, int(pixels.col), int(pixels.row));
}

void TerminalView::mouseExited() {
  if (linkState.linkHighlightMode == LinkHighlightMode::hover ||
      linkState.linkHighlightMode == LinkHighlightMode::hoverWithModifier) {
    auto old = std::move(linkState.linkHighlightRange);
    linkState.linkHighlightRange.reset();
    invalidateLinkHighlight(old, std::nullopt);
    queuePendingDisplay();
  }
}

void TerminalView::scrollWheel(const ScrollRecord& event) {
  double dy = event.deltaY;
  if (dy == 0 || !cellDimension || cellDimension->height <= 0) return;
  double delta = dy * mouseState.scrollSensitivity;
  MouseMode mode = terminal->mouseMode();
  bool reporting = mouseReportingApplies(event.modifiers) && mode != MouseMode::off;
  bool precise = event.hasPreciseScrollingDeltas;
  if (event.inNotches) {
    // A program reading the wheel gets a report a notch, as from any terminal; the view scrolls a
    // notch as far as the desktop's scrolled views do for its height.
    double height = cellDimension->height;
    delta *= reporting ? height : wheelNotchPoints(terminal->rows * height, height);
    precise = true;
    // Turned back, the wheel goes as far as it came: what was left over the other way is dropped.
    if (mouseState.scrollAccumulator * delta < 0) mouseState.scrollAccumulator = 0;
  }
  int64_t lines = 0;
  if (precise) {
    double acc = mouseState.scrollAccumulator + delta;
    lines = int64_t(std::trunc(acc / cellDimension->height));
    mouseState.scrollAccumulator = acc - double(lines) * cellDimension->height;
    if (lines == 0) return;
  } else {
    mouseState.scrollAccumulator = 0;
    lines = std::llround(delta);
    if (lines == 0) lines = dy > 0 ? 1 : -1;
  }
  bool up = lines > 0;
  // Bounded so that a runaway delta cannot flood the program with reports.
  int n = int(std::min<int64_t>(std::llabs(lines), 1000));
  if (reporting) {
    auto [hit, pixels] = calculateMouseHit(event.x, event.y);
    int flags = up ? 64 : 65;
    if (sendsModifiers(mode)) {
      if (event.modifiers.shift) flags += 4;
      if (event.modifiers.alt) flags += 8;
      if (event.modifiers.control) flags += 16;
    }
    int row = std::max(0, std::min(int(hit.row) - terminal->buffer->yDisp, terminal->rows - 1));
    for (int i = 0; i < n; i++) terminal->sendEvent(flags, int(hit.col), row, int(pixels.col), int(pixels.row));
    return;
  }
  if (terminal->isCurrentBufferAlternate()) {
    bool app = terminal->applicationCursor;
    const Bytes& bytes = up ? (app ? EscapeSequences::moveUpApp : EscapeSequences::moveUpNormal)
                            : (app ? EscapeSequences::moveDownApp : EscapeSequences::moveDownNormal);
    for (int i = 0; i < n; i++) send(std::span<const uint8_t>(bytes));
    return;
  }
  if (up) {
    scrollTo(std::max(terminal->buffer->yDisp - n, 0), true);
  } else {
    scrollDown(n);
  }
}

void TerminalView::startMouseMoveTracking() {}

void TerminalView::stopMouseMoveTracking() {}

}  // namespace vantrelle
