#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Vantrelle/Buffer/Position.h"

namespace vantrelle {

struct SearchOptions {
  bool caseSensitive = false;
  bool regex = false;
  bool wholeWord = false;

  constexpr SearchOptions() = default;
  constexpr SearchOptions(bool caseSensitive, bool regex, bool wholeWord)
      : caseSensitive(caseSensitive), regex(regex), wholeWord(wholeWord) {}
  bool operator==(const SearchOptions&) const = default;
};

// A match in buffer coordinates. `size` counts cells row-major: the columns on the last row minus
// the start column, plus the column count for every row crossed.
struct SearchResult {
  std::string term;
  int64_t col = 0;
  int64_t row = 0;
  int64_t size = 0;
  bool operator==(const SearchResult&) const = default;
};

// `end` is exclusive: the cell just after the match.
struct SearchSelection {
  Position start;
  Position end;
  bool operator==(const SearchSelection&) const = default;
};

// The term of the previous step, so a repeated step moves past the current match.
class SearchState {
 public:
  std::optional<std::string> cachedSearchTerm;
};

}  // namespace vantrelle
