#include "Vantrelle/View/FramePacer.h"

#include <algorithm>
#include <utility>

#include "Vantrelle/View/PromptFrame.h"
#include "platform/Dispatch.h"

namespace vantrelle {

uint64_t FramePacer::intervalNs(GdkFrameClock* clock) {
  gint64 interval = 0, presentation = 0;
  if (clock) gdk_frame_clock_get_refresh_info(clock, gdk_frame_clock_get_frame_time(clock), &interval, &presentation);
  return interval > 0 ? uint64_t(interval) * 1000 : assumedFrameIntervalNs;
}

uint64_t FramePacer::nextFrameDue(GdkFrameClock* clock, uint64_t prepareNs) {
  drawAheadBeat = 0;
  if (!clock || !lastFrame) return 0;
  // The clock's last frame may be one the view took no part in; the next comes an interval after it.
  // GTK counts from the frame's own time, kept on the beat, which after a late frame lies ahead of
  // the moment the frame began, so that moment (the frame's timings) is only the first estimate.
  watch.watch(clock, painted);
  uint64_t last = std::max(lastFrame, watch.lastFrameNs());
  if (!watch.lastFrameNs()) {
    if (GdkFrameTimings* timings = gdk_frame_clock_get_current_timings(clock))
      last = std::max(last, uint64_t(std::max<gint64>(gdk_frame_timings_get_frame_time(timings), 0)) * 1000);
  }
  uint64_t interval = intervalNs(clock);
  if (last != overranFrame) {
    drawAheadBeat = last + interval;
    return drawAheadBeat - frameStartAllowanceNs - prepareNs;
  }
  // The last frame ran past the beat, so GTK starts the next once the main loop is free and stamps
  // it with the beat nearest its start. Delivery stops a little before the middle between two beats,
  // so that the frame draws for the earlier one instead of a whole beat later.
  uint64_t now = platform::uptimeNanoseconds();
  uint64_t beats = now > last ? std::max<uint64_t>((now - last + interval / 2) / interval, 1) : 1;
  return last + beats * interval + interval / 2 - overdueFrameMarginNs;
}

void FramePacer::drewAhead(GdkFrameClock* clock) {
  drawnAheadFor = drawAheadBeat;
  deliveryHeld = true;
  // GTK waits for a frame in whole milliseconds: its timers are set to the beat itself, and the
  // main loop wakes for it.
  if (clock) startRequestedFrameBy(clock, gint64(drawnAheadFor / 1000));
  beatWake.at(drawnAheadFor);
}

FramePacer::Painted FramePacer::framePainted(GdkFrameClock* clock) {
  uint64_t last = watch.lastFrameNs();
  bool overran = last && platform::uptimeNanoseconds() + frameStartAllowanceNs >= last + intervalNs(clock);
  overranFrame = overran ? last : 0;
  return {std::exchange(deliveryHeld, false), overran};
}

}  // namespace vantrelle
