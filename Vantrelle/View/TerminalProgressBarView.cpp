#include "Vantrelle/View/TerminalProgressBarView.h"

#include <gdkmm/frameclock.h>
#include <gtkmm/snapshot.h>

#include <cmath>

namespace vantrelle {

namespace {

// Ease in and out: a smooth start and a smooth stop.
double easeInOut(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

}  // namespace

TerminalProgressBarView::TerminalProgressBarView() : Glib::ObjectBase("VantrelleTerminalProgressBar") {
  set_can_target(false);
  set_overflow(Gtk::Overflow::HIDDEN);
}

TerminalProgressBarView::~TerminalProgressBarView() { stopAnimation(); }

ViewColor TerminalProgressBarView::barColor() const {
  switch (state) {
    case ProgressReportState::pause:
      return ViewColor(1.0, 0.58, 0.0);
    case ProgressReportState::error:
      return ViewColor(0.88, 0.11, 0.14);
    default:
      return ViewColor(0.21, 0.52, 0.89);
  }
}

void TerminalProgressBarView::apply(ProgressReportState newState, std::optional<uint8_t> newProgress) {
  state = newState;
  progress = newProgress ? std::optional<uint8_t>(std::min<uint8_t>(*newProgress, 100)) : std::nullopt;
  bool hidden = state == ProgressReportState::remove;
  set_visible(!hidden);
  if (hidden) {
    if (animation == Animation::slide) stopAnimation();
    return;
  }
  double width = get_width(), height = get_height();
  if (progress) {
    layoutDeterminate(width, height, true);
  } else {
    layoutIndeterminate(width, height);
  }
  queue_draw();
}

void TerminalProgressBarView::relayout(double width, double height) {
  if (progress) {
    layoutDeterminate(width, height, false);
  } else {
    layoutIndeterminate(width, height);
  }
  queue_draw();
}

void TerminalProgressBarView::size_allocate_vfunc(int width, int height, int baseline) {
  Gtk::Widget::size_allocate_vfunc(width, height, baseline);
  if (get_visible() && (width != boundsWidth || height != bar.height)) relayout(width, height);
}

void TerminalProgressBarView::layoutDeterminate(double width, double height, bool animated) {
  showTrack = false;
  if (animation == Animation::slide) stopAnimation();
  boundsWidth = width;
  target = ViewRect{0, 0, width * (*progress) / 100.0, height};
  if (!animated || width <= 0) {
    stopAnimation();
    bar = target;
    return;
  }
  from = bar;
  from.height = height;
  animation = Animation::resize;
  startTicking();
}

void TerminalProgressBarView::layoutIndeterminate(double width, double height) {
  showTrack = true;
  boundsWidth = width;
  double w = width * barWidthRatio;
  bar = target = ViewRect{0, 0, w, height};
  if (w > 0 && w < width) {
    animation = Animation::slide;
    startTicking();
  } else {
    stopAnimation();
  }
}

void TerminalProgressBarView::startTicking() {
  animationStart = 0;
  if (tick) return;
  tick = add_tick_callback([this](const Glib::RefPtr<Gdk::FrameClock>& clock) {
    gint64 now = clock->get_frame_time();
    if (animationStart == 0) animationStart = now;
    step(double(now - animationStart) / 1e6);
    queue_draw();
    if (animation == Animation::none) {
      tick = 0;
      return false;
    }
    return true;
  });
}

void TerminalProgressBarView::stopAnimation() {
  if (tick) remove_tick_callback(tick);
  tick = 0;
  animation = Animation::none;
}

void TerminalProgressBarView::step(double seconds) {
  if (animation == Animation::resize) {
    double t = easeInOut(seconds / determinateDuration);
    bar.width = from.width + (target.width - from.width) * t;
    bar.height = target.height;
    if (seconds >= determinateDuration) {
      bar = target;
      animation = Animation::none;
    }
  } else if (animation == Animation::slide) {
    // Centre sweeps from w/2 to width - w/2 and back.
    double cycle = std::fmod(seconds, 2 * indeterminateDuration);
    double p = cycle < indeterminateDuration ? cycle / indeterminateDuration
                                             : (2 * indeterminateDuration - cycle) / indeterminateDuration;
    double w = bar.width;
    double centre = w / 2 + (boundsWidth - w) * easeInOut(p);
    bar.x = centre - w / 2;
  }
}

void TerminalProgressBarView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  double width = get_width(), height = get_height();
  ViewColor c = barColor();
  if (showTrack) {
    Gdk::RGBA track;
    track.set_rgba(c.red, c.green, c.blue, 0.3);
    snapshot->append_color(track, Gdk::Rectangle(0, 0, int(std::ceil(width)), int(std::ceil(height))));
  }
  Gdk::RGBA color;
  color.set_rgba(c.red, c.green, c.blue, 1.0);
  graphene_rect_t r = GRAPHENE_RECT_INIT(float(bar.x), 0, float(bar.width), float(height));
  gtk_snapshot_append_color(snapshot->gobj(), color.gobj(), &r);
}

}  // namespace vantrelle
