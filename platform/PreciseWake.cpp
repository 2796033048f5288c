#include "platform/PreciseWake.h"

#include <glib-unix.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

PreciseWake::PreciseWake() {
  // The monotonic clock is the one uptimeNanoseconds and GLib read.
  timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timer < 0) return;
  source.reset(g_unix_fd_source_new(timer, G_IO_IN));
  g_source_set_callback(source.get(), G_SOURCE_FUNC(+[](gint fd, GIOCondition, gpointer) -> gboolean {
                          uint64_t expirations = 0;
                          // Read, or the descriptor stays readable and the loop spins.
                          [[maybe_unused]] ssize_t n = read(fd, &expirations, sizeof expirations);
                          return G_SOURCE_CONTINUE;
                        }),
                        nullptr, nullptr);
  g_source_set_name(source.get(), "precise wake");
  g_source_attach(source.get(), nullptr);
}

PreciseWake::~PreciseWake() {
  source.reset();
  if (timer >= 0) close(timer);
}

void PreciseWake::at(uint64_t monotonicNs) {
  if (timer < 0) return;
  itimerspec when{};
  when.it_value.tv_sec = time_t(monotonicNs / 1'000'000'000);
  when.it_value.tv_nsec = long(monotonicNs % 1'000'000'000);
  // A moment already past is due at once; zero would disarm the timer instead.
  if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
  timerfd_settime(timer, TFD_TIMER_ABSTIME, &when, nullptr);
}

}  // namespace platform
