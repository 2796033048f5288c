#include "Vantrelle/Text/SearchService.h"

#include <algorithm>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

SearchService::SearchService(Terminal& terminal)
    : terminal(terminal), lineCache(terminal), engine(terminal, lineCache) {}

std::optional<SearchResult> SearchService::findNext(const std::string& term, const SearchOptions& options) {
  return step(term, options, true);
}

std::optional<SearchResult> SearchService::findPrevious(const std::string& term, const SearchOptions& options) {
  return step(term, options, false);
}

std::optional<SearchResult> SearchService::step(const std::string& term, const SearchOptions& options, bool forward) {
  if (term.empty()) {
    lastResult.reset();
    lastSelection.reset();
    state.cachedSearchTerm.reset();
    return std::nullopt;
  }
  SearchStep pending = beginStep(term, options, forward);
  pending.advance(engine);
  return finishStep(pending);
}

SearchStep SearchService::beginStep(const std::string& term, const SearchOptions& options, bool forward) const {
  return SearchStep(term, options, state.cachedSearchTerm, lastSelection, forward);
}

std::optional<SearchResult> SearchService::finishStep(const SearchStep& step) {
  const auto& result = step.result;
  state.cachedSearchTerm = step.term;
  lastResult = result;
  if (!result) {
    lastSelection.reset();
  } else if (result->size < 1) {
    lastSelection = SearchSelection{Position(result->col, result->row), Position(result->col, result->row)};
  } else {
    const int64_t w = std::max(terminal.cols, 1);
    const int64_t p = result->row * w + result->col + result->size;
    lastSelection = SearchSelection{Position(result->col, result->row), Position(p % w, p / w)};
  }
  return result;
}

std::vector<SearchResult> SearchService::findAll(const std::string& term, const SearchOptions& options, int limit) {
  std::vector<SearchResult> results;
  if (term.empty()) return results;
  lineCache.initLines();
  auto current = engine.find(term, 0, 0, options);
  if (!current || limit <= 0) return results;
  const int64_t w = std::max(terminal.cols, 1);
  while (static_cast<int>(results.size()) < limit) {
    if (!results.empty() && results.back().row == current->row && results.back().col == current->col) break;
    results.push_back(*current);
    const int64_t p = current->row * w + current->col + std::max<int64_t>(current->size, 1);
    current = engine.find(term, p / w, p % w, options);
    if (!current) break;
  }
  return results;
}

void SearchService::invalidate() {
  lineCache.forgetChangedLines();
  lastResult.reset();
  lastSelection.reset();
}

void SearchService::reset() {
  invalidate();
  state.cachedSearchTerm.reset();
}

}  // namespace vantrelle
