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
// character's start in it serve the ICU matchers. A big scrollback keeps one of these for every
// line it has, so the usual line (one row, each character one UTF-16 unit) keeps no lists.
struct SearchLineEntry {
  icu::UnicodeString text;
  // The character offset where each row after the first begins (the first begins at 0).
  std::vector<int64_t> rowStarts;
  // One per character, then the end of `text`; empty when each character is one unit of `text`.
  std::vector<int32_t> characterStarts;
  // Each character is one ASCII unit: plain matching needs no folded or decomposed copy.
  bool ascii = true;

  size_t rowCount() const { return rowStarts.size() + 1; }
  int64_t rowOffset(size_t row) const { return row == 0 ? 0 : rowStarts[row - 1]; }
  int64_t characterCount() const {
    return characterStarts.empty() ? text.length() : static_cast<int64_t>(characterStarts.size()) - 1;
  }
  int32_t startOf(int64_t character) const {
    return characterStarts.empty() ? static_cast<int32_t>(character) : characterStarts[static_cast<size_t>(character)];
  }
  // The character holding a UTF-16 index (rounded down), and the first character starting at or
  // after one (rounded up).
  int64_t characterAt(int32_t utf16Index) const;
  int64_t characterFrom(int32_t utf16Index) const;
  icu::UnicodeString characterText(int64_t index) const;

  // Case-folded (or only decomposed) text with each character's start in it; built on first use.
  struct Normalized {
    const icu::UnicodeString& text;
    const std::vector<int32_t>* starts;  // one per character, then the end; none: one unit each

    int32_t startOf(int64_t character) const {
      return starts ? (*starts)[static_cast<size_t>(character)] : static_cast<int32_t>(character);
    }
    bool isCharacterEdge(int32_t index) const;
    int64_t characterFrom(int32_t index) const;
  };
  Normalized normalized(bool foldCase) const;

 private:
  // What folding or decomposing made of the line; most lines come out as they were, or differ
  // only in the case of some letters, and then keep no copy of the line's text or its starts.
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
  uint64_t linesDropped = 0;  // the buffer's count of lines that left the top of its ring
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

  // Where lines are put together before the entry takes its own copy, kept from line to line.
  mutable std::u16string scratchText;
  mutable std::vector<int32_t> scratchStarts;
  // The buffer as it was when the entries were read.
  std::optional<BufferMark> reading;
  bool keepUnchangedOnNextUse = false;
};

}  // namespace vantrelle
