// One line of output without a line end (a minified file, a log written without them) can wrap
// over every row of the scrollback. A resize re-lays it as one wrapped group: it must keep the
// text whole, in order, and take work in proportion to the rows, not to their square.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

// Characters that tell every position of the line from its neighbours.
std::string lineWithoutEnd(int64_t characters) {
  std::string text;
  text.reserve(size_t(characters));
  uint64_t state = 7;
  for (int64_t i = 0; i < characters; i++) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    text += char('!' + (state >> 33) % 94);
  }
  return text;
}

// The ring's text, its wrapped rows joined and a line break before every line that starts afresh;
// fails when a row holds more cells than the width.
std::string ringText(Terminal& t) {
  std::string text;
  auto& lines = t.buffer->lines();
  for (int i = 0; i < lines.count(); i++) {
    if (i > 0 && !lines[i]->isWrapped()) text += '\n';
    EXPECT_EQ(lines[i]->count(), t.cols) << "row " << i;
    text += lines[i]->translateToString(true);
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

TEST(LongLineReflow, ALineOverTheWholeRingKeepsItsTextThroughResizes) {
  constexpr int scrollback = 5000;
  const std::string line = lineWithoutEnd(int64_t(scrollback) * 80);
  TestHost host;
  Terminal t(&host, sized(80, 24, scrollback));
  t.feed(line);
  size_t held = line.size();
  const int sizes[][2] = {{79, 24}, {80, 24}, {1, 1}, {2000, 1000}, {3, 24}, {200, 50}, {80, 24}};
  for (const auto& size : sizes) {
    const std::string where = std::to_string(size[0]) + "x" + std::to_string(size[1]);
    t.resize(size[0], size[1]);
    // What the ring keeps is the line's end: all it held before, or as much as its rows take.
    const std::string kept = ringText(t);
    auto& lines = t.buffer->lines();
    ASSERT_LE(kept.size(), held) << where;
    EXPECT_GE(kept.size(), std::min(held, size_t(lines.maxLength() - 1) * size_t(t.cols))) << where;
    EXPECT_TRUE(kept == line.substr(line.size() - kept.size())) << where << ": the kept text is not the line's end";
    held = kept.size();
    // The cursor stays just past the text, on its last row.
    const int row = t.buffer->yBase + t.buffer->y;
    EXPECT_EQ(lines[row]->getTrimmedLength(), std::min<int>(t.buffer->x, t.cols)) << where;
    for (int below = row + 1; below < lines.count(); below++) EXPECT_FALSE(lines[below]->hasAnyContent()) << where;
  }
}

// Narrows a line wrapped over 400,000 rows under a limit on the process's processor time, and
// exits with 0 when the ring then holds the line's end.
[[noreturn]] void narrowALineOverTheWholeRing(rlim_t limitSeconds) {
  const rlimit limit{limitSeconds, limitSeconds};
  setrlimit(RLIMIT_CPU, &limit);
  constexpr int scrollback = 400'000;
  const std::string line = lineWithoutEnd(int64_t(scrollback) * 4);
  TestHost host;
  Terminal t(&host, sized(4, 24, scrollback));
  t.feed(line);
  t.resize(3, 24);
  const std::string kept = ringText(t);
  _exit(kept.size() > line.size() / 2 && kept == line.substr(line.size() - kept.size()) ? 0 : 1);
}

// The narrowing takes half a second, a few in a sanitizer build; gathering the line's rows one
// insertion at the front at a time took minutes. The limit lies far from both, so the test is no
// race with the machine.
TEST(LongLineReflow, NarrowingALineOverTheWholeRingTakesLinearWork) {
  EXPECT_EXIT(narrowALineOverTheWholeRing(30), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantrelle
