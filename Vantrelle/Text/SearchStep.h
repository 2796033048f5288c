#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Vantrelle/Text/SearchTypes.h"

namespace vantrelle {

class SearchEngine;

// One move to the next or the previous match that can stop between lines and go on later, so a
// search over a big scrollback need not hold up the main loop. Run to its end in one go, it finds
// what the engine's findNextWithSelection and findPreviousWithSelection find.
class SearchStep {
 public:
  using Clock = std::chrono::steady_clock;

  SearchStep(std::string term, std::optional<SearchOptions> options, std::optional<std::string> cachedSearchTerm,
             std::optional<SearchSelection> previousSelection, bool forward);

  // Reads lines until the step ends or the deadline passes; true once it has ended, with the
  // match, if any, in `result`.
  bool advance(SearchEngine& engine, std::optional<Clock::time_point> deadline = std::nullopt);
  bool finished() const { return phase == Phase::done; }
  // The buffer dropped `count` lines from its top, moving every row up by that many.
  void linesDropped(int64_t count);

  const std::string term;
  const std::optional<SearchOptions> options;
  const bool forward;
  const std::optional<std::string> cachedSearchTerm;
  std::optional<SearchSelection> previousSelection;
  std::optional<SearchResult> result;

 private:
  // Forward: the start position, the rows below it, the rows above it, and the start row once
  // more. Backward: the match where a changed term began, the start position, the rows above it,
  // and round from the bottom to the start row.
  enum class Phase { begin, changedTerm, first, rows, wrap, again, done };

  bool runForward(SearchEngine& engine, const std::optional<Clock::time_point>& deadline);
  bool runBackward(SearchEngine& engine, const std::optional<Clock::time_point>& deadline);
  bool finish(std::optional<SearchResult> found);
  bool timeUp(const std::optional<Clock::time_point>& deadline);

  Phase phase = Phase::begin;
  int64_t col = 0;  // the search position, which reverse searches widen as they pass wrapped rows
  int64_t row = 0;
  int64_t startRow = 0;
  int64_t y = 0;        // the next row of the phase
  int64_t wrapEnd = 0;  // the last row a backward step comes round to
  unsigned linesSinceClock = 0;
};

}  // namespace vantrelle
