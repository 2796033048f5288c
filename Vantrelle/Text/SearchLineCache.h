#pragma once

#include <unicode/unistr.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrelle {

class Terminal;

// The text of one logical line (a row and the rows soft-wrapped onto it). A "character" is what
// one cell shows, so character offsets map straight back to cells; the UTF-16 form and each
// character's start in it serve the ICU matchers.
struct SearchLineEntry {
  std::string lineAsString;
  std::vector<int64_t> lineOffsets{0};  // character offset where each row of the line begins
  icu::UnicodeString text;
  std::vector<int32_t> characterStarts{0};  // one per character, then the end of `text`

  int64_t characterCount() const { return static_cast<int64_t>(characterStarts.size()) - 1; }
  // The character holding a UTF-16 index (rounded down), and the first character starting at or
  // after one (rounded up).
  int64_t characterAt(int32_t utf16Index) const;
  int64_t characterFrom(int32_t utf16Index) const;
  icu::UnicodeString characterText(int64_t index) const;

  // Case-folded (or only decomposed) text with each character's start in it; built on first use.
  struct Normalized {
    const icu::UnicodeString& text;
    const std::vector<int32_t>& starts;  // one per character, then the end
  };
  Normalized normalized(bool foldCase) const;

 private:
  // What folding or decomposing made of the line; most lines are ASCII and come out as they
  // were, or differ only in the case of some letters, and then keep no copy of the line's text
  // or of its starts (a big scrollback holds a line of these for every line it has).
  struct NormalizedForm {
    std::optional<icu::UnicodeString> text;
    std::optional<std::vector<int32_t>> starts;
  };
  mutable std::unique_ptr<NormalizedForm> folded;
  mutable std::unique_ptr<NormalizedForm> decomposed;
};

// Where a buffer's rows stood at one moment, to tell later how they have moved since.
struct BufferMark {
  const void* buffer = nullptr;
  int cols = 0;
  int linesTrimmed = 0;
  int yBase = 0;

  static BufferMark of(const Terminal& terminal);
  // The lines dropped from the top since `earlier`, each row having moved up by that many; none
  // when the rows moved in a way no count follows: another buffer, a reflow, or scrollback
  // erased or pulled back onto the screen.
  std::optional<int64_t> linesDroppedSince(const BufferMark& earlier) const;
};

// Text of logical lines by starting row, kept while the row count stays the same and the cache
// is used again within 15 seconds. The view drops it when output arrives.
class SearchLineCache {
 public:
  static constexpr double reuseSeconds = 15.0;

  explicit SearchLineCache(Terminal& terminal) : terminal(terminal) {}

  void initLines();
  SearchLineEntry translateBufferLineToStringWithWrap(int64_t lineIndex, bool trimRight) const;
  void setLineInCache(int64_t row, SearchLineEntry entry);
  // The cached entry of a row, or null.
  const SearchLineEntry* entry(int64_t row) const;
  void drop() {
    linesCache.reset();
    lastAccessTimestamp = 0;
    keepUnchangedOnNextUse = false;
  }
  // The buffer is changing (output arrives): before the next search reads the cache, forget the
  // lines that may have changed and keep the rest. Only the screen's rows are written; a scrollback
  // line keeps its text until it leaves the top, which moves every row up, so the entries move
  // with their lines.
  // A cache that would not be used again goes at once.
  void forgetChangedLines();

  Terminal& terminal;
  // A slot per row, holding an entry for the rows where a logical line starts once it is read.
  std::optional<std::vector<std::unique_ptr<SearchLineEntry>>> linesCache;
  double lastAccessTimestamp = 0;

 private:
  void keepUnchangedLines();

  // The buffer as it was when the entries were read.
  std::optional<BufferMark> reading;
  bool keepUnchangedOnNextUse = false;
};

}  // namespace vantrelle
