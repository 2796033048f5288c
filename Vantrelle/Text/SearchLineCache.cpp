#include "Vantrelle/Text/SearchLineCache.h"

#include <unicode/normalizer2.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

double nowSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Lines are built as plain UTF-16 and handed to ICU whole: appending to an ICU string one
// character at a time costs more than all the rest of the search.
void appendUtf16(std::u16string& text, UChar32 c) {
  if (c < 0x10000) {
    text.push_back(static_cast<char16_t>(c));
  } else {
    text.push_back(static_cast<char16_t>(U16_LEAD(c)));
    text.push_back(static_cast<char16_t>(U16_TRAIL(c)));
  }
}

// The text a cell shows; a plain scalar goes in as it is, without asking the terminal for it.
void appendCell(std::u16string& text, const Terminal& terminal, int32_t code) {
  if (code <= 0) {
    text.push_back(u' ');
  } else if (code < 0xD800) {
    text.push_back(static_cast<char16_t>(code));
  } else {
    for (char32_t c : terminal.scalars(code)) appendUtf16(text, static_cast<UChar32>(c == 0 ? U' ' : c));
  }
}

icu::UnicodeString toUnicodeString(const std::u16string& text) {
  return icu::UnicodeString(text.data(), static_cast<int32_t>(text.size()));
}

}  // namespace

int64_t SearchLineEntry::characterAt(int32_t utf16Index) const {
  if (characterStarts.empty()) return std::clamp<int64_t>(utf16Index, 0, std::max<int64_t>(text.length() - 1, 0));
  auto it = std::upper_bound(characterStarts.begin(), characterStarts.end() - 1, utf16Index);
  return std::max<int64_t>(0, (it - characterStarts.begin()) - 1);
}

int64_t SearchLineEntry::characterFrom(int32_t utf16Index) const {
  if (characterStarts.empty()) return std::clamp<int64_t>(utf16Index, 0, text.length());
  auto it = std::lower_bound(characterStarts.begin(), characterStarts.end(), utf16Index);
  return std::min<int64_t>(it - characterStarts.begin(), characterCount());
}

icu::UnicodeString SearchLineEntry::characterText(int64_t index) const {
  if (index < 0 || index >= characterCount()) return icu::UnicodeString(static_cast<UChar>(' '));
  const int32_t start = startOf(index);
  return icu::UnicodeString(text, start, startOf(index + 1) - start);
}

bool SearchLineEntry::Normalized::isCharacterEdge(int32_t index) const {
  if (!starts) return index >= 0 && index <= text.length();
  return std::binary_search(starts->begin(), starts->end(), index);
}

int64_t SearchLineEntry::Normalized::characterFrom(int32_t index) const {
  if (!starts) return std::clamp<int64_t>(index, 0, text.length());
  return std::lower_bound(starts->begin(), starts->end(), index) - starts->begin();
}

SearchLineEntry::Normalized SearchLineEntry::normalized(bool foldCase) const {
  auto& slot = foldCase ? folded : decomposed;
  if (!slot) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    std::u16string folding;
    folding.reserve(static_cast<size_t>(text.length()));
    std::vector<int32_t> starts;
    starts.reserve(static_cast<size_t>(characterCount()) + 1);
    bool oneUnitEach = true;
    for (int64_t i = 0; i < characterCount(); ++i) {
      starts.push_back(static_cast<int32_t>(folding.size()));
      // Folding and decomposing leave ASCII as it is but for the case of its letters. Most of
      // what a terminal holds is ASCII, and asking ICU for each character costs a big scrollback
      // seconds.
      const int32_t start = startOf(i);
      if (startOf(i + 1) - start == 1 && text.charAt(start) < 0x80) {
        char16_t c = text.charAt(start);
        if (foldCase && c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
        folding.push_back(c);
        continue;
      }
      icu::UnicodeString piece = characterText(i);
      if (foldCase) piece.foldCase();
      if (nfd && U_SUCCESS(status)) {
        UErrorCode pieceStatus = U_ZERO_ERROR;
        icu::UnicodeString normal = nfd->normalize(piece, pieceStatus);
        if (U_SUCCESS(pieceStatus)) piece = normal;
      }
      oneUnitEach = oneUnitEach && piece.length() == 1;
      folding.append(reinterpret_cast<const char16_t*>(piece.getBuffer()), static_cast<size_t>(piece.length()));
    }
    starts.push_back(static_cast<int32_t>(folding.size()));
    slot = std::make_unique<NormalizedForm>();
    const bool sameText = folding.size() == static_cast<size_t>(text.length()) &&
                          std::equal(folding.begin(), folding.end(), text.getBuffer());
    if (!sameText) slot->text = toUnicodeString(folding);
    if (!oneUnitEach && starts != characterStarts) slot->starts = std::move(starts);
  }
  const std::vector<int32_t>* starts = slot->starts              ? &*slot->starts
                                       : characterStarts.empty() ? nullptr
                                                                 : &characterStarts;
  return {slot->text ? *slot->text : text, starts};
}

BufferMark BufferMark::of(const Terminal& terminal) {
  const Buffer& buffer = *terminal.buffer;
  return BufferMark{&buffer, terminal.cols, buffer.linesDropped, buffer.yBase};
}

std::optional<int64_t> BufferMark::linesDroppedSince(const BufferMark& earlier) const {
  if (buffer != earlier.buffer || cols != earlier.cols) return std::nullopt;
  const int64_t dropped = int64_t(linesDropped - earlier.linesDropped);
  if (dropped < 0 || yBase < earlier.yBase - dropped) return std::nullopt;
  return dropped;
}

void SearchLineCache::initLines() {
  const double now = nowSeconds();
  if (std::exchange(keepUnchangedOnNextUse, false) && linesCache) keepUnchangedLines();
  // Text read from another buffer, or at another width, matches nothing here.
  const BufferMark current = BufferMark::of(terminal);
  if (reading && (reading->buffer != current.buffer || reading->cols != current.cols)) linesCache.reset();
  const size_t count = static_cast<size_t>(terminal.buffer->lines().count());
  const bool fresh = now - lastAccessTimestamp < reuseSeconds;
  if (!(linesCache && fresh && linesCache->size() == count)) linesCache.emplace(count);
  lastAccessTimestamp = now;
  reading = current;
}

void SearchLineCache::forgetChangedLines() {
  if (!linesCache) return;
  if (nowSeconds() - lastAccessTimestamp >= reuseSeconds) {
    drop();
  } else {
    keepUnchangedOnNextUse = true;
  }
}

// Only the screen's rows are written: a scrollback line keeps its text until it leaves the top.
void SearchLineCache::keepUnchangedLines() {
  auto& slots = *linesCache;
  const std::optional<int64_t> dropped =
      reading ? BufferMark::of(terminal).linesDroppedSince(*reading) : std::optional<int64_t>();
  // The screen's rows then, where they are now: from there on anything may have been written.
  const int64_t changedFrom = dropped ? reading->yBase - *dropped : 0;
  if (!dropped || *dropped >= static_cast<int64_t>(slots.size()) || changedFrom <= 0) {
    linesCache.reset();
    return;
  }
  slots.erase(slots.begin(), slots.begin() + *dropped);
  auto& lines = terminal.buffer->lines();
  const int64_t rowCount = lines.count();
  // A line read before the screen ends at its first row, unless a row moved there continues it.
  const bool continued = changedFrom < rowCount && lines[static_cast<int>(changedFrom)]->isWrapped();
  for (size_t row = 0; row < slots.size(); ++row) {
    auto& slot = slots[row];
    if (!slot) continue;
    const int64_t end = static_cast<int64_t>(row + slot->rowCount());
    if (end > changedFrom || (end == changedFrom && continued)) slot.reset();
  }
  slots.resize(static_cast<size_t>(rowCount));
}

SearchLineEntry SearchLineCache::translateBufferLineToStringWithWrap(int64_t lineIndex, bool trimRight) const {
  SearchLineEntry entry;
  auto& lines = terminal.buffer->lines();
  const int64_t rowCount = lines.count();
  if (lineIndex < 0 || lineIndex >= rowCount) return entry;
  std::u16string& text = scratchText;
  std::vector<int32_t>& starts = scratchStarts;
  text.clear();
  starts.clear();
  for (int64_t r = lineIndex; r < rowCount; ++r) {
    const BufferLine& line = *lines[static_cast<int>(r)];
    const bool wrapsToNext = r + 1 < rowCount && lines[static_cast<int>(r + 1)]->isWrapped();
    int length = line.count();
    // A row the alternate screen kept from a wider size holds cells past the columns. They are not
    // shown: where the text wraps on to the next row, read as part of the line they would join
    // text that never stood together and push the columns of a match off its rows; at the line's
    // end they held what a program wrote there before the narrowing, and a match found in them
    // selected cells that show nothing of it.
    length = std::min(length, std::max(terminal.cols, 0));
    if (trimRight && !wrapsToNext) length = std::max(0, std::min(int(Terminal::shownLength(line)), length));
    const size_t rowStart = starts.size();
    for (int c = 0; c < length; ++c) {
      const CharData cell = line[c];
      if (cell.code == 0 && c > 0 && line[c - 1].width == 2) continue;
      starts.push_back(static_cast<int32_t>(text.size()));
      // Hidden text is searched as the blank it shows: a match would tell where it is and what.
      appendCell(text, terminal, cell.isConcealed() ? ' ' : cell.code);
      if (cell.width == 2 && c + 1 < length && line[c + 1].code == 0) ++c;
    }
    // A wide character that did not fit at the end of the row left an empty cell there.
    if (wrapsToNext && length > 0 && starts.size() > rowStart) {
      const CharData last = line[length - 1];
      if (last.code == 0 && last.width <= 1 && (*lines[static_cast<int>(r + 1)])[0].width == 2) {
        text.resize(static_cast<size_t>(starts.back()));
        starts.pop_back();
      }
    }
    if (!wrapsToNext) break;
    entry.rowStarts.push_back(static_cast<int64_t>(starts.size()));
  }
  entry.text = toUnicodeString(text);
  // Most lines hold one unit of text a character, and then need no list of where each starts.
  if (starts.size() != text.size()) {
    starts.push_back(static_cast<int32_t>(text.size()));
    entry.characterStarts.assign(starts.begin(), starts.end());
    entry.ascii = false;
  } else {
    entry.ascii = std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
  }
  return entry;
}

void SearchLineCache::setLineInCache(int64_t row, SearchLineEntry entry) {
  if (row < 0 || !linesCache || row >= static_cast<int64_t>(linesCache->size())) return;
  (*linesCache)[static_cast<size_t>(row)] = std::make_unique<SearchLineEntry>(std::move(entry));
}

const SearchLineEntry* SearchLineCache::entry(int64_t row) const {
  if (row < 0 || !linesCache || row >= static_cast<int64_t>(linesCache->size())) return nullptr;
  const auto& slot = (*linesCache)[static_cast<size_t>(row)];
  return slot.get();
}

}  // namespace vantrelle
