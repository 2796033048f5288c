#include <gtest/gtest.h>

#include "platform/Dispatch.h"
#include "platform/PreciseWake.h"

// The main loop, with nothing else to wake it, wakes by itself at the moment asked (not before; how
// soon after depends on the machine).
TEST(PreciseWake, TheMainLoopWakesByItselfAtTheMomentAsked) {
  // Drains whatever the context holds, so the next blocking iteration has only the wake to end it.
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  platform::PreciseWake wake;
  bool backstop = false;
  guint guard = g_timeout_add_seconds(
      20,
      +[](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &backstop);
  uint64_t due = platform::uptimeNanoseconds() + 30'000'000;
  wake.at(due);
  while (platform::uptimeNanoseconds() < due && !backstop) g_main_context_iteration(nullptr, TRUE);
  EXPECT_FALSE(backstop) << "the loop slept through the wake";
  EXPECT_GE(platform::uptimeNanoseconds(), due);
  if (!backstop) g_source_remove(guard);
}
