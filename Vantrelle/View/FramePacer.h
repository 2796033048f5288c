#pragma once
// When the display's next frame comes, and the drawing done ahead of it. Output that keeps coming
// stops for the frame that is to draw it; the view then draws it before that frame, and delivery
// waits until the frame has painted. This keeps the times that takes: the view's last frame, the
// clock's frames as GTK counts them, whether the last one ran past the beat, and the beat drawn
// ahead for. The view decides whether a frame is awaited at all (output waiting, shown, the user
// not typing); the pacer only knows the clock.
#include <gdk/gdk.h>

#include <cstdint>
#include <functional>
#include <utility>

#include "Vantrelle/View/FrameClockWatch.h"
#include "platform/PreciseWake.h"

namespace vantrelle {

class FramePacer {
 public:
  // GTK may start a frame this much before its frame time.
  static constexpr uint64_t frameStartAllowanceNs = 500'000;
  // How long before the middle between two beats delivery stops for the frame after one that ran
  // past the beat.
  static constexpr uint64_t overdueFrameMarginNs = 1'000'000;
  // The refresh interval taken for a clock that reports none.
  static constexpr uint64_t assumedFrameIntervalNs = 16'670'000;

  // `painted` runs after each frame of the clock watched, once the pacer has recorded it.
  explicit FramePacer(std::function<void()> painted) : painted(std::move(painted)) {}
  FramePacer(const FramePacer&) = delete;
  FramePacer& operator=(const FramePacer&) = delete;

  // The view handed GTK a frame with this frame time (monotonic nanoseconds).
  void frameHandedOver(uint64_t frameTimeNs) { lastFrame = frameTimeNs; }
  // The frame time of the view's last frame; 0 before its first.
  uint64_t lastFrameNs() const { return lastFrame; }

  // When delivery stops for `clock`'s next frame (monotonic nanoseconds), early by `prepareNs`
  // when that frame keeps the beat, since the output is then drawn ahead of it. 0 without a clock
  // (no frame awaited) or before the view's first frame. From here on the clock is watched.
  uint64_t nextFrameDue(GdkFrameClock* clock, uint64_t prepareNs);
  // Whether the frame delivery last stopped for keeps the beat, so that drawing ahead serves it.
  bool beatAwaited() const { return drawAheadBeat != 0; }
  // The output was drawn ahead for that frame: delivery is held until it has painted, GTK's timers
  // are set to start it on its beat and the main loop wakes for it.
  void drewAhead(GdkFrameClock* clock);
  // The beat drawn ahead for, until that frame's tick takes it; 0 for none.
  uint64_t drawnAheadForNs() const { return drawnAheadFor; }
  // At a tick of the frame clock: true, once, when the output was drawn ahead for this frame.
  bool takeDrawnAhead() { return std::exchange(drawnAheadFor, 0) != 0; }

  // What a frame of the watched clock, just painted, means for delivery: it was the frame delivery
  // was held for, and whether it ran past the beat (GTK then starts the next at once).
  struct Painted {
    bool releasesDelivery;
    bool overran;
  };
  // Records the frame just painted; `clock` is the view's frame clock now.
  Painted framePainted(GdkFrameClock* clock);

 private:
  static uint64_t intervalNs(GdkFrameClock* clock);
  std::function<void()> painted;
  uint64_t lastFrame = 0;
  // The clock's last frame, also one the view took no part in (watched once output first waits
  // for a frame).
  FrameClockWatch watch;
  // The time of the clock's last frame when that frame ran past the beat; 0 when it did not.
  uint64_t overranFrame = 0;
  // The beat of the frame that delivery stops for, when that frame keeps the beat; 0 otherwise.
  uint64_t drawAheadBeat = 0;
  uint64_t drawnAheadFor = 0;
  bool deliveryHeld = false;
  platform::PreciseWake beatWake;
};

}  // namespace vantrelle
