#include "Vantrelle/View/CaretView.h"

#include <gdkmm/frameclock.h>
#include <gtkmm/snapshot.h>

#include <cmath>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

bool isBlinkingStyle(CursorStyle style) {
  return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline ||
         style == CursorStyle::blinkBar;
}

CaretView::CaretView(ViewRect frame, CursorStyle cursorStyle, TerminalView* terminal)
    : Glib::ObjectBase("VantrelleCaret"), frame(frame), style(cursorStyle), terminal(terminal) {
  set_can_target(false);
}

void CaretView::setText(const std::string& ch) {
  if (ch == text) return;
  text = ch;
  queue_draw();
}

void CaretView::stopBlink() {
  if (blinkTick) remove_tick_callback(blinkTick);
  blinkTick = 0;
  currentOpacity = 1;
}

void CaretView::restartLook() {
  stopBlink();
  if (!isBlinkingStyle(style)) return;
  blinkStart = 0;
  blinkTick = add_tick_callback([this](const Glib::RefPtr<Gdk::FrameClock>& clock) {
    gint64 now = clock->get_frame_time();
    if (blinkStart == 0) blinkStart = now;
    // On for half a second, off for half a second.
    double opacity = ((now - blinkStart) / 500000) % 2 == 0 ? 1.0 : 0.0;
    if (opacity != currentOpacity) {
      currentOpacity = opacity;
      queue_draw();
    }
    return true;
  });
}

void CaretView::freeze() {
  stopBlink();
  queue_draw();
}

void CaretView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  if (currentOpacity <= 0) return;
  double w = get_width(), h = get_height();
  Gdk::RGBA color;
  color.set_rgba(caretColor.red, caretColor.green, caretColor.blue,
                 caretColor.alpha * currentOpacity);
  bool hollow = tracksFocus && !focused;
  switch (style) {
    case CursorStyle::blinkUnderline:
    case CursorStyle::steadyUnderline:
      snapshot->append_color(color, Gdk::Rectangle(0, int(h) - 2, int(w), 2));
      return;
    case CursorStyle::blinkBar:
    case CursorStyle::steadyBar:
      snapshot->append_color(color, Gdk::Rectangle(0, 0, 2, int(h)));
      return;
    default:
      break;
  }
  if (hollow) {
    snapshot->append_color(color, Gdk::Rectangle(0, 0, int(w), 1));
    snapshot->append_color(color, Gdk::Rectangle(0, int(h) - 1, int(w), 1));
    snapshot->append_color(color, Gdk::Rectangle(0, 0, 1, int(h)));
    snapshot->append_color(color, Gdk::Rectangle(int(w) - 1, 0, 1, int(h)));
    return;
  }
  snapshot->append_color(color, Gdk::Rectangle(0, 0, int(w), int(h)));
}

}  // namespace vantrelle
