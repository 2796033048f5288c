#pragma once
// The caret: a small child widget over the cursor's cell, drawn as a block, underline or bar in
// the cursor style, a hollow box while the view is not focused, blinking when the style says so.
#include <gtkmm/widget.h>
#include <sigc++/connection.h>

#include <cstdint>
#include <optional>
#include <string>

#include "Vantrelle/Buffer/CharData.h"
#include "Vantrelle/Render/AttributedRuns.h"
#include "Vantrelle/Render/ViewColor.h"
#include "Vantrelle/Render/ViewGeometry.h"
#include "Vantrelle/Terminal/TerminalOptions.h"
#include "Vantrelle/View/PixelNodes.h"

namespace vantrelle {

class TerminalView;

class CaretView : public Gtk::Widget {
 public:
  static constexpr ViewColor defaultCaretColor{0.5, 0.5, 0.5, 0.8};
  // No colour of its own: the character under a block caret takes the view's foreground colour.
  static constexpr std::optional<ViewColor> defaultCaretTextColor{};
  // One blink phase, fading out or back in.
  static constexpr double blinkPhaseSeconds = 0.7;
  // Opacity levels a fade steps through below full, each drawn only when the level changes. Where
  // a frame repaints only the caret the fade is smooth; where every frame renders the whole window
  // on the CPU (a GL renderer on a software rasterizer) it is shown in a few steps.
  static constexpr int smoothBlinkLevels = 12;
  static constexpr int coarseBlinkLevels = 2;
  static constexpr double hollowLineWidth = 3.0;

  CaretView(ViewRect frame, CursorStyle cursorStyle, TerminalView* terminal);
  ~CaretView() override { blinkTimer.disconnect(); }

  // The frame in the terminal view's points; the view allocates the caret there.
  ViewRect frame;
  CursorStyle style;
  bool focused = false;
  bool tracksFocus = true;
  ViewColor caretColor = defaultCaretColor;
  std::optional<ViewColor> caretTextColor = defaultCaretTextColor;
  // The character under the cursor, drawn inside a block caret.
  std::string text;
  FontFace face = FontFace::normal;
  int glyphColumnWidth = 1;
  std::optional<uint32_t> powerlineCodePoint;

  void setText(const CharData& ch);
  void setText(const std::string& ch);
  // Starts or stops the blink; stopping leaves the caret fully opaque.
  void updateAnimation(bool blink);
  // Blinking styles start blinking again; steady ones stop and show fully.
  void restartLook() { updateAnimation(isBlinking(style)); }
  // Stops any blinking and shows the caret fully.
  void freeze() { updateAnimation(false); }
  void redraw() { queue_draw(); }
  // Whether the style blinks; the blink itself may be resting (see noteUserActivity).
  bool isBlinking() const { return blinkWanted; }
  // Whether a blink is running now, drawing frames.
  bool isBlinkRunning() const { return blinkTimer.connected(); }
  // A key, a paste or a focus change: the caret blinks again if it had come to rest. As GTK's own
  // text fields do, a blinking caret rests (shown fully, drawing nothing) once the desktop's
  // blink time-out has passed without any, and stays still if the desktop turns blinking off.
  void noteUserActivity();
  // Whether a blinking style blinks now: the desktop allows blinking and a key, paste or focus
  // change came within its blink time-out. The OpenGL path's cursor follows this too.
  bool blinkAllowedNow();
  // Whether the caret draws as focused: the terminal view's focus (its window active included)
  // while it tracks focus, always otherwise.
  bool drawsFocused() const;
  // The colour of the character under a block caret.
  ViewColor textColor() const;
  double opacity() const { return currentOpacity; }
  // The opacity `seconds` into a blink: fading out with ease-in, then back the same way.
  static double blinkOpacity(double seconds);
  // The level shown `seconds` into a blink: blinkOpacity rounded to one of `levels` levels.
  static double steppedBlinkOpacity(double seconds, int levels);
  // How long after `seconds` into a blink the shown level next changes.
  static double secondsToNextBlinkStep(double seconds, int levels);
  // The levels this caret's fade steps through, chosen when the blink starts.
  int blinkLevels() const { return levels; }
  // Frames the caret has drawn, for checking that blinking stays cheap.
  uint64_t framesDrawn = 0;
  // Paints the caret into `context` at the widget's origin, `width` x `height` points.
  void drawCursor(cairo_t* context, double width, double height, bool hasFocus);
  // Draws the caret as it now looks, unless its drawing already shows that; its frames then only
  // hand the drawing over. The view calls this ahead of a frame, as it draws its own rows.
  void prepare();
  // The drawing last made (nullptr before the first).
  const GskRenderNode* drawing() const { return drawn.get(); }

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

 private:
  // Everything the caret's drawing shows; its opacity is applied over the drawing.
  struct Look {
    double width = 0, height = 0, scale = 0;
    bool focused = false;
    CursorStyle style{};
    ViewColor caret, textColor;
    std::string text;
    FontFace face{};
    int glyphColumns = 0;
    std::optional<uint32_t> powerline;
    bool customBlockGlyphs = false;
    unsigned font = 0;
    bool operator==(const Look&) const = default;
  };
  Look currentLook() const;
  RenderNodePtr drawn;
  Look drawnLook;
  static bool isBlinking(CursorStyle style);
  void drawPowerline(cairo_t* context, double width, double height, const ViewColor& color);
  void drawCharacter(cairo_t* context, double width, double height, const ViewColor& color);
  void scheduleBlinkStep();
  void blinkStep();
  TerminalView* terminal;
  bool desktopAllowsBlinking();
  double desktopBlinkTimeoutSeconds();
  sigc::connection blinkTimer;
  bool blinkWanted = false;
  gint64 lastActivity = 0;
  double currentOpacity = 1;
  gint64 blinkStart = 0;
  int levels = coarseBlinkLevels;
  int levelsForWindow();
};

bool isBlinkingStyle(CursorStyle style);

}  // namespace vantrelle
