#include <glib.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/Log.h"

using platform::Logger;

TEST(LogFormat, PrivacyMarkersAndPlainConversions) {
  EXPECT_EQ(Logger::format("task %{public}s of %{private}s", "T-1", "secret"), "task T-1 of <private>");
  EXPECT_EQ(Logger::format("%d events, bridge %{bool}d, %{public, bool}d", 3, 1, 0), "3 events, bridge true, false");
  EXPECT_EQ(Logger::format("%ld/%lld/%zu/%u/%x", 7L, -8LL, size_t{9}, 10u, 255u), "7/-8/9/10/ff");
  EXPECT_EQ(Logger::format("%.2f %5s|%-3d|%%", 1.005, "ab", 4), "1.00    ab|4  |%");
  EXPECT_EQ(Logger::format("%*d|%.*s", 4, 7, 2, "abcdef"), "   7|ab");
}

TEST(LogFormat, PrivateValuesStillConsumeTheirArgument) {
  // A redacted value must not shift the arguments that follow it.
  EXPECT_EQ(Logger::format("%{private}d then %{public}s and %{private}f then %d", 42, "next", 2.5, 9),
            "<private> then next and <private> then 9");
}

TEST(LogFormat, HostileFormatsAreHandledSafely) {
  int written = 0;
  EXPECT_EQ(Logger::format("a%nb", &written), "ab");
  EXPECT_EQ(written, 0);
  EXPECT_EQ(Logger::format("null %s", static_cast<const char*>(nullptr)), "null (null)");
  EXPECT_EQ(Logger::format("bad %q rest %s", "unused"), "bad %q rest %s");
  EXPECT_EQ(Logger::format("marker %{public"), "marker %{public");
  EXPECT_EQ(Logger::format("trailing %"), "trailing %");
  const std::string longText(5000, 'x');
  EXPECT_EQ(Logger::format("<%s>", longText.c_str()), "<" + longText + ">");
}

namespace {

struct Captured {
  std::string message;
  std::string domain;
  std::string category;
  GLogLevelFlags level{};
  int count = 0;
};

Captured captured;

GLogWriterOutput captureWriter(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
  auto field = [&](const char* key) {
    for (gsize i = 0; i < count; ++i) {
      if (g_strcmp0(fields[i].key, key) == 0) return std::string(static_cast<const char*>(fields[i].value));
    }
    return std::string();
  };
  captured.message = field("MESSAGE");
  captured.domain = field("GLIB_DOMAIN");
  captured.category = field("ZORVEL_CATEGORY");
  captured.level = level;
  captured.count += 1;
  return G_LOG_WRITER_HANDLED;
}

}  // namespace

TEST(Logger, WritesStructuredRecordsThatNeverAbort) {
  g_log_set_writer_func(captureWriter, nullptr, nullptr);
  Logger log("local.zorvel.test", "core");
  log.notice("started %{public}s with %{private}s", "runner", "token");
  EXPECT_EQ(captured.message, "[core] started runner with <private>");
  EXPECT_EQ(captured.domain, "local.zorvel.test");
  EXPECT_EQ(captured.category, "core");
  EXPECT_EQ(captured.level, G_LOG_LEVEL_MESSAGE);
  log.fault("broken %d", 1);
  EXPECT_EQ(captured.message, "[core] broken 1");
  EXPECT_EQ(captured.level, G_LOG_LEVEL_WARNING);
  EXPECT_TRUE(log.isEnabled(platform::LogLevel::error));
}
