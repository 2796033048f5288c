#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Text/SearchEngine.h"
#include "Vantrelle/Text/SearchLineCache.h"
#include "Vantrelle/Text/SearchTypes.h"

namespace vantrelle {

class Terminal;

// The find bar's entry point, one per terminal view: steps through matches with wrap-around and
// counts them. The view calls invalidate() after new output or a resize, since the line cache
// cannot tell that the buffer changed while its row count stayed the same.
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
