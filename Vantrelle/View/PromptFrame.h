#pragma once
// Painting a requested frame without waiting out the frame interval.
//
// GTK starts a frame no sooner than one refresh interval after the last one, counted by a timer of
// its frame clock. A display that paces frames itself (a compositor that reports when it drew the
// last frame) holds the clock frozen until then and no such timer exists; one that does not (plain
// X11, a virtual display) leaves the timer as the only wait, so the echo of a key that lands just
// after a frame of other output waited up to a whole interval for nothing.
#include <gdk/gdk.h>

namespace vantrelle {

// Has the frame `clock` was asked for start as soon as the main loop is free, when the only thing
// it waits for is the interval since the last frame. Returns whether a waiting frame was found.
// Does nothing for a frozen clock or one with no frame requested, and touches no other clock's
// timers. Call on the thread that runs the main loop.
bool startRequestedFrameNow(GdkFrameClock* clock);
// The same, for a frame to start no later than `monotonicUs` on the monotonic clock
// (g_get_monotonic_time): GTK waits for its next frame in whole milliseconds, so a frame of steady
// output started up to half a millisecond after the beat. A frame due sooner is left as it is.
bool startRequestedFrameBy(GdkFrameClock* clock, gint64 monotonicUs);

}  // namespace vantrelle
