// The inbound data path: UTF-8 decoding across feeds, character sets, widths, grapheme joining,
// and the outbound replies.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Vantrelle/Buffer/CellStore.h"
#include "Vantrelle/Buffer/UnicodeUtil.h"
#include "Vantrelle/Terminal/GraphemeJoin.h"
#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {
namespace {

// Well-formed sequences decoded in line; the rest by maximal subparts.
inline Utf8Step decodeUtf8Quickly(const uint8_t* p, size_t available) {
  const uint8_t lead = p[0];
  if (lead >= 0xC2 && lead <= 0xDF && available >= 2 && (p[1] & 0xC0) == 0x80)
    return {Utf8Status::ok, char32_t(lead & 0x1F) << 6 | (p[1] & 0x3F), 2};
  // E0 and ED narrow the range of the second byte; the other leads take any continuation.
  if (lead >= 0xE1 && lead <= 0xEF && lead != 0xED && available >= 3 && (p[1] & 0xC0) == 0x80 &&
      (p[2] & 0xC0) == 0x80) {
    return {Utf8Status::ok, char32_t(lead & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F), 3};
  }
  if (lead >= 0xF1 && lead <= 0xF3 && available >= 4 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80 &&
      (p[3] & 0xC0) == 0x80) {
    return {Utf8Status::ok,
            char32_t(lead & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F), 4};
  }
  if (lead == 0xF0 && available >= 4 && p[1] >= 0x90 && p[1] <= 0xBF && (p[2] & 0xC0) == 0x80 &&
      (p[3] & 0xC0) == 0x80) {
    return {Utf8Status::ok, char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F), 4};
  }
  return decodeUtf8Step(p, available);
}

// Column widths of the Basic Multilingual Plane and the plane of emoji and historic scripts,
// computed once: the property lookups behind a width are too slow to repeat for every character
// of non-Latin text.
constexpr char32_t kTabledWidths = 0x20000;

[[gnu::noinline]] const int8_t* makeWidthTable() {
  static const auto table = [] {
    auto widths = std::make_unique<std::array<int8_t, kTabledWidths>>();
    for (char32_t c = 0; c < kTabledWidths; ++c) (*widths)[c] = static_cast<int8_t>(UnicodeUtil::columnWidth(c));
    return widths;
  }();
  return table->data();
}

inline int columnWidth(const int8_t* widths, char32_t scalar) {
  return scalar < kTabledWidths ? widths[scalar] : UnicodeUtil::columnWidth(scalar);
}

inline int columnWidth(char32_t scalar) {
  static const int8_t* const widths = makeWidthTable();
  return columnWidth(widths, scalar);
}

// A well-formed UTF-8 sequence of two to four bytes decoded in line, or length 0 for anything
// else (a broken or cut-off sequence, an overlong form, a surrogate), which the single-cell path
// takes.
struct DecodedScalar {
  char32_t scalar;
  size_t length;
};

// Decodes a sequence of two to four bytes from four readable bytes. Three-byte sequences (most
// of the Basic Multilingual Plane) and two-byte ones (Latin, Greek, Cyrillic, marks) come first,
// each with one test for every way it can be broken; four-byte ones lead to the slower paths of
// emoji anyway.
inline DecodedScalar decodeRunScalarFromWord(const uint8_t* p) {
  uint32_t word;
  std::memcpy(&word, p, sizeof word);
  const uint32_t lead = word & 0xFF;
  if (lead - 0xE0 < 0x10) {
    const uint32_t scalar = (lead & 0x0F) << 12 | (word >> 2 & 0xFC0) | (word >> 16 & 0x3F);
    const bool valid = ((word & 0xC0C000) == 0x808000) & (scalar >= 0x800) & (scalar - 0xD800 > 0x7FF);
    return {scalar, valid ? 3u : 0u};
  }
  if (lead - 0xC2 < 0x1E) return {(lead & 0x1F) << 6 | (word >> 8 & 0x3F), (word & 0xC000) == 0x8000 ? 2u : 0u};
  if (lead - 0xF0 < 5) {
    const uint32_t scalar =
        (lead & 0x07) << 18 | (word >> 8 & 0x3F) << 12 | (word >> 16 & 0x3F) << 6 | (word >> 24 & 0x3F);
    const bool valid = ((word & 0xC0C0C000) == 0x80808000) & (scalar >= 0x10000) & (scalar <= 0x10FFFF);
    return {scalar, valid ? 4u : 0u};
  }
  return {0, 0};
}

inline DecodedScalar decodeRunScalar(const uint8_t* p, size_t available) {
  if constexpr (std::endian::native == std::endian::little) {
    if (available >= 4) return decodeRunScalarFromWord(p);
  }
  const uint8_t lead = p[0];
  if (lead < 0xE0) {
    if (lead >= 0xC2 && available >= 2 && (p[1] & 0xC0) == 0x80) return {char32_t(lead & 0x1F) << 6 | (p[1] & 0x3F), 2};
  } else if (lead < 0xF0) {
    if (available >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
      const char32_t scalar = char32_t(lead & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
      if (scalar >= 0x800 && (scalar < 0xD800 || scalar > 0xDFFF)) return {scalar, 3};
    }
  } else if (available >= 4 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80 && (p[3] & 0xC0) == 0x80) {
    const char32_t scalar =
        char32_t(lead & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
    if (lead <= 0xF4 && scalar >= 0x10000 && scalar <= 0x10FFFF) return {scalar, 4};
  }
  return {0, 0};
}

// Whether a decoded character is one of the Basic Multilingual Plane that takes one or two
// columns, which in a run only joins a cell after a joiner.
inline bool takesOwnCell(DecodedScalar decoded, int width) {
  // One test rather than three: which of them fails changes from one character to the next.
  return (decoded.length != 0) & (decoded.scalar <= 0xFFFF) & (unsigned(width - 1) <= 1);
}

// The same for a run written straight into a row, which also takes emoji and the other characters
// beyond the Basic Multilingual Plane that take a cell of their own, with codes from the cluster
// table; regional indicators pair up, so they are left out.
inline bool takesOwnRowCell(DecodedScalar decoded, int width) {
  return (decoded.length != 0) & (unsigned(width - 1) <= 1) & !grapheme::isRegionalIndicator(decoded.scalar);
}

// Which of the eight bytes of a word are DEL or above: their top bit in the result.
constexpr uint64_t wordBytesFromDel(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
  constexpr uint64_t kOnes = 0x0101010101010101u;
  return (((word & kLow7) + kOnes) | word) & ~kLow7;
}

// The length of the leading run of ASCII text: bytes below 0x7F. DEL prints nothing, so it
// takes the single-character rules with the bytes above it. Short runs read their tail as the
// last whole block or word, overlapping bytes already looked at.
[[gnu::always_inline]] inline size_t textAsciiLength(const uint8_t* data, size_t size) {
  size_t i = 0;
#if defined(__SSE2__)
  if (size >= 16) {
    // Adding one without wrapping sets the top bit of DEL and of every byte above it.
    const __m128i one = _mm_set1_epi8(1);
    auto fromDel = [&](size_t at) {
      return _mm_movemask_epi8(_mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)), one));
    };
    for (; i + 16 <= size; i += 16) {
      if (const int found = fromDel(i)) return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(found)));
    }
    if (i == size) return size;
    const size_t last = size - 16;
    const int found = fromDel(last);
    return found != 0 ? last + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(found))) : size;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    if (size >= 8) {
      uint64_t word;
      std::memcpy(&word, data, sizeof word);
      if (const uint64_t found = wordBytesFromDel(word)) return static_cast<size_t>(std::countr_zero(found)) / 8;
      std::memcpy(&word, data + size - 8, sizeof word);
      const uint64_t found = wordBytesFromDel(word);
      return found != 0 ? size - 8 + static_cast<size_t>(std::countr_zero(found)) / 8 : size;
    }
  }
  while (i < size && data[i] < 0x7F) ++i;
  return i;
}

// Whether a joined cell at `col` may grow into the next column: not past the screen's edge, nor
// past a right margin that holds the cell, which would overwrite what lies beyond it.
bool hasRoomToWiden(const Buffer& b, int col, int cols) {
  const int edge = b.marginMode && col <= b.marginRight ? b.marginRight : cols - 1;
  return col + 1 <= edge;
}

bool allAscii(std::span<const uint8_t> run) { return textAsciiLength(run.data(), run.size()) == run.size(); }

void appendUtf8To(std::string& out, char32_t c) { appendUtf8(out, c); }

}  // namespace

void Terminal::handlePrint(std::span<const uint8_t> run) {
  Buffer& target = *buffer;
  const int row = target.y;
  const int top = target.yDisp;
  updateRange(target, row);
  const bool translating = charset && !charset->empty();
  if (!translating && readingBuffer.putbackCount == 0) {
    // Text that stays on the cursor's row, the usual case, goes there at once; the rest, and
    // text wrapping on, takes the general path below.
    run = run.subspan(allAscii(run) ? printAsciiRun(run) : printOnRow(run));
  }
  if (!run.empty()) {
    if (target.y != row || target.yDisp != top) updateRange(target, target.y);
    printSlow(run);
  }
  // Marking a row twice changes nothing: only a cursor that moved or scrolled needs it again.
  if (target.y != row || target.yDisp != top) updateRange(target, target.y);
}

size_t Terminal::printAsciiRun(std::span<const uint8_t> run) {
  const int done = buffer->insertAsciiRun(run, renditionCell());
  if (done > 0) rememberLastPrinted();
  return static_cast<size_t>(done);
}

// The cell of the current rendition, packed again only when the rendition changed. Equal bytes
// are an equal rendition; unequal bytes (an absent underline colour keeps stale bytes) at worst
// pack the same cell again.
const CharData& Terminal::renditionCell() {
  static_assert(std::is_trivially_copyable_v<Attribute>);
  if (std::memcmp(&printAttr, &curAttr, sizeof(Attribute)) != 0) {
    printAttr = curAttr;
    // Stored whole, as the cell is read whole right after.
    const CellWords words = cellWords(CharData(0, 1, curAttr));
    std::memcpy(static_cast<void*>(&printCell), &words, sizeof words);
  }
  return printCell;
}

void Terminal::printSlow(std::span<const uint8_t> run) {
  // First finish a sequence that an earlier run broke off.
  if (readingBuffer.putbackCount > 0) {
    std::array<uint8_t, 4> joined{};
    const size_t held = static_cast<size_t>(readingBuffer.putbackCount);
    std::copy_n(readingBuffer.putbackBuffer.begin(), held, joined.begin());
    const size_t taken = std::min(run.size(), joined.size() - held);
    std::copy_n(run.begin(), taken, joined.begin() + static_cast<std::ptrdiff_t>(held));
    const Utf8Step r = decodeUtf8Step(joined.data(), held + taken);
    if (r.status == Utf8Status::incomplete) {
      std::copy_n(run.begin(), taken, readingBuffer.putbackBuffer.begin() + static_cast<std::ptrdiff_t>(held));
      readingBuffer.putbackCount = static_cast<int>(held + taken);
      return;
    }
    readingBuffer.putbackCount = 0;
    if (r.status == Utf8Status::ok) {
      printScalar(r.scalar);
    } else {
      printByte(joined[0]);
    }
    run = run.subspan(std::max(r.consumed, held) - held);
  }
  const bool translating = charset && !charset->empty();
  size_t i = 0;
  while (i < run.size()) {
    if (!translating) {
      if (const size_t taken = printTextRun(run.subspan(i))) {
        i += taken;
        continue;
      }
    }
    const uint8_t b = run[i];
    if (b < 0x80) {
      printByte(b);
      ++i;
      continue;
    }
    const Utf8Step r = decodeUtf8Quickly(run.data() + i, run.size() - i);
    if (r.status == Utf8Status::incomplete) {
      std::copy(run.begin() + static_cast<std::ptrdiff_t>(i), run.end(), readingBuffer.putbackBuffer.begin());
      readingBuffer.putbackCount = static_cast<int>(run.size() - i);
      return;
    }
    if (r.status == Utf8Status::ok) {
      printScalar(r.scalar);
    } else {
      printByte(b);
    }
    i += r.consumed;
  }
}

// Prints complete UTF-8 text a character at a time, as the single-cell rules have it.
void Terminal::printEachCharacter(std::span<const uint8_t> text) {
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t b = text[i];
    if (b < 0x80) {
      printByte(b);
      ++i;
      continue;
    }
    const Utf8Step r = decodeUtf8Quickly(text.data() + i, text.size() - i);
    if (r.status == Utf8Status::ok) {
      printScalar(r.scalar);
    } else {
      printByte(b);
    }
    i += std::max<size_t>(r.consumed, 1);
  }
}

namespace {
// How a stretch of characters with cells of their own ended: at the end of the text, before
// ASCII or with a full run; before a character of another kind; or before one with no room.
enum class Stretch { ended, other, refused };
}  // namespace

// A run of text on its way to the buffer: the code of each cell as insertTextRun takes it, and
// what the last cell means to the character after it.
struct Terminal::TextRun {
  static constexpr size_t kCapacity = 256;
  static constexpr size_t kSpare = 16;  // room for a whole block of ASCII past the capacity
  std::array<int32_t, kCapacity + kSpare> codes;
  size_t count = 0;
  bool endsWithJoiner = false;  // the last cell's cluster ends in U+200D
  bool loneIndicator = false;   // the last cell is one regional indicator
  bool joining = false;         // whether clusters may form inside the run
  // Whether the cell printed before the run is one regional indicator: -1 until asked.
  int8_t afterLoneIndicator = -1;

  bool hasRoom() const { return count < kCapacity; }
  static bool ownsCell(DecodedScalar decoded, int width) { return takesOwnCell(decoded, width); }

  bool push(int32_t code, int width) {
    codes[count] = width == 2 ? code | Buffer::kWideCode : code;
    ++count;
    endsWithJoiner = false;
    loneIndicator = false;
    return true;
  }

  // The last cell's code with its form bits, and the same cell with another.
  int32_t lastCode() const { return codes[count - 1]; }
  bool replaceLast(int32_t code) {
    codes[count - 1] = code;
    return true;
  }

  // Pushes `next`, a character that takes a cell of its own, and the ones of the same kind that
  // follow it, with the count in a register, until the run holds `stop` cells, the text ends or
  // ASCII follows (`ended`, with `at` on the last character pushed), or a character of another
  // kind comes (`other`, with `at` and `next` on it, not pushed).
  Stretch takeOwnCells(std::span<const uint8_t> run, size_t& at, DecodedScalar& next, int& width, const int8_t* widths,
                       size_t stop) {
    const uint8_t* const data = run.data();
    size_t i = at;
    size_t n = count;
    Stretch end = Stretch::ended;
    for (;;) {
      codes[n++] = width == 2 ? int32_t(next.scalar) | Buffer::kWideCode : int32_t(next.scalar);
      if (n >= stop || i + next.length >= run.size() || data[i + next.length] < 0x80) break;
      i += next.length;
      next = decodeRunScalar(data + i, run.size() - i);
      width = columnWidth(widths, next.scalar);
      if (!takesOwnCell(next, width)) {
        end = Stretch::other;
        break;
      }
    }
    count = n;
    endsWithJoiner = false;
    loneIndicator = false;
    at = i;
    return end;
  }

  // Takes the ASCII text (bytes below DEL) that starts at byte `start`, as far as the room left
  // allows, and returns the bytes taken; it joins nothing and ends any join. Sixteen bytes are
  // looked at and widened at once: the copy may run past what it takes into the spare room
  // after the capacity, but never reads past the run.
  size_t takeAscii(std::span<const uint8_t> run, size_t start) {
    const size_t room = kCapacity - count;
    size_t k = 0;
    bool stopped = false;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    while (!stopped && k < room && start + k + 16 <= run.size()) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(run.data() + start + k));
      const __m128i low = _mm_unpacklo_epi8(bytes, zero);
      const __m128i high = _mm_unpackhi_epi8(bytes, zero);
      auto* to = reinterpret_cast<__m128i*>(codes.data() + count + k);
      _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
      _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
      _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
      _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
      // Adding one without wrapping sets the top bit of DEL and of every byte above it.
      const auto beyond = static_cast<unsigned>(_mm_movemask_epi8(_mm_adds_epu8(bytes, one)));
      k += beyond != 0 ? static_cast<size_t>(std::countr_zero(beyond)) : 16;
      stopped = beyond != 0;
    }
#endif
    for (; !stopped && k < room && start + k < run.size() && run[start + k] < 0x7F; ++k) {
      codes[count + k] = run[start + k];
    }
    k = std::min(k, room);
    count += k;
    endsWithJoiner = false;
    loneIndicator = false;
    return k;
  }
};

// Stores `k` one-column cells of the rendition `narrow` with the codes of ASCII `bytes`.
[[gnu::always_inline]] inline void storeAsciiCells(CharData* to, const uint8_t* bytes, size_t k, CellWords narrow) {
  auto* cells = reinterpret_cast<unsigned char*>(to);
  size_t c = 0;
#if defined(__SSE2__)
  // A cell is one 16-byte store of the rendition with the byte in its low bits: two a round.
  // The last cell goes first, so that an odd one out takes no loop of its own: the lengths of
  // words between other text vary at random, and a second loop would end unpredictably too.
  const __m128i cell = _mm_set_epi64x(static_cast<int64_t>(narrow.high), static_cast<int64_t>(narrow.low));
  if (k > 0) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + (k - 1) * sizeof(CharData)),
                     _mm_or_si128(cell, _mm_cvtsi32_si128(bytes[k - 1])));
  }
  for (; c + 2 <= k; c += 2, cells += 2 * sizeof(CharData)) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cells), _mm_or_si128(cell, _mm_cvtsi32_si128(bytes[c])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + sizeof(CharData)),
                     _mm_or_si128(cell, _mm_cvtsi32_si128(bytes[c + 1])));
  }
  c = k;
#endif
  for (; c < k; ++c, cells += sizeof(CharData)) {
    const uint64_t low = narrow.low | bytes[c];
    std::memcpy(cells, &low, sizeof low);
    std::memcpy(cells + sizeof low, &narrow.high, sizeof narrow.high);
  }
}

// A run written straight into the cursor's row as it is decoded, for text that stays on that
// row: each cell goes to the line at once rather than through a run of codes, and the run stops
// before the first cell with no room left, which the wrapping path then takes. It forms
// clusters as a TextRun does and settles an emoji selector's widening where the cell is.
struct Terminal::RowRun {
  static constexpr size_t kCapacity = TextRun::kCapacity;
  // Made for every line of text that is not plain ASCII. The pointers come in here rather than
  // being cleared with the rest and set after: a run cleared whole is cleared by a string store,
  // which is slow to start.
  RowRun(Buffer* target, Terminal* owner) : buffer(target), terminal(owner) {}
  Buffer::TextRow row;
  Buffer* buffer;
  CharData* last = nullptr;
  int32_t lastForm = 0;  // the last cell's form bits, as a TextRun keeps them in its code
  size_t count = 0;
  bool endsWithJoiner = false;
  bool loneIndicator = false;
  bool joining = true;
  int8_t afterLoneIndicator = -1;

  Terminal* terminal;  // whose cluster table gives the codes of emoji

  bool hasRoom() const { return count < kCapacity && row.at < row.limit; }
  static bool ownsCell(DecodedScalar decoded, int width) { return takesOwnRowCell(decoded, width); }

  // One- and two-column text mixes at random, so the cell is stored without a branch on its
  // width: the continuation goes first, to the next column or, for one column, under the cell.
  void store(int32_t code, int wide) {
    CharData* const after = row.at + 1 + wide;
    const CellWords built = {(row.narrow.low | uint32_t(code)) + (uint64_t(wide) << 32), row.narrow.high};
    std::memcpy(static_cast<void*>(after - 1), &row.continuation, sizeof row.continuation);
    std::memcpy(static_cast<void*>(row.at), &built, sizeof built);
    last = row.at;
    row.at = after;
  }

  bool push(int32_t code, int width) {
    if (row.limit - row.at < width) return false;
    store(code, width - 1);
    lastForm = width == 2 ? Buffer::kWideCode : 0;
    ++count;
    endsWithJoiner = false;
    loneIndicator = false;
    return true;
  }

  int32_t lastCode() const { return last->code | lastForm; }

  // A join's new code for the last cell; an emoji selector's widening takes the next column
  // where there is one, and stays one column in the row's last. False where neither holds.
  bool replaceLast(int32_t code) {
    const int32_t form = code & Buffer::kRunFormBits;
    const int32_t cellCode = code & ~Buffer::kRunFormBits;
    if (form == Buffer::kWidenedCode && lastForm != Buffer::kWidenedCode) {
      if (row.limit - last >= 2) {
        const CellWords built = {(row.narrow.low | uint32_t(cellCode)) + (uint64_t(1) << 32), row.narrow.high};
        std::memcpy(static_cast<void*>(last), &built, sizeof built);
        std::memcpy(static_cast<void*>(last + 1), &buffer->widenedContinuation(row.narrow), sizeof(CellWords));
        row.at = last + 2;
      } else if (last + 1 == row.cells + buffer->cols()) {
        last->code = cellCode;
      } else {
        return false;
      }
      lastForm = form;
      return true;
    }
    last->code = cellCode;
    return true;
  }

  // As a TextRun takes them, stopping (`refused`) before a cell with no room left. The row's
  // pointers and cells are held in locals: the compiler cannot tell the stores to the line from
  // stores to this run. Only what the next character needs lives across the loop: the last cell
  // stored and its form follow from where the row ends and the width of the last character.
  // Marks, skin tones, joiners and the characters after a joiner join the last cell here too
  // where the cluster table decided that join before, so an emoji sequence stays in the loop;
  // selectors, flags and joins not seen yet go back to the general rules.
  Stretch takeOwnCells(std::span<const uint8_t> run, size_t& at, DecodedScalar& next, int& width, const int8_t* widths,
                       size_t) {
    const uint8_t* const data = run.data();
    const size_t size = run.size();
    const uint64_t low = row.narrow.low;
    const uint64_t high = row.narrow.high;
    const CellWords continuation = row.continuation;
    CharData* const limit = row.limit;
    CharData* to = row.at;
    size_t i = at;
    size_t n = count;
    char32_t scalar = next.scalar;
    size_t length = next.length;
    int w = width;  // 1 or 2: the columns of `scalar`
    int storedWidth = 0;
    bool joiner = false;  // the last cell's cluster ends in U+200D
    Stretch end = Stretch::ended;
    for (;;) {
      CharData* const after = to + w;
      if (n >= kCapacity || after > limit) {
        end = Stretch::refused;
        break;
      }
      const auto code = uint32_t(scalar <= 0xFFFF ? int32_t(scalar) : terminal->scalarCode(scalar));
      const uint64_t cell = (low | code) + (uint64_t(w - 1) << 32);
      std::memcpy(static_cast<void*>(after - 1), &continuation, sizeof continuation);
      std::memcpy(static_cast<void*>(to), &cell, sizeof cell);
      std::memcpy(reinterpret_cast<unsigned char*>(to) + sizeof cell, &high, sizeof high);
      to = after;
      storedWidth = w;
      joiner = false;
      ++n;
      // The characters after it, as long as they join the cell just stored.
      for (;;) {
        const size_t ahead = i + length;
        if (size - ahead < 4) {
          // The last bytes of the text: read no further than they go.
          if (ahead >= size || data[ahead] < 0x80) goto done;
          i = ahead;
          next = decodeRunScalar(data + i, size - i);
          width = columnWidth(widths, next.scalar);
          if (joiner || !takesOwnRowCell(next, width)) {
            end = Stretch::other;
            goto done;
          }
          scalar = next.scalar;
          length = next.length;
          w = width;
          break;
        }
        uint32_t word;
        std::memcpy(&word, data + ahead, sizeof word);
        const uint32_t lead = word & 0xFF;
        if (lead < 0x80) {
          // ASCII between such characters, as words and spaces come between them, is stored
          // here rather than in a round through the caller.
          const size_t room = std::min(kCapacity - n, size_t(limit - to));
          const size_t k = textAsciiLength(data + ahead, std::min(size - ahead, room));
          if (k == 0) goto done;
          storeAsciiCells(to, data + ahead, k, row.narrow);
          to += k;
          n += k;
          storedWidth = 1;
          joiner = false;
          i = ahead + k - 1;
          scalar = data[i];
          length = 1;
          continue;
        }
        i = ahead;
        // Whether the sequence is well-formed joins the test of its cell in one branch; so does,
        // for four bytes, whether it is a regional indicator, which pairs up by other rules.
        bool wellFormed;
        bool plain;  // well-formed and not a regional indicator
        if (lead - 0xE0 < 0x10) {
          scalar = (lead & 0x0F) << 12 | (word >> 2 & 0xFC0) | (word >> 16 & 0x3F);
          wellFormed = ((word & 0xC0C000) == 0x808000) & (scalar >= 0x800) & (scalar - 0xD800 > 0x7FF);
          plain = wellFormed;
          length = 3;
          w = widths[scalar];
        } else if (lead - 0xC2 < 0x1E) {
          scalar = (lead & 0x1F) << 6 | (word >> 8 & 0x3F);
          wellFormed = (word & 0xC000) == 0x8000;
          plain = wellFormed;
          length = 2;
          w = widths[scalar];
        } else if (lead - 0xF0 < 5) {
          scalar = (lead & 0x07) << 18 | (word >> 8 & 0x3F) << 12 | (word >> 16 & 0x3F) << 6 | (word >> 24 & 0x3F);
          wellFormed = ((word & 0xC0C0C000) == 0x80808000) & (scalar >= 0x10000) & (scalar <= 0x10FFFF);
          plain = wellFormed & !grapheme::isRegionalIndicator(scalar);
          length = 4;
          w = columnWidth(widths, scalar);
        } else {
          scalar = 0;
          wellFormed = false;
          plain = false;
          length = 0;
          w = 0;
        }
        if (plain & (unsigned(w - 1) <= 1) & !joiner) break;
        // A join decided before: no selector, which may change the cell's width.
        const bool joins = plain & ((w == 0) | (joiner & (w > 0))) & (scalar - 0xFE0E > 1);
        const ClusterCodeCache::Step* known = nullptr;
        if (joins) {
          CharData* const stored = to - storedWidth;
          if (stored->code < terminal->lastCharIndex) known = terminal->clusterCodes.find(stored->code, scalar);
          if (known && known->joins) {
            stored->code = known->code;
            joiner = grapheme::isZeroWidthJoiner(scalar);
            continue;
          }
        }
        next = {scalar, wellFormed ? length : 0};
        width = w;
        end = Stretch::other;
        goto done;
      }
    }
  done:
    if (n != count) {
      row.at = to;
      last = to - storedWidth;
      lastForm = storedWidth == 2 ? Buffer::kWideCode : 0;
      endsWithJoiner = joiner;
      loneIndicator = false;
    }
    if (end != Stretch::other) next = {scalar, length};
    count = n;
    at = i;
    return end;
  }

  // ASCII text (bytes below DEL) from byte `start` as far as the row and the run have room.
  size_t takeAscii(std::span<const uint8_t> run, size_t start) {
    CharData* const to = row.at;
    const size_t room = std::min(kCapacity - count, size_t(row.limit - to));
    const size_t k = textAsciiLength(run.data() + start, std::min(run.size() - start, room));
    storeAsciiCells(to, run.data() + start, k, row.narrow);
    if (k > 0) {
      row.at = to + k;
      last = to + k - 1;
      lastForm = 0;
    }
    count += k;
    endsWithJoiner = false;
    loneIndicator = false;
    return k;
  }
};

// Text goes to the buffer as runs of finished cells, a row at a time. Inside a run the cluster of
// each cell forms as the single-cell rules would form it: marks, joiners, skin tones, selectors
// that keep the width, and the second half of a flag join the cell before them, with codes from
// the same table in the same order. What a run cannot settle by itself goes the single-cell way:
// anything joining the cell printed before the run, a selector that changes a cell's width
// (which depends on where the cell lands), narrow flags, and broken UTF-8. Clusters form inside
// a run only while the buffer writes every cell it is given (no insert mode, autowrap on, room
// for a wide cell between the margins), so what it hands back is always plain characters.
// Returns the bytes consumed.
size_t Terminal::printTextRun(std::span<const uint8_t> run) {
  if (const size_t taken = printOnRow(run)) return taken;
  TextRun batch;
  const Buffer& target = *buffer;
  const int left = target.marginMode ? target.marginLeft : 0;
  const int right = target.marginMode ? target.marginRight : cols - 1;
  batch.joining = !target.insertMode && target.wraparound && right - left >= 1;
  // A character after a joiner may join the cell printed before this run.
  batch.endsWithJoiner = lastPrintedEndsWithJoiner();
  const bool joining = batch.joining;
  const bool startsAfterJoiner = batch.endsWithJoiner;
  const size_t taken = buildTextRun(batch, run, TextRun::kCapacity);
  if (batch.count == 0) return taken;
  const auto done = static_cast<size_t>(buffer->insertTextRun({batch.codes.data(), batch.count}, renditionCell()));
  if (done > 0) {
    rememberLastPrinted();
    lastPrinted.endsWithJoiner =
        done == batch.count ? batch.endsWithJoiner : clusterEndsWithJoiner(Buffer::runCellCode(batch.codes[done - 1]));
  }
  if (done < batch.count) {
    // The buffer refused the rest: building the run again from the same start, with the same
    // state, finds the byte where the first refused cell begins. Refusals are rare, so no run
    // keeps that byte for every cell.
    TextRun again;
    again.joining = joining;
    again.endsWithJoiner = startsAfterJoiner;
    again.afterLoneIndicator = batch.afterLoneIndicator;
    const size_t from = buildTextRun(again, run.first(taken), done);
    printEachCharacter(run.subspan(from, taken - from));
  }
  return taken;
}

// Text that stays on the cursor's row, written there as it is decoded; returns the bytes
// consumed, none where the row cannot be written that way or its first cell needs a wrap.
size_t Terminal::printOnRow(std::span<const uint8_t> run) {
  RowRun batch(buffer, this);
  if (!buffer->openTextRow(renditionCell(), batch.row)) return 0;
  // A character after a joiner may join the cell printed before this run.
  batch.endsWithJoiner = lastPrintedEndsWithJoiner();
  const size_t taken = buildTextRun(batch, run, RowRun::kCapacity);
  if (batch.count > 0) {
    buffer->closeTextRow(batch.row, batch.last);
    // The row's line holds the cell printed last: no need to look it up in the ring again.
    lastPrinted = {buffer, batch.row.line, batch.row.line->generation(), buffer->lastBufferStorage.x,
                   batch.endsWithJoiner};
  }
  return taken;
}

// Adds the cells of `run` to `batch` until it is full, stopping where the text needs the
// single-cell rules, or where cell number `cells` would begin. Returns the bytes consumed.
template <typename Run>
size_t Terminal::buildTextRun(Run& batch, std::span<const uint8_t> run, size_t cells) {
  static const int8_t* const widths = makeWidthTable();
  const uint8_t* const data = run.data();
  const size_t size = run.size();
  // A cell past number `cells` ends the run before its character, as does a full run.
  const size_t stop = std::min(cells + 1, Run::kCapacity);
  size_t i = 0;
  while (i < size && batch.hasRoom()) {
    const size_t before = batch.count;
    if (data[i] < 0x7F) {
      const size_t ascii = batch.takeAscii(run, i);
      if (batch.count > cells) return i + (cells - before);
      i += ascii;
      continue;
    }
    DecodedScalar next = data[i] < 0x80 ? DecodedScalar{data[i], 1} : decodeRunScalar(data + i, size - i);
    if (next.length == 0) break;
    int width = columnWidth(widths, next.scalar);
    if (Run::ownsCell(next, width) && !batch.endsWithJoiner) {
      const Stretch end = batch.takeOwnCells(run, i, next, width, widths, stop);
      if (end == Stretch::refused) return i;
      if (end == Stretch::ended) {
        if (batch.count > cells) return i;
        i += next.length;
        continue;
      }
    }
    // Anything else, including the character that ended a stretch of cells of their own.
    if (next.length == 0 || !addToTextRun(batch, next.scalar, width)) break;
    if (batch.count > cells) return i;
    i += next.length;
  }
  return i;
}

bool Terminal::clusterEndsWithJoiner(int32_t cellCode) const {
  if (cellCode < kFirstClusterCode) return false;
  const auto found = indexToCharMap.find(cellCode);
  return found != indexToCharMap.end() && !found->second.empty() && grapheme::isZeroWidthJoiner(found->second.back());
}

// Adds a scalar to the run, as a cell of its own or joined to the
// run's last cell; false when it needs the single-cell rules. Taken in line into the run
// builder with the join below, so the run's count and flags stay in registers across emoji.
template <typename Run>
[[gnu::always_inline]] inline bool Terminal::addToTextRun(Run& batch, char32_t scalar, int width) {
  if (width < 0) return true;  // dropped, whatever came before
  if (grapheme::isRegionalIndicator(scalar)) {
    if (!batch.joining || options.regionalIndicatorWidth == RegionalIndicatorWidth::narrow) return false;
    if (batch.count == 0) {
      // The first cell of a run starts a flag unless the cell printed before the run is half of
      // one, which the single-cell rules join. The answer holds for the whole run: nothing is
      // printed before its first cell.
      if (batch.afterLoneIndicator < 0) batch.afterLoneIndicator = lastPrintedIsLoneIndicator() ? 1 : 0;
      if (batch.afterLoneIndicator) return false;
    } else if (batch.loneIndicator && joinInTextRun(batch, scalar) == RunJoin::joined) {
      return true;
    }
    if (!batch.push(scalarCode(scalar), width)) return false;
    batch.loneIndicator = true;
    return true;
  }
  // Skin tones, the joiner and the selectors take no columns, like marks, so `width == 0` covers
  // them: one test where emoji of every kind follow one another at random.
  if (width == 0 || batch.endsWithJoiner) {
    if (!batch.joining || batch.count == 0) return false;
    const RunJoin joined = joinInTextRun(batch, scalar);
    if (joined != RunJoin::separate) return joined == RunJoin::joined;
    // A scalar that cannot join prints as a cell of its own, or vanishes when it has no width.
    if (width == 0) return true;
  }
  if (width > 2) return false;
  if (scalar <= 0xFFFF) return batch.push(static_cast<int32_t>(scalar), width);
  return batch.joining && batch.push(scalarCode(scalar), width);
}

// Joins a scalar to the run's last cell. A selector that would change the cell's width is left
// to the single-cell rules, as where the cell lands decides that.
template <typename Run>
[[gnu::always_inline]] inline Terminal::RunJoin Terminal::joinInTextRun(Run& batch, char32_t scalar) {
  const int32_t last = batch.lastCode();
  const int32_t form = last & Buffer::kRunFormBits;
  const ClusterCodeCache::Step step = joinStep(last & ~Buffer::kRunFormBits, scalar);
  if (!step.joins) return RunJoin::separate;
  int32_t newForm = form;
  if (scalar == 0xFE0F || scalar == 0xFE0E) {
    if (!step.selectorBase) return RunJoin::joined;  // a selector after anything else vanishes
    const bool toWide = scalar == 0xFE0F;
    // An emoji selector widens a one-column cell where it lands with room; the buffer decides.
    if (toWide && form == 0) newForm = Buffer::kWidenedCode;
    // A text selector narrows a two-column cell and moves the cursor back: left to the single rules.
    if (!toWide && form != 0) return RunJoin::single;
  }
  if (!batch.replaceLast(step.code | newForm)) return RunJoin::single;
  batch.endsWithJoiner = grapheme::isZeroWidthJoiner(scalar);
  batch.loneIndicator = false;
  return RunJoin::joined;
}

// A single byte, or the lead of a broken sequence shown as its Latin-1 character.
void Terminal::printByte(uint8_t byte) {
  if (byte < 0x7F && charset) {
    if (const char32_t mapped = charset->lookup(byte)) {
      printNewCell(static_cast<int32_t>(mapped), 1);
      return;
    }
  }
  const int width = columnWidth(byte);
  if (width > 0) printNewCell(byte, width);
}

void Terminal::printScalar(char32_t scalar) {
  int width = columnWidth(scalar);
  if (width < 0) return;
  const bool regional = grapheme::isRegionalIndicator(scalar);
  if (regional && width == 2 && options.regionalIndicatorWidth == RegionalIndicatorWidth::narrow) width = 1;
  if (regional && width > 0) {
    if (!joinRegionalIndicator(scalar, width)) printNewCell(scalarCode(scalar), width);
    return;
  }
  // Every scalar with a canonical combining class is a mark, which the width table gives no
  // columns, so `width == 0` already covers that test.
  const bool joins = width == 0 || grapheme::isEmojiModifier(scalar) || grapheme::isZeroWidthJoiner(scalar) ||
                     grapheme::isVariationSelector(scalar) || lastPrintedEndsWithJoiner();
  if (joins && tryJoin(scalar, width)) return;
  if (width > 0) printNewCell(scalarCode(scalar), width);
}

void Terminal::printNewCell(int32_t cellCode, int width) {
  buffer->insertCharacter(std::bit_cast<CharData>(cellWordsWithValue(renditionCell(), cellCode, width)));
  rememberLastPrinted();
}

void Terminal::rememberLastPrinted() {
  const auto& stored = buffer->lastBufferStorage;
  auto& lines = buffer->lines();
  if (stored.y < 0 || stored.y >= lines.count()) {
    lastPrinted = {};
    return;
  }
  const BufferLine* line = lines[stored.y].get();
  lastPrinted = {buffer, line, line->generation(), stored.x};
}

// The line of the cell printed last, or null when that cell has since been overwritten, moved,
// trimmed or recycled, or the screen size changed.
BufferLine* Terminal::lastPrintedLine() {
  const auto& stored = buffer->lastBufferStorage;
  if (lastPrinted.buffer != buffer || stored.cols != cols || stored.rows != rows) return nullptr;
  auto& lines = buffer->lines();
  if (stored.y < 0 || stored.y >= lines.count()) return nullptr;
  BufferLine* line = lines[stored.y].get();
  if (line != lastPrinted.line || line->generation() != lastPrinted.generation) return nullptr;
  return line;
}

bool Terminal::lastPrintedEndsWithJoiner() { return lastPrinted.endsWithJoiner && lastPrintedLine(); }

bool Terminal::tryJoin(char32_t scalar, int width) {
  BufferLine* line = lastPrintedLine();
  if (!line || line->count() == 0) return false;
  const int col = std::min({lastPrinted.col, cols - 1, line->count() - 1});
  if (col < 0) return false;
  CharData cell = (*line)[col];
  if (cell.code == 0) return false;
  const ClusterCodeCache::Step step = joinStep(cell.code, scalar);
  if (!step.joins) return false;

  int newWidth = cell.width;
  if (scalar == 0xFE0F || scalar == 0xFE0E) {
    // Only characters with two presentations change; a selector after anything else vanishes.
    if (!step.selectorBase) return true;
    if (scalar == 0xFE0F) {
      if (cell.width != 2 && hasRoomToWiden(*buffer, col, cols)) {
        widenJoinedCell(*line, col, cell);
        newWidth = 2;
      }
    } else {
      if (cell.width == 2 && cursorRightAfter(*line, col + 2)) buffer->x = buffer->x - 1;
      // The second half the narrowed cell leaves behind goes, as it would under any narrow cell.
      if (cell.width == 2) blankLoneContinuation(*line, col + 1, cellWords(renditionCell()));
      newWidth = 1;
    }
  } else if (grapheme::isRegionalIndicator(scalar) &&
             options.regionalIndicatorWidth == RegionalIndicatorWidth::narrow && cell.width == 1 &&
             hasRoomToWiden(*buffer, col, cols)) {
    widenJoinedCell(*line, col, cell);
    newWidth = 2;
  }
  storeCell(*line, col, cellWordsWithValue(cell, step.code, newWidth));
  lastPrinted.generation = line->generation();
  lastPrinted.endsWithJoiner = grapheme::isZeroWidthJoiner(scalar);
  updateRange(*buffer, buffer->lastBufferStorage.y - buffer->yBase);
  return true;
}

bool Terminal::cursorRightAfter(const BufferLine& line, int col) {
  const int row = buffer->yBase + buffer->y;
  return buffer->x == col && row < buffer->lines().count() && buffer->lines()[row].get() == &line;
}

// A joined cell that grows to two columns takes the next column, cutting whatever was there.
void Terminal::widenJoinedCell(BufferLine& line, int col, const CharData& cell) {
  buffer->mayHoldWideCells = true;
  line.set(col + 1, CharData(0, 0, cell.attribute()));
  blankLoneContinuation(line, col + 2, cellWords(renditionCell()));
  // The cursor stays after the cell it stood after; one that has moved away since the cell was
  // printed (a cursor move, a line feed) stays where it is.
  if (!cursorRightAfter(line, col + 1)) return;
  Buffer& b = *buffer;
  b.x = b.x + 1;
  // Grown up to a right margin, the cell leaves the wrap pending there, as printing up to it does.
  if (marginMode && b.x == b.marginRight + 1 && b.x < cols) b.marginWrapRow = b.y;
}

// In line where runs are built: emoji take their codes from the cache on every print.
[[gnu::always_inline]] inline int32_t Terminal::scalarCode(char32_t scalar) {
  if (scalar <= 0xFFFF) return static_cast<int32_t>(scalar);
  if (const ClusterCodeCache::Step* known = clusterCodes.find(0, scalar)) return known->code;
  return newScalarCode(scalar);
}

int32_t Terminal::newScalarCode(char32_t scalar) {
  const int32_t assigned = code(std::u32string_view(&scalar, 1));
  clusterCodes.insert(0, scalar, {assigned, false, false});
  return assigned;
}

// Whether `scalar` joins the cluster of a cell of code `cellCode`, and the code they make.
ClusterCodeCache::Step Terminal::joinStep(int32_t cellCode, char32_t scalar) {
  // A key not handed out yet has no cluster now but may have one later. Keys are handed out
  // upwards from the first, so one test covers single scalars and clusters alike, which text
  // mixes at random.
  const bool settled = cellCode < lastCharIndex;
  if (settled) {
    if (const ClusterCodeCache::Step* known = clusterCodes.find(cellCode, scalar)) return *known;
  }
  return decideJoinStep(cellCode, scalar, settled);
}

ClusterCodeCache::Step Terminal::decideJoinStep(int32_t cellCode, char32_t scalar, bool settled) {
  ClusterCodeCache::Step step;
  std::u32string cluster = scalars(cellCode);
  if (cluster.size() < grapheme::kMaxClusterScalars && grapheme::extendsCluster(cluster, scalar)) {
    step.joins = true;
    step.selectorBase = grapheme::isVariationSelectorBase(cluster.back());
    const bool vanishes = (scalar == 0xFE0F || scalar == 0xFE0E) && !step.selectorBase;
    if (!vanishes) {
      cluster.push_back(scalar);
      step.code = code(cluster);
    }
  }
  if (settled) clusterCodes.insert(cellCode, scalar, step);
  return step;
}

bool Terminal::isLoneRegionalIndicator(int32_t cellCode) const {
  if (cellCode < kFirstClusterCode) return grapheme::isRegionalIndicator(static_cast<char32_t>(cellCode));
  const auto found = indexToCharMap.find(cellCode);
  return found != indexToCharMap.end() && found->second.size() == 1 && grapheme::isRegionalIndicator(found->second[0]);
}

bool Terminal::lastPrintedIsLoneIndicator() {
  BufferLine* line = lastPrintedLine();
  if (!line) return false;
  const int col = std::min({lastPrinted.col, cols - 1, line->count() - 1});
  return col >= 0 && isLoneRegionalIndicator((*line)[col].code);
}

// The code of the cell printed last while the cursor stands right after it, else 0. A resize
// moves that cell, and a combining mark that comes after the resize still belongs to it.
int32_t Terminal::lastPrintedBeforeCursor() {
  const BufferLine* line = lastPrintedLine();
  if (!line || buffer->lastBufferStorage.y != buffer->yBase + buffer->y) return 0;
  const int col = lastPrinted.col;
  if (col < 0 || col >= line->count()) return 0;
  const CharData& cell = (*line)[col];
  return col + std::max<int>(cell.width, 1) == buffer->x ? cell.code : 0;
}

// After a resize, takes the character just before the cursor as the one printed last, when it is
// still the character `lastPrintedBeforeCursor` saw. A cursor that starts a wrapped row follows the
// last character of the row above, past the gap a wide character may have left.
void Terminal::carryLastPrinted(int32_t code, int newCols, int newRows) {
  if (code == 0) return;
  auto& lines = buffer->lines();
  int row = buffer->yBase + buffer->y;
  if (row < 0 || row >= lines.count()) return;
  int col = buffer->x - 1;
  if (col < 0) {
    if (row == 0 || !lines[row]->isWrapped()) return;
    row--;
    col = lines[row]->count() - 1;
    while (col > 0 && (*lines[row])[col].code == 0) col--;
  }
  BufferLine& line = *lines[row];
  col = std::min(col, line.count() - 1);
  while (col > 0 && line[col].width == 0) col--;
  if (col < 0 || line[col].code != code) return;
  buffer->lastBufferStorage = {row, col, newCols, newRows};
  lastPrinted.line = &line;
  lastPrinted.generation = line.generation();
  lastPrinted.col = col;
}

bool Terminal::joinRegionalIndicator(char32_t scalar, int width) {
  const bool narrow = options.regionalIndicatorWidth == RegionalIndicatorWidth::narrow;
  if (BufferLine* line = lastPrintedLine()) {
    const int col = std::min({lastPrinted.col, cols - 1, line->count() - 1});
    const bool loneIndicator = col >= 0 && isLoneRegionalIndicator((*line)[col].code);
    if (!narrow) return loneIndicator && tryJoin(scalar, width);
    if (loneIndicator && buffer->x == lastPrinted.col + 1) return tryJoin(scalar, width);
  } else if (!narrow) {
    return false;
  }
  // Narrow: the indicator just left of the cursor may be the first half of this flag.
  const int x = buffer->x;
  if (x < 1 || x > cols) return false;
  auto& lines = buffer->lines();
  const int row = buffer->yBase + buffer->y;
  if (row >= lines.count()) return false;
  BufferLine& line = *lines[row];
  if (x - 1 >= line.count()) return false;
  const CharData& left = line[x - 1];
  if (left.width != 1 || !isLoneRegionalIndicator(left.code)) return false;
  buffer->lastBufferStorage = {row, x - 1, cols, rows};
  lastPrinted = {buffer, &line, line.generation(), x - 1};
  return tryJoin(scalar, width);
}

int32_t Terminal::code(std::u32string_view character) {
  if (character.size() == 2 && character[0] == U'\r' && character[1] == U'\n') return 10;
  if (character.size() == 1 && character[0] <= 0xFFFF) return static_cast<int32_t>(character[0]);
  if (character.empty()) return 0;
  std::u32string key(character);
  if (auto found = charToIndexMap.find(key); found != charToIndexMap.end()) return found->second;
  // The table never shrinks; a program printing endless distinct clusters gets the
  // replacement character once it is full.
  if (charToIndexMap.size() >= kMaxClusterCodes) return 0xFFFD;
  const int32_t assigned = lastCharIndex++;
  indexToCharMap.emplace(assigned, key);
  charToIndexMap.emplace(std::move(key), assigned);
  return assigned;
}

std::u32string Terminal::scalars(int32_t cellCode) const {
  if (cellCode < kFirstClusterCode) {
    if (cellCode >= 0 && cellCode <= 0x10FFFF && !(cellCode >= 0xD800 && cellCode <= 0xDFFF))
      return std::u32string(1, static_cast<char32_t>(cellCode));
    return U" ";
  }
  auto found = indexToCharMap.find(cellCode);
  return found == indexToCharMap.end() ? U" " : found->second;
}

std::string Terminal::character(int32_t cellCode) const {
  std::string text;
  if (cellCode < kFirstClusterCode) {
    const bool valid = cellCode >= 0 && cellCode <= 0x10FFFF && !(cellCode >= 0xD800 && cellCode <= 0xDFFF);
    if (!valid) return " ";
    if (cellCode == 0) return std::string(1, '\0');
    appendUtf8To(text, static_cast<char32_t>(cellCode));
    return text;
  }
  auto found = indexToCharMap.find(cellCode);
  if (found == indexToCharMap.end()) return " ";
  for (char32_t c : found->second) appendUtf8To(text, c);
  return text;
}

CharData Terminal::makeCharData(const Attribute& attribute, int32_t cellCode, int8_t size) const {
  return CharData(cellCode, size, attribute);
}

void Terminal::sendResponse(std::initializer_list<std::span<const uint8_t>> items) {
  Bytes data;
  for (auto item : items) data.insert(data.end(), item.begin(), item.end());
  if (tdel) tdel->send(*this, data);
}

void Terminal::sendResponse(std::string_view text) {
  sendResponse({std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size())});
}

void Terminal::log(std::string_view message) const {
  if (silentLog) return;
  std::printf("Info: %.*s\n", static_cast<int>(message.size()), message.data());
}

void Terminal::logUnprefixed(std::string_view message) const {
  if (silentLog) return;
  std::printf("%.*s\n", static_cast<int>(message.size()), message.data());
}

void Terminal::updateFullScreen() {
  refreshStart = 0;
  refreshEnd = rows;
  scrollInvariantRefreshStart = buffer->yDisp;
  scrollInvariantRefreshEnd = buffer->yDisp + rows;
}

std::optional<Terminal::UpdateRange> Terminal::getUpdateRange() const {
  if (refreshEnd < 0) return std::nullopt;
  return UpdateRange{refreshStart, refreshEnd};
}

std::optional<Terminal::UpdateRange> Terminal::getScrollInvariantUpdateRange() const {
  if (scrollInvariantRefreshEnd < 0) return std::nullopt;
  return UpdateRange{scrollInvariantRefreshStart, scrollInvariantRefreshEnd};
}

void Terminal::clearUpdateRange() {
  refreshStart = scrollInvariantRefreshStart = std::numeric_limits<int>::max();
  refreshEnd = scrollInvariantRefreshEnd = -1;
}

// The atom table is the whole process's: codes this terminal's cells do not hold may be held by
// another terminal's. Only the codes this terminal registered, and no cell of it holds any more,
// are given back.
void Terminal::garbageCollectPayload() { reclaimPayloadCodes(); }

}  // namespace vantrelle
