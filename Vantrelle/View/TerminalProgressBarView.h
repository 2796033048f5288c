#pragma once
// A thin strip along the top edge of a terminal that shows the program's progress reports: a bar
// as wide as the percentage, or a segment sliding over a faint track when there is none.
#include <gtkmm/widget.h>

#include <cstdint>
#include <optional>

#include "Vantrelle/Render/ViewColor.h"
#include "Vantrelle/Render/ViewGeometry.h"
#include "Vantrelle/Terminal/TerminalTypes.h"

namespace vantrelle {

class TerminalProgressBarView : public Gtk::Widget {
 public:
  static constexpr double barWidthRatio = 0.25;
  static constexpr double indeterminateDuration = 1.2;
  static constexpr double determinateDuration = 0.2;

  TerminalProgressBarView();
  ~TerminalProgressBarView() override;
  // Shows the state and percentage; `remove` hides the strip.
  void apply(ProgressReportState state, std::optional<uint8_t> progress);
  ProgressReportState state = ProgressReportState::remove;
  // The last percentage applied, 0...100; none draws the sliding segment.
  std::optional<uint8_t> progress;

  ViewColor barColor() const;
  // The bar as it is drawn now, and where it is heading, in the strip's points.
  ViewRect barFrame() const { return bar; }
  ViewRect targetBarFrame() const { return target; }
  bool trackVisible() const { return showTrack; }
  bool isSliding() const { return animation == Animation::slide; }
  // Lays the bar out for the current size without animating.
  void relayout(double width, double height);

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  enum class Animation { none, resize, slide };
  void layoutDeterminate(double width, double height, bool animated);
  void layoutIndeterminate(double width, double height);
  void startTicking();
  void stopAnimation();
  void step(double seconds);

  ViewRect bar;
  ViewRect target;
  ViewRect from;
  bool showTrack = false;
  Animation animation = Animation::none;
  double boundsWidth = 0;
  guint tick = 0;
  gint64 animationStart = 0;
};

}  // namespace vantrelle
