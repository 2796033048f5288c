#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Text/SearchEngine.h"
#include "Vantrelle/Text/SearchLineCache.h"
#include "Vantrelle/Text/SearchStep.h"
#include "Vantrelle/Text/SearchTypes.h"

namespace vantrelle {

class Terminal;

// The find bar's entry point, one per terminal view: steps through matches with wrap-around and
// counts them. The view calls invalidate() when output arrives or the size changes: the line cache
// cannot see by itself which lines changed, and forgets those that may have before its next use.
class SearchService {
 public:
  explicit SearchService(Terminal& terminal);
  SearchService(const SearchService&) = delete;
  SearchService& operator=(const SearchService&) = delete;

  std::optional<SearchResult> findNext(const std::string& term, const SearchOptions& options);
  std::optional<SearchResult> findPrevious(const std::string& term, const SearchOptions& options);
  std::vector<SearchResult> findAll(const std::string& term, const SearchOptions& options, int limit);
  void invalidate();
  void reset();

  // findNext and findPrevious in parts, for a caller that runs a long step a slice at a time:
  // begin with the service's state, advance the step until it has ended, then finish records it
  // as findNext would and gives its result. A term that is empty is the caller's to handle.
  SearchStep beginStep(const std::string& term, const SearchOptions& options, bool forward) const;
  std::optional<SearchResult> finishStep(const SearchStep& step);

  Terminal& terminal;
  SearchState state;
  SearchLineCache lineCache;
  SearchEngine engine;
  // Where the next step starts; the view may set it to the active selection before a step.
  std::optional<SearchSelection> lastSelection;
  std::optional<SearchResult> lastResult;

 private:
  std::optional<SearchResult> step(const std::string& term, const SearchOptions& options, bool forward);
};

}  // namespace vantrelle
