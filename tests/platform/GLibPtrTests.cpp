#include <gtest/gtest.h>

#include "platform/GLibPtr.h"
#include "tests/MainLoop.h"

using namespace platform;

namespace {

// Counts GLib's critical warnings, which is how it reports a source id it does not know.
struct CriticalCounter {
  CriticalCounter() {
    handler = g_log_set_handler(
        "GLib", G_LOG_LEVEL_CRITICAL,
        [](const char*, GLogLevelFlags, const char*, gpointer count) { ++*static_cast<int*>(count); }, &count);
  }
  ~CriticalCounter() { g_log_remove_handler("GLib", handler); }
  int count = 0;
  guint handler = 0;
};

gboolean countRun(gpointer runs) {
  ++*static_cast<int*>(runs);
  return G_SOURCE_REMOVE;
}

// Every idle source ready at the same priority runs in the same pass; a marker attached last
// shows that a pass is over without waiting on a clock.
void runOnePass() {
  bool done = false;
  g_idle_add(
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &done);
  ASSERT_TRUE(runMainUntil([&] { return done; }));
}

}  // namespace

TEST(GLibHolders, ASourceRunsOnlyAsLongAsItsHolderWantsIt) {
  int kept = 0, dropped = 0, attached = 0;
  {
    // Attaching gives the context its own reference: a plain reference may be let go at once.
    GSourcePtr source(g_idle_source_new());
    g_source_set_callback(source.get(), countRun, &kept, nullptr);
    g_source_attach(source.get(), nullptr);
  }
  SourceId id(g_idle_add(countRun, &dropped));
  id.reset();
  AttachedSourcePtr owned(g_idle_source_new());
  g_source_set_callback(owned.get(), countRun, &attached, nullptr);
  g_source_attach(owned.get(), nullptr);
  owned.reset();
  runOnePass();
  EXPECT_EQ(kept, 1);
  EXPECT_EQ(dropped, 0);
  EXPECT_EQ(attached, 0);
}

TEST(GLibHolders, ASourceIdIsRemovedOnceAndNeverAfterItsSourceHasEnded) {
  CriticalCounter criticals;
  int first = 0, second = 0;
  SourceId id(g_idle_add(countRun, &first));
  id = SourceId(g_idle_add(
      [](gpointer runs) -> gboolean {
        ++*static_cast<int*>(runs);
        return G_SOURCE_CONTINUE;
      },
      &second));  // the first source goes with its id
  runOnePass();
  EXPECT_EQ(first, 0);
  EXPECT_GE(second, 1);
  id.reset();

  // The source ended by itself; its id was released in the callback and is not removed again.
  struct Ended {
    SourceId id;
    int runs = 0;
  } ended;
  ended.id = SourceId(g_idle_add(
      [](gpointer data) -> gboolean {
        auto* self = static_cast<Ended*>(data);
        ++self->runs;
        self->id.release();
        return G_SOURCE_REMOVE;
      },
      &ended));
  runOnePass();
  EXPECT_EQ(ended.runs, 1);
  EXPECT_FALSE(ended.id);
  ended.id.reset();
  EXPECT_EQ(criticals.count, 0);
}

TEST(GLibHolders, AnOutParameterLeavesOnlyTheLastCallsError) {
  GKeyFilePtr file(g_key_file_new());
  GErrorPtr error;
  EXPECT_FALSE(g_key_file_load_from_data(file.get(), "[group\n", static_cast<gsize>(-1), G_KEY_FILE_NONE, out(error)));
  ASSERT_TRUE(error);
  EXPECT_TRUE(g_error_matches(error.get(), G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_PARSE));
  // A holder reused for a call that succeeds must not keep the earlier failure.
  EXPECT_TRUE(
      g_key_file_load_from_data(file.get(), "[group]\nkey=1\n", static_cast<gsize>(-1), G_KEY_FILE_NONE, out(error)));
  EXPECT_FALSE(error);
}

TEST(GLibHolders, AWeakReferenceGivesTheObjectOnlyWhileItLives) {
  GObjectPtr<GObject> object(G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr)));
  GWeak<GObject> weak(object.get());
  const GWeak<GObject> copy = weak;
  EXPECT_EQ(copy.get().get(), object.get());
  object.reset();
  EXPECT_FALSE(weak.get());
  EXPECT_FALSE(copy.get());
  EXPECT_FALSE(GWeak<GObject>().get());
}
