#include "Vantrelle/View/CaretView.h"

#include <glibmm/main.h>
#include <gtkmm/snapshot.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "Vantrelle/Buffer/UnicodeUtil.h"
#include "Vantrelle/View/PixelNodes.h"
#include "Vantrelle/View/TerminalView.h"
#include "Vantrelle/View/WindowRenderer.h"
#include "platform/CairoPtr.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

namespace {

void setColor(cairo_t* context, const ViewColor& c) { cairo_set_source_rgba(context, c.red, c.green, c.blue, c.alpha); }

// The ease-in timing curve, a cubic Bezier through (0.42, 0) and (1, 1): y for x.
double easeIn(double x) {
  auto bezier = [](double t, double p1, double p2) {
    double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
  };
  double lo = 0, hi = 1, t = x;
  for (int i = 0; i < 30; i++) {
    t = (lo + hi) / 2;
    if (bezier(t, 0.42, 1.0) < x)
      lo = t;
    else
      hi = t;
  }
  return bezier(t, 0.0, 1.0);
}

bool isSolidPowerline(uint32_t code) { return code == 0xE0B0 || code == 0xE0B2 || code == 0xE0B4 || code == 0xE0B6; }

}  // namespace

bool isBlinkingStyle(CursorStyle style) {
  return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline || style == CursorStyle::blinkBar;
}

bool CaretView::isBlinking(CursorStyle s) { return isBlinkingStyle(s); }

CaretView::CaretView(ViewRect frame, CursorStyle cursorStyle, TerminalView* terminal)
    : Glib::ObjectBase("VantrelleCaret"), frame(frame), style(cursorStyle), terminal(terminal) {
  // Clicks go through to the terminal view.
  set_can_target(false);
}

void CaretView::setText(const CharData& ch) {
  glyphColumnWidth = std::max<int>(ch.width, 1);
  powerlineCodePoint.reset();
  // Hidden text (SGR 8) stays hidden under the caret too.
  const bool concealed = ch.attribute().style.contains(CharacterStyle::invisible);
  if (!concealed && ch.code >= 0xE0B0 && ch.code <= 0xE0B7) powerlineCodePoint = uint32_t(ch.code);
  std::string character = " ";
  if (terminal && ch.code != 0 && !concealed) character = terminal->getTerminal().character(ch.code);
  text = UnicodeUtil::textPresentationAdjusted(character);
  face = terminal ? terminal->getAttributedValue(ch.attribute(), caretColor, textColor()).font : FontFace::normal;
  queue_draw();
}

void CaretView::setText(const std::string& ch) {
  if (ch == text) return;
  text = ch;
  queue_draw();
}

double CaretView::blinkOpacity(double seconds) {
  double cycle = std::fmod(std::max(seconds, 0.0), 2 * blinkPhaseSeconds);
  double progress =
      cycle < blinkPhaseSeconds ? cycle / blinkPhaseSeconds : (2 * blinkPhaseSeconds - cycle) / blinkPhaseSeconds;
  return 1.0 - easeIn(progress);
}

double CaretView::steppedBlinkOpacity(double seconds, int levels) {
  return std::round(blinkOpacity(seconds) * levels) / levels;
}

// The fade is monotonic within each phase, so the moments where the rounded level changes are
// found once by bisection: the opacity crosses each midpoint between two levels once per phase.
double CaretView::secondsToNextBlinkStep(double seconds, int levels) {
  static std::map<int, std::vector<double>> schedules;
  auto& steps = schedules[levels];
  if (steps.empty()) {
    for (int k = 0; k < levels; k++) {
      double threshold = (k + 0.5) / levels, lo = 0, hi = blinkPhaseSeconds;
      for (int i = 0; i < 40; i++) {
        double mid = (lo + hi) / 2;
        (blinkOpacity(mid) > threshold ? lo : hi) = mid;
      }
      steps.push_back(hi);
      steps.push_back(2 * blinkPhaseSeconds - hi);
    }
    steps.push_back(2 * blinkPhaseSeconds);
    std::sort(steps.begin(), steps.end());
  }
  double cycle = 2 * blinkPhaseSeconds;
  double at = std::fmod(std::max(seconds, 0.0), cycle);
  auto next = std::upper_bound(steps.begin(), steps.end(), at);
  return (next == steps.end() ? cycle + steps.front() : *next) - at;
}

int CaretView::levelsForWindow() {
  if (!get_realized() || paintsWithCairo(*this)) return smoothBlinkLevels;
  return displayGLIsSoftware() ? coarseBlinkLevels : smoothBlinkLevels;
}

void CaretView::updateAnimation(bool blink) {
  blinkTimer.disconnect();
  currentOpacity = 1;
  queue_draw();
  blinkWanted = blink;
  if (!blink || !desktopAllowsBlinking()) return;
  blinkStart = lastActivity = g_get_monotonic_time();
  levels = levelsForWindow();
  scheduleBlinkStep();
}

void CaretView::noteUserActivity() {
  lastActivity = g_get_monotonic_time();
  if (!blinkWanted || blinkTimer.connected() || !desktopAllowsBlinking()) return;
  blinkStart = lastActivity;
  levels = levelsForWindow();
  scheduleBlinkStep();
}

bool CaretView::blinkAllowedNow() {
  return desktopAllowsBlinking() && double(g_get_monotonic_time() - lastActivity) / 1e6 < desktopBlinkTimeoutSeconds();
}

bool CaretView::desktopAllowsBlinking() {
  gboolean blink = TRUE;
  g_object_get(gtk_widget_get_settings(GTK_WIDGET(gobj())), "gtk-cursor-blink", &blink, nullptr);
  return blink;
}

double CaretView::desktopBlinkTimeoutSeconds() {
  int seconds = 10;
  g_object_get(gtk_widget_get_settings(GTK_WIDGET(gobj())), "gtk-cursor-blink-timeout", &seconds, nullptr);
  return seconds;
}

// A timer rather than a frame-clock tick: the caret wakes only when its level changes, and only
// then asks for a frame.
void CaretView::scheduleBlinkStep() {
  double elapsed = double(g_get_monotonic_time() - blinkStart) / 1e6;
  // A millisecond past the step, so that the level has surely changed when the timer runs.
  auto delay = unsigned(std::ceil(secondsToNextBlinkStep(elapsed, levels) * 1000)) + 1;
  blinkTimer = Glib::signal_timeout().connect(
      [this] {
        blinkStep();
        return false;
      },
      delay);
}

void CaretView::blinkStep() {
  gint64 now = g_get_monotonic_time();
  bool resting = double(now - lastActivity) / 1e6 >= desktopBlinkTimeoutSeconds();
  // Resting waits for a full level so that the caret never stops half faded.
  double opacity = steppedBlinkOpacity(double(now - blinkStart) / 1e6, levels);
  if (opacity != currentOpacity) {
    currentOpacity = opacity;
    if (get_mapped()) queue_draw();
  }
  if (resting && currentOpacity == 1) return;
  scheduleBlinkStep();
}

void CaretView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  if (get_width() <= 0 || get_height() <= 0) return;
  framesDrawn++;
  if (currentOpacity <= 0) return;
  prepare();
  GtkSnapshot* target = snapshot->gobj();
  gtk_snapshot_push_opacity(target, currentOpacity);
  gtk_snapshot_append_node(target, drawn.get());
  gtk_snapshot_pop(target);
}

CaretView::Look CaretView::currentLook() const {
  Look look;
  look.width = get_width(), look.height = get_height();
  look.focused = drawsFocused();
  look.style = style;
  look.caret = caretColor;
  look.textColor = textColor();
  if (!terminal) return look;
  look.scale = terminal->backingScaleFactor();
  look.text = text;
  look.face = face;
  look.glyphColumns = glyphColumnWidth;
  look.powerline = powerlineCodePoint;
  look.customBlockGlyphs = terminal->getCustomBlockGlyphs();
  look.font = pango_font_description_hash(terminal->fontSet.face(face).gobj());
  return look;
}

// Laying the character out with Pango is most of a caret's cost, and while output streams the
// character under the caret changes on every frame.
void CaretView::prepare() {
  Look look = currentLook();
  if (drawn && look == drawnLook) return;
  graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(look.width), float(look.height));
  RenderNodePtr node(gsk_cairo_node_new(&bounds));
  platform::CairoPtr context(gsk_cairo_node_get_draw_context(node.get()));
  drawCursor(context.get(), look.width, look.height, look.focused);
  context.reset();
  drawn = std::move(node);
  drawnLook = std::move(look);
}

ViewColor CaretView::textColor() const {
  if (caretTextColor) return *caretTextColor;
  return terminal ? terminal->nativeForegroundColor() : ViewColor::black();
}

bool CaretView::drawsFocused() const { return tracksFocus && terminal ? terminal->hasFocus() : true; }

void CaretView::drawCursor(cairo_t* context, double width, double height, bool hasFocus) {
  if (!terminal) return;
  cairo_save(context);
  cairo_rectangle(context, 0, 0, width, height);
  cairo_clip(context);
  setColor(context, caretColor);
  if (!hasFocus) {
    // The same hollow box for every style, so an unfocused terminal reads at a glance.
    cairo_set_line_width(context, hollowLineWidth);
    cairo_rectangle(context, 0, 0, width, height);
    cairo_stroke(context);
    cairo_restore(context);
    return;
  }
  switch (style) {
    case CursorStyle::blinkUnderline:
    case CursorStyle::steadyUnderline:
      cairo_rectangle(context, 0, height - 2, width, 2);
      cairo_fill(context);
      break;
    case CursorStyle::blinkBar:
    case CursorStyle::steadyBar:
      cairo_rectangle(context, 0, 0, 2, height);
      cairo_fill(context);
      break;
    default:
      cairo_rectangle(context, 0, 0, width, height);
      cairo_fill(context);
      if (powerlineCodePoint && terminal->getCustomBlockGlyphs() && isSolidPowerline(*powerlineCodePoint)) {
        drawPowerline(context, width, height, textColor());
      } else {
        drawCharacter(context, width, height, textColor());
      }
      break;
  }
  cairo_restore(context);
}

void CaretView::drawPowerline(cairo_t* context, double width, double height, const ViewColor& color) {
  double s = terminal->backingScaleFactor();
  if (!(s > 0)) return;
  double left = std::floor(s * 0) / s, right = std::ceil(s * width) / s;
  double top = std::floor(s * 0) / s, bottom = std::ceil(s * height) / s;
  uint32_t code = *powerlineCodePoint;
  bool pointsRight = code == 0xE0B0 || code == 0xE0B4;
  double flat = pointsRight ? left : right, tip = pointsRight ? right : left;
  setColor(context, color);
  // A device-pixel seam just outside the flat side joins the caret to the cell next to it.
  cairo_set_antialias(context, CAIRO_ANTIALIAS_NONE);
  cairo_rectangle(context, pointsRight ? left - 1 / s : right, top, 1 / s, bottom - top);
  cairo_fill(context);
  cairo_set_antialias(context, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_fill_rule(context, CAIRO_FILL_RULE_WINDING);
  cairo_move_to(context, flat, bottom);
  if (code == 0xE0B0 || code == 0xE0B2) {
    double middle = std::round(s * (top + bottom) * 0.5) / s;
    cairo_line_to(context, tip, middle);
    cairo_line_to(context, flat, top);
  } else {
    double k = std::abs(tip - flat) * 4.0 / 3.0 * (pointsRight ? 1 : -1);
    cairo_curve_to(context, flat + k, bottom, flat + k, top, flat, top);
  }
  cairo_close_path(context);
  cairo_fill(context);
}

void CaretView::drawCharacter(cairo_t* context, double width, double height, const ViewColor& color) {
  if (text.empty() || text == " ") return;
  const auto& m = terminal->fontMetrics();
  // The glyph's baseline sits the font's descent and leading above the cell's bottom edge.
  double baselineY = height - std::ceil(m.descent + m.leading);
  setColor(context, color);
  // Drawn as in its row: marks over their base, a box for a character that no font has.
  terminal->drawCellText(context, text, face, glyphColumnWidth, 0, baselineY);
  (void)width;
}

}  // namespace vantrelle
