#include "Vantrelle/Text/SearchEngine.h"

#include <unicode/normalizer2.h>

#include <algorithm>

#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/SearchStep.h"
#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {
namespace {

// Bounds a pathological pattern, such as nested repeats, on one line. ICU counts the limit in
// units of ten thousand steps of its matcher (a few milliseconds here); a line is matched whole,
// so the limit is what one line can hold up the main loop. The same 2000 units for every line let
// each short line of a big scrollback take a third of a second; an ordinary pattern with a
// leading ".*" still takes steps in the square of a line's length, so long lines keep more.
int32_t regexTimeLimit(int32_t length) {
  const int64_t squared = int64_t(length) * length / 20000;
  return static_cast<int32_t>(std::min<int64_t>(20 + squared, 2000));
}

icu::UnicodeString normalizedTerm(const std::string& term, bool foldCase) {
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(term);
  if (foldCase) text.foldCase();
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (nfd && U_SUCCESS(status)) {
    icu::UnicodeString normal = nfd->normalize(text, status);
    if (U_SUCCESS(status)) return normal;
  }
  return text;
}

}  // namespace

SearchEngine::SearchEngine(Terminal& terminal, SearchLineCache& lineCache)
    : terminal(terminal), lineCache(lineCache), nonWordCharacters{U' ', U'~',  U'!', U'@', U'#', U'$',  U'%', U'^',
                                                                  U'&', U'*',  U'(', U')', U'+', U'`',  U'-', U'=',
                                                                  U'[', U']',  U'{', U'}', U'|', U'\\', U';', U':',
                                                                  U'"', U'\'', U',', U'.', U'/', U'<',  U'>', U'?'} {}

int64_t SearchEngine::rowCount() const { return terminal.buffer->lines().count(); }

std::optional<SearchResult> SearchEngine::find(const std::string& term, int64_t startRow, int64_t startCol,
                                               const std::optional<SearchOptions>& searchOptions) {
  if (term.empty() || startCol > terminal.cols) return std::nullopt;
  lineCache.initLines();
  SearchPosition position{startCol, startRow};
  if (auto result = findInLine(term, position, searchOptions, false)) return result;
  for (int64_t y = startRow + 1; y < rowCount(); ++y) {
    if (continuesLine(y)) continue;
    SearchPosition next{0, y};
    if (auto result = findInLine(term, next, searchOptions, false)) return result;
  }
  return std::nullopt;
}

// A row that continues the logical line above it was searched with that line, from its start or
// from where the search began, so it is not searched again on its own: a line wrapped over many
// rows would otherwise be read once for each of them.
bool SearchEngine::continuesLine(int64_t row) const {
  return row > 0 && row < rowCount() && terminal.buffer->lines()[static_cast<int>(row)]->isWrapped();
}

std::optional<SearchResult> SearchEngine::findNextWithSelection(
    const std::string& term, const std::optional<SearchOptions>& searchOptions,
    const std::optional<std::string>& cachedSearchTerm, const std::optional<SearchSelection>& previousSelection) {
  SearchStep step(term, searchOptions, cachedSearchTerm, previousSelection, true);
  step.advance(*this);
  return step.result;
}

std::optional<SearchResult> SearchEngine::findPreviousWithSelection(
    const std::string& term, const std::optional<SearchOptions>& searchOptions,
    const std::optional<std::string>& cachedSearchTerm, const std::optional<SearchSelection>& previousSelection) {
  SearchStep step(term, searchOptions, cachedSearchTerm, previousSelection, false);
  step.advance(*this);
  return step.result;
}

std::optional<SearchResult> SearchEngine::findInLine(const std::string& term, SearchPosition& searchPosition,
                                                     const std::optional<SearchOptions>& searchOptions,
                                                     bool isReverseSearch) {
  int64_t row = searchPosition.startRow;
  int64_t col = searchPosition.startCol;
  if (row < 0 || row >= rowCount()) return std::nullopt;
  const int64_t cols = terminal.cols;
  if (continuesLine(row)) {
    if (isReverseSearch) {
      // Reverse callers step upwards and reach the line's first row with a column that covers
      // every row below it.
      searchPosition.startCol = col + cols;
      return std::nullopt;
    }
    // The line's text starts at its first row; the top row stands for it when the scrollback
    // has dropped the rows before.
    while (continuesLine(row)) {
      --row;
      col += cols;
    }
  }
  const SearchLineEntry* cached = lineCache.entry(row);
  SearchLineEntry built;
  if (!cached) {
    lineCache.setLineInCache(row, lineCache.translateBufferLineToStringWithWrap(row, true));
    cached = lineCache.entry(row);
  }
  if (!cached) {
    built = lineCache.translateBufferLineToStringWithWrap(row, true);
    cached = &built;
  }
  const SearchLineEntry& line = *cached;
  const int64_t offset = std::min(bufferColsToStringOffset(row, col), line.characterCount());

  const bool caseSensitive = searchOptions && searchOptions->caseSensitive;
  std::optional<LineMatch> match = searchOptions && searchOptions->regex
                                       ? matchRegex(term, line, offset, caseSensitive, isReverseSearch)
                                       : matchPlain(term, line, offset, caseSensitive, isReverseSearch);
  if (!match) return std::nullopt;
  if (searchOptions && searchOptions->wholeWord && !isWholeWord(match->index, line, match->length)) return std::nullopt;

  const int64_t endIndex = match->index + match->length;
  size_t startRowOffset = 0;
  while (startRowOffset + 1 < line.rowCount() && line.rowOffset(startRowOffset + 1) <= match->index) ++startRowOffset;
  size_t endRowOffset = startRowOffset;
  while (endRowOffset + 1 < line.rowCount() && line.rowOffset(endRowOffset + 1) <= endIndex) ++endRowOffset;
  const int64_t startRow = row + static_cast<int64_t>(startRowOffset);
  const int64_t startCol = stringLengthToBufferSize(startRow, match->index - line.rowOffset(startRowOffset));
  const int64_t endCol =
      stringLengthToBufferSize(row + static_cast<int64_t>(endRowOffset), endIndex - line.rowOffset(endRowOffset));
  return SearchResult{std::move(match->term), startCol, startRow,
                      endCol - startCol + cols * static_cast<int64_t>(endRowOffset - startRowOffset)};
}

const icu::RegexPattern* SearchEngine::compiledPattern(const std::string& term, bool caseSensitive) {
  if (patternTerm == term && patternCaseSensitive == caseSensitive && (pattern || patternFailed)) return pattern.get();
  patternTerm = term;
  patternCaseSensitive = caseSensitive;
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  pattern.reset(icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(term),
                                           caseSensitive ? 0 : UREGEX_CASE_INSENSITIVE, parseError, status));
  if (U_FAILURE(status)) pattern.reset();
  patternFailed = !pattern;
  matcher.reset();
  if (pattern) {
    status = U_ZERO_ERROR;
    matcher.reset(pattern->matcher(status));
    if (U_FAILURE(status)) matcher.reset();
  }
  return pattern.get();
}

std::optional<SearchEngine::LineMatch> SearchEngine::matchRegex(const std::string& term, const SearchLineEntry& line,
                                                                int64_t offset, bool caseSensitive, bool reverse) {
  if (!compiledPattern(term, caseSensitive) || !matcher) return std::nullopt;
  // One matcher serves every line: making one for each costs more than most lines' matching.
  UErrorCode status = U_ZERO_ERROR;
  matcher->reset(line.text);
  matcher->setTimeLimit(regexTimeLimit(line.text.length()), status);
  const int32_t startIndex = line.startOf(offset);
  if (reverse) {
    matcher->region(0, startIndex, status);
  } else {
    matcher->region(startIndex, line.text.length(), status);
  }
  if (U_FAILURE(status)) return std::nullopt;
  int32_t found = -1, foundEnd = -1;
  while (matcher->find(status) && U_SUCCESS(status)) {
    found = matcher->start(status);
    foundEnd = matcher->end(status);
    if (!reverse) break;
  }
  // A time-out gives no match rather than a partial list.
  if (U_FAILURE(status) || found < 0 || foundEnd <= found) return std::nullopt;
  LineMatch match;
  match.index = line.characterAt(found);
  match.length = line.characterFrom(foundEnd) - match.index;
  match.term = toUtf8(icu::UnicodeString(line.text, found, foundEnd - found));
  return match;
}

const icu::UnicodeString& SearchEngine::plainNeedle(const std::string& term, bool foldCase) {
  if (!needle || needleTerm != term || needleFolded != foldCase) {
    needle = normalizedTerm(term, foldCase);
    needleTerm = term;
    needleFolded = foldCase;
    const char16_t* units = needle->getBuffer();
    needleIsAscii = units && std::all_of(units, units + needle->length(), [](char16_t c) { return c < 0x80; });
  }
  return *needle;
}

// Plain matching compares case-folded (when asked) and decomposed text, so canonically
// equivalent spellings meet; a fold that changes length ("ß" against "ss") is mapped back through
// each character's start, and only matches that begin and end on character edges count.
std::optional<SearchEngine::LineMatch> SearchEngine::matchPlain(const std::string& term, const SearchLineEntry& line,
                                                                int64_t offset, bool caseSensitive, bool reverse) {
  const icu::UnicodeString& needle = plainNeedle(term, !caseSensitive);
  if (needle.isEmpty()) return std::nullopt;
  if (line.ascii && needleIsAscii) return matchAscii(term, line, offset, !caseSensitive, reverse);
  const SearchLineEntry::Normalized hay = line.normalized(!caseSensitive);
  const int32_t origin = hay.startOf(offset);
  int32_t at = -1;
  if (reverse) {
    if (origin < needle.length()) return std::nullopt;
    int32_t limit = origin - needle.length();
    while (limit >= 0) {
      const int32_t candidate = hay.text.lastIndexOf(needle, 0, limit + needle.length());
      if (candidate < 0) break;
      if (hay.isCharacterEdge(candidate) && hay.isCharacterEdge(candidate + needle.length())) {
        at = candidate;
        break;
      }
      limit = candidate - 1;
    }
  } else {
    int32_t from = origin;
    while (from <= hay.text.length()) {
      const int32_t candidate = hay.text.indexOf(needle, from);
      if (candidate < 0) break;
      if (hay.isCharacterEdge(candidate) && hay.isCharacterEdge(candidate + needle.length())) {
        at = candidate;
        break;
      }
      from = candidate + 1;
    }
  }
  if (at < 0) return std::nullopt;
  LineMatch match;
  match.index = hay.characterFrom(at);
  match.length = hay.characterFrom(at + needle.length()) - match.index;
  match.term = term;
  return match;
}

// An ASCII line against a term that folds and decomposes to ASCII: folding is lowering letters,
// and every unit is a character of its own, so the line is compared as it is.
std::optional<SearchEngine::LineMatch> SearchEngine::matchAscii(const std::string& term, const SearchLineEntry& line,
                                                                int64_t offset, bool foldCase, bool reverse) {
  const icu::UnicodeString& needle = *this->needle;
  const char16_t* hay = line.text.getBuffer();
  const char16_t* want = needle.getBuffer();
  const int64_t n = needle.length(), length = line.text.length();
  if (!hay || !want) return std::nullopt;
  auto lower = [foldCase](char16_t c) { return foldCase && c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c; };
  auto matchesAt = [&](int64_t at) {
    for (int64_t j = 0; j < n; ++j) {
      if (lower(hay[at + j]) != want[j]) return false;
    }
    return true;
  };
  int64_t at = -1;
  if (reverse) {
    for (int64_t i = offset - n; i >= 0; --i) {
      if (matchesAt(i)) {
        at = i;
        break;
      }
    }
  } else {
    for (int64_t i = offset; i + n <= length; ++i) {
      if (lower(hay[i]) == want[0] && matchesAt(i)) {
        at = i;
        break;
      }
    }
  }
  if (at < 0) return std::nullopt;
  return LineMatch{at, n, term};
}

bool SearchEngine::isWholeWord(int64_t searchIndex, const SearchLineEntry& line, int64_t length) const {
  auto isNonWord = [&](int64_t index) {
    const icu::UnicodeString text = line.characterText(index);
    return text.countChar32() == 1 && nonWordCharacters.count(static_cast<char32_t>(text.char32At(0))) > 0;
  };
  const bool left = searchIndex == 0 || isNonWord(searchIndex - 1);
  const int64_t end = searchIndex + length;
  if (end >= line.characterCount()) return left;
  return left && isNonWord(end);
}

int64_t SearchEngine::bufferColsToStringOffset(int64_t startRow, int64_t cols) {
  int64_t offset = 0;
  int64_t row = startRow;
  int64_t remaining = cols;
  const int64_t width = terminal.cols;
  auto& lines = terminal.buffer->lines();
  while (remaining >= 1 && row < rowCount()) {
    const BufferLine& line = *lines[static_cast<int>(row)];
    const int64_t span = std::min(width, remaining);
    for (int64_t c = 0; c < span; ++c) {
      if (line[static_cast<int>(c)].width >= 1) ++offset;
    }
    ++row;
    if (row >= rowCount() || !lines[static_cast<int>(row)]->isWrapped()) break;
    remaining -= width;
  }
  return offset;
}

int64_t SearchEngine::stringLengthToBufferSize(int64_t row, int64_t offset) {
  if (row < 0 || row >= rowCount() || offset == 0) return 0;
  if (offset < 0) return offset;
  const BufferLine& line = *terminal.buffer->lines()[static_cast<int>(row)];
  int64_t size = offset;
  // Only the columns shown count: a row the alternate screen kept from a wider size holds cells
  // past them, and a wide character that a narrowing cut at the row's end covers its first alone.
  const int64_t shown = std::min<int64_t>(line.count(), terminal.cols);
  for (int64_t i = 0; i < size && i < shown; ++i) {
    if (line[static_cast<int>(i)].width == 2 && i + 1 < shown && line[static_cast<int>(i + 1)].width == 0) ++size;
  }
  return size;
}

}  // namespace vantrelle
