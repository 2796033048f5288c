// Steps run a slice at a time, and the line cache kept across output.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/text/SearchFixture.h"

namespace vantrelle {
namespace {

struct StepFixture : testing::SearchFixture {
  explicit StepFixture(int cols = 10, int rows = 4, int scrollback = 500) : SearchFixture(cols, rows, scrollback) {}

  // Advances a step a few lines at a time (the deadline has always passed) and counts the slices.
  std::optional<SearchResult> sliced(SearchStep& step, int& slices) {
    slices = 0;
    while (!step.advance(search.engine, SearchStep::Clock::time_point())) ++slices;
    return step.result;
  }
};

std::string numberedLines(int count, int marked, const std::string& mark) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i == marked ? mark : "line " + std::to_string(i)) + "\r\n";
  return text;
}

// Whatever the direction, start or term, a step cut into slices ends where a whole one does.
TEST(SearchStep, SlicedStepsFindWhatWholeStepsFind) {
  StepFixture f;
  f.t.feed(numberedLines(150, 3, "12345678wrap it") + numberedLines(150, 140, "x wrap"));
  const std::optional<SearchSelection> none;
  const SearchSelection middle{Position(0, 200), Position(4, 200)};
  struct Case {
    const char* term;
    bool forward;
    std::optional<SearchSelection> selection;
    std::optional<std::string> previousTerm;
  } cases[] = {
      {"wrap", true, none, {}},        {"wrap", false, none, {}},       {"wrap", true, middle, "wrap"},
      {"wrap", false, middle, "wrap"}, {"wrap", false, middle, "line"}, {"absent", true, middle, {}},
      {"absent", false, middle, {}},   {"it", true, middle, "it"},      {"line 14", false, none, {}},
  };
  for (const Case& c : cases) {
    SearchStep whole(c.term, SearchOptions(), c.previousTerm, c.selection, c.forward);
    whole.advance(f.search.engine);
    SearchStep step(c.term, SearchOptions(), c.previousTerm, c.selection, c.forward);
    int slices = 0;
    EXPECT_EQ(f.sliced(step, slices), whole.result) << c.term << " forward " << c.forward;
    if (!whole.result) {
      EXPECT_GT(slices, 3) << c.term;
    }
  }
}

// Lines leave the top of a full scrollback between two slices: the step goes on with the rows
// where they moved, neither skipping the lines that moved past it nor losing its match.
TEST(SearchStep, AStepFollowsTheRowsWhenTheScrollbackDropsLines) {
  for (bool forward : {true, false}) {
    StepFixture f(10, 4, 200);
    // The buffer keeps lines 97 on; the target is on row 40, which the first slice going down
    // does not reach, and which the dropped lines move above where it stopped.
    f.t.feed(numberedLines(300, 137, "target"));
    SearchStep step("target", SearchOptions(), std::nullopt, std::nullopt, forward);
    ASSERT_FALSE(step.advance(f.search.engine, SearchStep::Clock::time_point()));
    f.t.feed(numberedLines(20, -1, ""));
    f.search.invalidate();
    step.linesDropped(20);
    int slices = 0;
    auto found = f.sliced(step, slices);
    ASSERT_TRUE(found) << forward;
    EXPECT_EQ(f.t.translateBufferLineToString(*f.t.buffer, found->row, 0, -1), "target") << forward;
  }
}

// Output forgets the lines it may have changed and no others: scrollback lines read before keep
// their text, moved with their rows when lines leave the top, and what the screen shows now is
// found, not what it showed.
TEST(SearchStep, OutputKeepsTheScrollbackLinesAlreadyRead) {
  StepFixture f(10, 4, 100);
  f.t.feed(numberedLines(150, 100, "old early") + "screen old");
  ASSERT_TRUE(f.search.findNext("old", {}));
  ASSERT_TRUE(f.search.findNext("absent", {}) == std::nullopt);  // reads every line
  const int64_t row = f.search.findAll("early", {}, 5).at(0).row;
  const SearchLineEntry* kept = f.search.lineCache.entry(row);
  ASSERT_NE(kept, nullptr);

  f.search.invalidate();
  f.t.feed("\rscreen new\r\n\r\n");  // rewrites a screen row, and two lines leave the top
  EXPECT_EQ(f.search.findAll("old", {}, 5).size(), 1u);
  EXPECT_EQ(f.search.findAll("new", {}, 5).size(), 1u);
  EXPECT_EQ(f.search.lineCache.entry(row - 2), kept);

  // Scrollback erased: nothing read before is kept.
  f.search.invalidate();
  f.t.feed("\x1b[3J");
  EXPECT_TRUE(f.search.findAll("early", {}, 5).empty());
}

// A pattern that backtracks without end on every line gives up on each line soon, so a search
// over many such lines ends (each once took a third of a second) and still finds a later match.
TEST(SearchStep, APathologicalPatternGivesUpOnEachLineSoon) {
  StepFixture f(70, 4, 500);
  std::string text;
  for (int i = 0; i < 40; ++i) text += std::string(60, 'a') + "\r\n";
  f.t.feed(text + "ax");
  const auto began = std::chrono::steady_clock::now();
  auto found = f.search.findNext("(a|aa)+x", SearchOptions(false, true, false));
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->row, 40);
}

}  // namespace
}  // namespace vantrelle
