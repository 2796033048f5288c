#include "Vantrelle/Text/SearchStep.h"

#include <algorithm>
#include <utility>

#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/SearchEngine.h"

namespace vantrelle {

SearchStep::SearchStep(std::string term, std::optional<SearchOptions> options,
                       std::optional<std::string> cachedSearchTerm, std::optional<SearchSelection> previousSelection,
                       bool forward)
    : term(std::move(term)),
      options(options),
      forward(forward),
      cachedSearchTerm(std::move(cachedSearchTerm)),
      previousSelection(previousSelection) {}

bool SearchStep::advance(SearchEngine& engine, std::optional<Clock::time_point> deadline) {
  if (phase == Phase::done) return true;
  if (term.empty()) return finish(std::nullopt);
  engine.lineCache.initLines();
  return forward ? runForward(engine, deadline) : runBackward(engine, deadline);
}

bool SearchStep::finish(std::optional<SearchResult> found) {
  result = std::move(found);
  phase = Phase::done;
  return true;
}

// The clock is read every few lines only: a line costs far less than reading it.
bool SearchStep::timeUp(const std::optional<Clock::time_point>& deadline) {
  if (!deadline || ++linesSinceClock < 32) return false;
  linesSinceClock = 0;
  return Clock::now() >= *deadline;
}

bool SearchStep::runForward(SearchEngine& engine, const std::optional<Clock::time_point>& deadline) {
  auto lineAt = [&](int64_t at) {
    SearchEngine::SearchPosition position{0, at};
    return engine.findInLine(term, position, options, false);
  };
  switch (phase) {
    case Phase::begin: {
      Position start(0, 0);
      if (previousSelection) start = cachedSearchTerm == term ? previousSelection->end : previousSelection->start;
      col = start.col;
      row = startRow = start.row;
      SearchEngine::SearchPosition position{col, row};
      if (auto found = engine.findInLine(term, position, options, false)) return finish(std::move(found));
      y = startRow + 1;
      phase = Phase::rows;
    }
      [[fallthrough]];
    case Phase::rows:
      for (; y < engine.rowCount(); ++y) {
        if (timeUp(deadline)) return false;
        if (engine.continuesLine(y)) continue;
        if (auto found = lineAt(y)) return finish(std::move(found));
      }
      y = 0;
      phase = Phase::wrap;
      [[fallthrough]];
    case Phase::wrap:
      for (; y < startRow && y < engine.rowCount(); ++y) {
        if (timeUp(deadline)) return false;
        if (engine.continuesLine(y)) continue;
        if (auto found = lineAt(y)) return finish(std::move(found));
      }
      phase = Phase::again;
      [[fallthrough]];
    default:
      // The first match on the start row, which is the current match itself when it is the only
      // one in the buffer.
      return finish(previousSelection ? lineAt(previousSelection->start.row) : std::nullopt);
  }
}

bool SearchStep::runBackward(SearchEngine& engine, const std::optional<Clock::time_point>& deadline) {
  auto lineAt = [&](int64_t at) {
    SearchEngine::SearchPosition position{col, at};
    auto found = engine.findInLine(term, position, options, true);
    col = position.startCol;
    return found;
  };
  switch (phase) {
    case Phase::begin:
      col = engine.terminal.cols;
      row = startRow = engine.rowCount() - 1;
      phase = Phase::first;
      if (previousSelection) {
        col = previousSelection->start.col;
        row = startRow = previousSelection->start.row;
        if (cachedSearchTerm != term) phase = Phase::changedTerm;
      }
      if (phase == Phase::first) return runBackward(engine, deadline);
      [[fallthrough]];
    case Phase::changedTerm: {
      // The term changed: the match at the current place may have grown or shrunk.
      SearchEngine::SearchPosition here{previousSelection->start.col, previousSelection->start.row};
      if (auto found = engine.findInLine(term, here, options, false)) return finish(std::move(found));
      col = previousSelection->end.col;
      row = startRow = previousSelection->end.row;
      phase = Phase::first;
    }
      [[fallthrough]];
    case Phase::first:
      if (auto found = lineAt(row)) return finish(std::move(found));
      col = std::max<int64_t>(engine.terminal.cols, col);
      y = std::min(startRow - 1, engine.rowCount() - 1);
      phase = Phase::rows;
      [[fallthrough]];
    case Phase::rows:
      for (; y >= 0; --y) {
        if (timeUp(deadline)) return false;
        if (auto found = lineAt(y)) return finish(std::move(found));
      }
      if (!previousSelection) return finish(std::nullopt);
      // Round to the bottom, and on to the first row of the line where the search began, since
      // the match there may be the only one (as a forward step comes back to it).
      wrapEnd = startRow;
      while (engine.continuesLine(wrapEnd)) --wrapEnd;
      wrapEnd = std::max<int64_t>(wrapEnd, 0);
      y = engine.rowCount() - 1;
      phase = Phase::wrap;
      [[fallthrough]];
    default:
      for (; y >= wrapEnd; --y) {
        if (timeUp(deadline)) return false;
        if (auto found = lineAt(y)) return finish(std::move(found));
      }
      return finish(std::nullopt);
  }
}

void SearchStep::linesDropped(int64_t count) {
  if (count <= 0 || phase == Phase::done) return;
  row -= count;
  startRow -= count;
  wrapEnd = std::max<int64_t>(wrapEnd - count, 0);
  // A forward step goes on with the row that moved to where it was; a backward one with the row
  // above it, and is done once its rows left the top.
  y = forward ? std::max<int64_t>(y - count, 0) : y - count;
  if (previousSelection) {
    previousSelection->start.row -= count;
    previousSelection->end.row -= count;
  }
}

}  // namespace vantrelle
