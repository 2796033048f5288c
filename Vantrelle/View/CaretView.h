#pragma once
// The caret: a small child widget over the cursor's cell, drawn as a block, underline or bar in
// the cursor style, blinking when the style says so and the view has focus.
#include <gtkmm/widget.h>

#include <string>

#include "Vantrelle/Terminal/TerminalOptions.h"
#include "Vantrelle/View/AttributedRuns.h"
#include "Vantrelle/View/ViewColor.h"
#include "Vantrelle/View/ViewGeometry.h"

namespace vantrelle {

class TerminalView;

class CaretView : public Gtk::Widget {
 public:
  static constexpr ViewColor defaultCaretColor{0.5, 0.5, 0.5, 0.8};
  static constexpr ViewColor defaultCaretTextColor{1, 1, 1, 1};

  CaretView(ViewRect frame, CursorStyle cursorStyle, TerminalView* terminal);

  // The frame in the terminal view's points; the view allocates the caret there.
  ViewRect frame;
  CursorStyle style;
  bool focused = false;
  bool tracksFocus = true;
  ViewColor caretColor = defaultCaretColor;
  ViewColor caretTextColor = defaultCaretTextColor;
  // The character under the cursor and its rendition, drawn inside a block caret.
  std::string text;
  void setText(const std::string& ch);
  // Blinking styles start blinking again; steady ones stop and show fully.
  void restartLook();
  // Stops any blinking and shows the caret fully.
  void freeze();
  void redraw() { queue_draw(); }
  bool isBlinking() const { return blinkTick != 0; }
  double opacity() const { return currentOpacity; }

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

 private:
  void stopBlink();
  TerminalView* terminal;
  guint blinkTick = 0;
  double currentOpacity = 1;
  gint64 blinkStart = 0;
};

bool isBlinkingStyle(CursorStyle style);

}  // namespace vantrelle
