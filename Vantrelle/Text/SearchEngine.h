#pragma once

#include <unicode/regex.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "Vantrelle/Text/SearchLineCache.h"
#include "Vantrelle/Text/SearchTypes.h"

namespace vantrelle {

class Terminal;

// Matches a term against the logical lines of the terminal's active buffer. Offsets inside a
// line count characters (one a cell); results are turned back into cells, so wide characters
// and soft wraps land on the right columns.
class SearchEngine {
 public:
  SearchEngine(Terminal& terminal, SearchLineCache& lineCache);

  std::optional<SearchResult> find(const std::string& term, int64_t startRow, int64_t startCol,
                                   const std::optional<SearchOptions>& searchOptions);
  std::optional<SearchResult> findNextWithSelection(const std::string& term,
                                                    const std::optional<SearchOptions>& searchOptions,
                                                    const std::optional<std::string>& cachedSearchTerm,
                                                    const std::optional<SearchSelection>& previousSelection);
  std::optional<SearchResult> findPreviousWithSelection(const std::string& term,
                                                        const std::optional<SearchOptions>& searchOptions,
                                                        const std::optional<std::string>& cachedSearchTerm,
                                                        const std::optional<SearchSelection>& previousSelection);

  Terminal& terminal;
  SearchLineCache& lineCache;
  // The characters that may stand next to a whole-word match; the underscore is not one.
  const std::unordered_set<char32_t> nonWordCharacters;

 private:
  friend class SearchStep;
  struct SearchPosition {
    int64_t startCol = 0;
    int64_t startRow = 0;
  };
  // A match inside one line, in characters.
  struct LineMatch {
    int64_t index = 0;
    int64_t length = 0;
    std::string term;
  };

  std::optional<SearchResult> findInLine(const std::string& term, SearchPosition& searchPosition,
                                         const std::optional<SearchOptions>& searchOptions, bool isReverseSearch);
  std::optional<LineMatch> matchRegex(const std::string& term, const SearchLineEntry& line, int64_t offset,
                                      bool caseSensitive, bool reverse);
  std::optional<LineMatch> matchPlain(const std::string& term, const SearchLineEntry& line, int64_t offset,
                                      bool caseSensitive, bool reverse);
  std::optional<LineMatch> matchAscii(const std::string& term, const SearchLineEntry& line, int64_t offset,
                                      bool foldCase, bool reverse);
  bool isWholeWord(int64_t searchIndex, const SearchLineEntry& line, int64_t length) const;
  int64_t bufferColsToStringOffset(int64_t startRow, int64_t cols);
  int64_t stringLengthToBufferSize(int64_t row, int64_t offset);
  int64_t rowCount() const;
  bool continuesLine(int64_t row) const;
  const icu::RegexPattern* compiledPattern(const std::string& term, bool caseSensitive);
  // The term as plain matching compares it, kept for the same reason.
  const icu::UnicodeString& plainNeedle(const std::string& term, bool foldCase);

  // The last pattern compiled, kept because a search compiles the same term once per row.
  std::string patternTerm;
  bool patternCaseSensitive = false;
  std::unique_ptr<icu::RegexPattern> pattern;
  std::unique_ptr<icu::RegexMatcher> matcher;
  bool patternFailed = false;
  std::string needleTerm;
  bool needleFolded = false;
  std::optional<icu::UnicodeString> needle;
  bool needleIsAscii = false;
};

}  // namespace vantrelle
