// Feeds one byte stream to three terminals of the same size: whole, a byte at a time, and cut into
// pieces the input chooses. Where the bytes are cut must change nothing, so the run of the parser
// and the printer that takes a whole feed has to leave what the byte-at-a-time path leaves: every
// cell, wrap flag, cursor, mode, region and reply. Any difference aborts.
//
// Input: columns, rows, a cutting stride, options, then tokens. Most tokens expand to the sequences
// and text the quick paths take (parameters with ';' and ':', colour forms, cursor moves, margins,
// UTF-8 of every length, wide text, marks, joiners, selectors, flags); the rest are raw bytes.
#include <any>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Vantrelle/Terminal/Terminal.h"
#include "fuzz/FuzzReader.h"

namespace {

using fuzzing::appendUtf8;
using fuzzing::Reader;

using vantrelle::Buffer;
using vantrelle::BufferLine;
using vantrelle::CharData;
using vantrelle::Terminal;

class RecordingHost : public vantrelle::TerminalDelegate {
 public:
  std::string sent;
  int bells = 0;
  void send(Terminal&, std::span<const uint8_t> data) override {
    if (sent.size() < (1u << 16)) sent.append(data.begin(), data.end());
  }
  void bell(Terminal&) override { ++bells; }
};

// Characters whose handling differs: narrow of each UTF-8 length, wide, zero-width, joining.
constexpr char32_t kScalars[] = {
    U'a',    U'#',    0xE9,    0x416,   0x2500,   0x4E2D,  0xAC00,  0xFF21,  0x300,   0x301,   0x200D,
    0xFE0E,  0xFE0F,  0x20E3,  0x1100,  0x1161,   0x11A8,  0x2764,  0x263A,  0x1F600, 0x1F44D, 0x1F3FD,
    0x1F468, 0x1F469, 0x1F1FA, 0x1F1F8, 0x1F1E9,  0x20000, 0x1D400, 0x85,    0xAD,    0x200B,  0x3099,
    0xE0067, 0x1F525, 0x2603,  0x23,    0x10FFFF, 0x7F,    0x1F3F4, 0xE007F, 0x0E3F,  0x0E31,  0x1F9D1,
};

// Whole sequences the quick paths recognise.
constexpr const char* const kSequences[] = {
    "\x1b[m",
    "\x1b[0m",
    "\x1b[1;31m",
    "\x1b[4:3m",
    "\x1b[58:5:9m",
    "\x1b[22;39;49m",
    "\x1b[H",
    "\x1b[r",
    "\x1b[s",
    "\x1b[?69h",
    "\x1b[?69l",
    "\x1b[?6h",
    "\x1b[?6l",
    "\x1b[4h",
    "\x1b[4l",
    "\x1b[?7h",
    "\x1b[?7l",
    "\x1b[?45h",
    "\x1b[?45l",
    "\x1b[?1049h",
    "\x1b[?1049l",
    "\x1b"
    "7",
    "\x1b"
    "8",
    "\x1b[3g",
    "\x1bH",
    "\x1b[K",
    "\x1b[1K",
    "\x1b[2J",
    "\x1b(0",
    "\x1b(B",
    "\x1b#8",
    "\x1b#6",
    "\x1b[6n",
    "\x1b[?6n",
    "\x1b[c",
    "\x1b[5n",
    "\x1bM",
    "\x1b"
    "D",
    "\x1b"
    "E",
    "\x1b]8;;x\x1b\\",
    "\x1b]8;;\x1b\\",
    "\x1b[!p",
    "\x1b[?2026h",
    "\x1b[?2026l",
    "\x1b[?1h",
    "\x1b[=1u",
    "\x1b[?u",
    "\x1b"
    "c",
    "\x1b[?25l",
};

// Final bytes of CSI sequences that take numbers: moves, margins, insertion, deletion, SGR.
constexpr char kFinals[] = {'H', 'f', 'A', 'B', 'C', 'D', 'E', 'F', 'G', '`', 'd', 'e', 'a', 'r', 's',  'm',
                            '@', 'P', 'X', 'L', 'M', 'S', 'T', 'I', 'Z', 'b', 'K', 'J', 'g', 'n', '\'', 'x'};

void appendNumber(std::string& out, Reader& in) {
  const uint8_t b = in.byte();
  switch (b & 3) {
    case 0:
      out += std::to_string(b >> 2);
      break;  // 0..63
    case 1:
      out += std::to_string(b >> 5);
      break;  // 0..7
    case 2:
      out += std::to_string((b >> 2) * 1000 + in.byte() * 7);
      break;  // long, past the quick reads
    default:
      out += std::to_string(b & 0x80 ? 255 : 256 + (b >> 2));
      break;  // around a byte's range
  }
}

void appendCsi(std::string& out, Reader& in) {
  const uint8_t shape = in.byte();
  out += "\x1b[";
  if (shape & 0x80) out += '?';
  const int count = shape & 7;
  for (int i = 0; i < count; ++i) {
    if (i) out += (shape & 0x40) && i % 2 ? ':' : ';';
    if ((shape & 0x20) == 0 || i != 1) appendNumber(out, in);  // an empty parameter now and then
  }
  out += kFinals[in.byte() % std::size(kFinals)];
}

void appendColour(std::string& stream, Reader& in) {
  const uint8_t form = in.byte();
  std::string out;
  const char* layer = (form & 3) == 0 ? "38" : (form & 3) == 1 ? "48" : (form & 3) == 2 ? "58" : "39";
  out += "\x1b[";
  if (form & 4) out += "1;";
  out += layer;
  switch (form >> 3 & 7) {
    case 0:
      out += ";5;" + std::to_string(in.byte());
      break;
    case 1:
      out += ":5:" + std::to_string(in.byte());
      break;
    case 2:
      out += ";2;" + std::to_string(in.byte()) + ";" + std::to_string(in.byte()) + ";" + std::to_string(in.byte());
      break;
    case 3:
      out += ":2::" + std::to_string(in.byte()) + ":" + std::to_string(in.byte()) + ":" + std::to_string(in.byte());
      break;
    case 4:
      out += ":2:" + std::to_string(in.byte()) + ":" + std::to_string(in.byte());
      break;  // short form
    case 5:
      out = out.substr(0, out.size() - 2) + std::to_string(30 + in.byte() % 78);
      break;  // one number
    case 6:
      out += ";5";
      break;  // cut short
    default:
      out += ";" + std::to_string(in.byte()) + ";3;" + std::to_string(in.byte());
      break;
  }
  stream += out + 'm';
}

// Builds the stream; `cuts` gets the offsets where the input asks for a cut.
std::string buildStream(Reader& in, std::vector<size_t>& cuts) {
  std::string out;
  while (!in.done() && out.size() < 4096) {
    const uint8_t token = in.byte();
    switch (token >> 4) {
      case 0:
      case 1: {  // raw bytes
        auto raw = in.take((token & 0x1F) + 1);
        out.append(raw.begin(), raw.end());
        break;
      }
      case 2:
      case 3:  // text of one kind of character
        for (int i = (token & 7) + 1; i > 0; --i) appendUtf8(out, kScalars[in.byte() % std::size(kScalars)]);
        break;
      case 4:  // ASCII text
        for (int i = (token & 15) * 3 + 1; i > 0; --i) out += char('a' + i % 26);
        break;
      case 5:
      case 6:
        appendCsi(out, in);
        break;
      case 7:
        appendColour(out, in);
        break;
      case 8: {  // a cursor position, inside or just outside the screen
        const uint8_t col = in.byte();
        out += "\x1b[" + std::to_string(in.byte() % 15) + ";" + std::to_string(col < 192 ? col % 45 : col) + "H";
        break;
      }
      case 9: {  // margins: left and right, or top and bottom
        const char final = token & 1 ? 'r' : 's';
        if (!(token & 1) && (token & 2)) out += "\x1b[?69h";
        out += "\x1b[" + std::to_string(in.byte() % 42) + ";" + std::to_string(in.byte() % 42) + final;
        break;
      }
      case 10:
      case 11:
        out += kSequences[in.byte() % std::size(kSequences)];
        break;
      case 12: {  // controls inside text
        static constexpr char kControls[] = {'\t', '\r', '\n', '\b', '\v', '\f', '\x0e', '\x0f'};
        out += kControls[token & 7];
        break;
      }
      case 13: {  // a broken UTF-8 sequence: a lead without its tail, or a stray tail
        static constexpr const char* kBroken[] = {"\xe4\xb8", "\xf0\x9f\x98",     "\xc3", "\x80", "\xed\xa0\x80",
                                                  "\xc0\xaf", "\xf4\x90\x80\x80", "\xff"};
        out += kBroken[token & 7];
        break;
      }
      case 14:
        cuts.push_back(out.size());
        break;
      default: {  // a scalar from anywhere in the code space
        const char32_t c = (char32_t(in.byte()) << 12 | char32_t(in.byte()) << 4 | (token & 15)) % 0x110000;
        if (c < 0xD800 || c > 0xDFFF) appendUtf8(out, c);
        break;
      }
    }
  }
  return out;
}

[[noreturn]] void differ(const char* what, int a = 0, int b = 0) {
  fprintf(stderr, "split feed differs: %s (%d vs %d)\n", what, a, b);
  std::abort();
}

void same(bool condition, const char* what, int a = 0, int b = 0) {
  if (!condition) differ(what, a, b);
}

// A cell's text: the scalar it holds, or the cluster its key names (keys are numbered by order).
std::u32string cellText(const Terminal& t, int32_t code) {
  if (code < Terminal::kFirstClusterCode) return std::u32string(1, char32_t(code));
  return U"\U0010FFFF" + t.scalars(code);
}

std::optional<std::string> payloadText(const CharData& cell) {
  if (!cell.hasPayload()) return std::nullopt;
  const std::any* value = cell.getPayload();
  if (!value) return std::string("\x01gone");
  if (const auto* text = std::any_cast<std::string>(value)) return *text;
  return std::string("\x02other");
}

void compareLine(const Terminal& ta, const BufferLine& a, const Terminal& tb, const BufferLine& b, int row) {
  same(a.isWrapped() == b.isWrapped(), "wrap flag", row);
  same(a.renderMode == b.renderMode, "line rendition", row);
  same(a.count() == b.count(), "line length", a.count(), b.count());
  for (int col = 0; col < a.count(); ++col) {
    const CharData& x = a[col];
    const CharData& y = b[col];
    same(x.width == y.width, "cell width", row, col);
    if (x.code < Terminal::kFirstClusterCode && y.code < Terminal::kFirstClusterCode)
      same(x.code == y.code, "cell code", row, col);
    else
      same(cellText(ta, x.code) == cellText(tb, y.code), "cell cluster", row, col);
    same(x.attribute() == y.attribute(), "cell attribute", row, col);
    same(payloadText(x) == payloadText(y), "cell payload", row, col);
  }
}

void compareBuffers(const Terminal& ta, Buffer& a, const Terminal& tb, Buffer& b) {
  same(a.x == b.x && a.y == b.y, "cursor", a.x * 1000 + a.y, b.x * 1000 + b.y);
  same(a.marginWrapRow == b.marginWrapRow, "margin wrap row", a.marginWrapRow, b.marginWrapRow);
  same(a.yBase == b.yBase && a.yDisp == b.yDisp, "scrolled rows", a.yBase, b.yBase);
  same(a.scrollTop == b.scrollTop && a.scrollBottom == b.scrollBottom, "scroll region", a.scrollTop, b.scrollTop);
  same(a.marginLeft == b.marginLeft && a.marginRight == b.marginRight, "margins", a.marginLeft, b.marginLeft);
  same(a.tabStops == b.tabStops, "tab stops");
  same(a.savedX == b.savedX && a.savedY == b.savedY, "saved cursor", a.savedX, b.savedX);
  same(a.savedOriginMode == b.savedOriginMode && a.savedMarginMode == b.savedMarginMode &&
           a.savedWraparound == b.savedWraparound && a.savedReverseWraparound == b.savedReverseWraparound,
       "saved modes");
  same(a.savedAttr == b.savedAttr, "saved rendition");
  same(a.savedCharset == b.savedCharset, "saved character set");
  same(a.insertMode == b.insertMode && a.marginMode == b.marginMode && a.wraparound == b.wraparound, "buffer's modes");
  auto& la = a.lines();
  auto& lb = b.lines();
  same(la.count() == lb.count(), "line count", la.count(), lb.count());
  for (int row = 0; row < la.count(); ++row) compareLine(ta, *la[row], tb, *lb[row], row);
}

void compare(Terminal& a, const RecordingHost& ha, Terminal& b, const RecordingHost& hb) {
  same(a.cols == b.cols && a.rows == b.rows, "size");
  same((a.buffer == a.altBuffer.get()) == (b.buffer == b.altBuffer.get()), "active buffer");
  same(a.wrapPending() == b.wrapPending(), "pending wrap");
  same(a.cursorColumn() == b.cursorColumn(), "cursor column", a.cursorColumn(), b.cursorColumn());
  const bool modesA[] = {a.synchronizedOutputActive,
                         a.applicationKeypad,
                         a.applicationCursor,
                         a.sendFocus,
                         a.cursorHidden,
                         a.originMode,
                         a.marginMode,
                         a.insertMode,
                         a.wraparound,
                         a.bracketedPasteMode,
                         a.reverseWraparound,
                         a.cursorBlink,
                         a.lineFeedMode,
                         a.smoothScroll};
  const bool modesB[] = {b.synchronizedOutputActive,
                         b.applicationKeypad,
                         b.applicationCursor,
                         b.sendFocus,
                         b.cursorHidden,
                         b.originMode,
                         b.marginMode,
                         b.insertMode,
                         b.wraparound,
                         b.bracketedPasteMode,
                         b.reverseWraparound,
                         b.cursorBlink,
                         b.lineFeedMode,
                         b.smoothScroll};
  for (size_t i = 0; i < std::size(modesA); ++i) same(modesA[i] == modesB[i], "mode", int(i));
  same(a.charset == b.charset && a.gCharsets == b.gCharsets, "character sets");
  same(a.gcharset == b.gcharset && a.gLevel == b.gLevel, "character set selection");
  same(a.currentAttribute() == b.currentAttribute(), "rendition");
  same(a.mouseMode() == b.mouseMode() && a.mouseProtocol == b.mouseProtocol, "mouse mode");
  same(a.keyboardEnhancementFlags() == b.keyboardEnhancementFlags(), "keyboard flags");
  same(a.terminalTitle() == b.terminalTitle(), "title");
  compareBuffers(a, *a.normalBuffer, b, *b.normalBuffer);
  compareBuffers(a, *a.altBuffer, b, *b.altBuffer);
  same(ha.sent == hb.sent, "replies", int(ha.sent.size()), int(hb.sent.size()));
  same(ha.bells == hb.bells, "bells", ha.bells, hb.bells);
}

// The rows of the screen before a feed, to tell afterwards which ones it changed: a changed row has
// to be marked for redrawing and, kept as the same line, carry a new generation for the caches
// that key a row by its line and generation.
struct ScreenBefore {
  const Buffer* buffer = nullptr;
  int yBase = 0;
  int count = 0;
  std::vector<vantrelle::BufferLinePtr> lines;  // held, so a new line cannot take an old one's address
  std::vector<uint64_t> generations;
  std::vector<std::vector<CharData>> cells;
};

ScreenBefore snapshot(Terminal& t) {
  ScreenBefore before;
  before.buffer = t.buffer;
  before.yBase = t.buffer->yBase;
  auto& lines = t.buffer->lines();
  before.count = lines.count();
  for (int row = 0; row < t.rows && before.yBase + row < lines.count(); ++row) {
    vantrelle::BufferLinePtr line = lines[before.yBase + row];
    before.lines.push_back(line);
    before.generations.push_back(line->generation());
    before.cells.push_back(line->getData());
  }
  return before;
}

bool sameCells(const std::vector<CharData>& before, const BufferLine& line) {
  if (int(before.size()) != line.count()) return false;
  return before.empty() || std::memcmp(before.data(), line.cells(), before.size() * sizeof(CharData)) == 0;
}

void checkRedrawMarks(Terminal& t, const ScreenBefore& before) {
  // Scrolling the whole screen and switching screens are redrawn by other means.
  if (t.buffer != before.buffer || t.buffer->yBase != before.yBase || t.buffer->lines().count() != before.count) return;
  const auto marked = t.getUpdateRange();
  auto& lines = t.buffer->lines();
  for (size_t row = 0; row < before.lines.size(); ++row) {
    const vantrelle::BufferLinePtr line = lines[before.yBase + int(row)];
    if (sameCells(before.cells[row], *line)) continue;
    same(marked && marked->startY <= int(row) && int(row) <= marked->endY, "changed row left unmarked", int(row));
    if (line.get() == before.lines[row].get())
      same(line->generation() != before.generations[row], "changed line kept its generation", int(row));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  vantrelle::TerminalOptions options;
  options.cols = 1 + in.byte() % 40;
  options.rows = 1 + in.byte() % 12;
  const uint8_t stride = in.byte();
  const uint8_t flags = in.byte();
  options.scrollback = flags & 1 ? 0 : 8 + (flags >> 4);
  if (flags & 2) options.regionalIndicatorWidth = vantrelle::RegionalIndicatorWidth::narrow;
  // Now and then a row wide enough for lines that clear only the columns they wrote.
  if (flags & 4) options.cols = 120 + options.cols * 2;
  std::vector<size_t> cuts;
  const std::string stream = buildStream(in, cuts);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());

  RecordingHost wholeHost, singleHost, piecesHost;
  Terminal whole(&wholeHost, options), single(&singleHost, options), pieces(&piecesHost, options);
  whole.feed(bytes);
  // The byte at a time also lets the output rest after each byte, so the rows it scrolls off go
  // into runs as soon as they can, while the whole feed keeps them whole: readers see no difference.
  for (size_t i = 0; i < bytes.size(); ++i) {
    single.feed(bytes.subspan(i, 1));
    single.outputRests();
  }
  // Cut where the input asked, and, with a stride, also every few bytes in a pattern it seeds.
  uint32_t state = stride;
  size_t from = 0, nextCut = 0;
  auto nextStride = [&] {
    state = state * 1103515245u + 12345u;
    return size_t(1 + (state >> 16) % (stride % 31 + 1));
  };
  size_t strideCut = stride ? nextStride() : bytes.size();
  while (from < bytes.size()) {
    while (nextCut < cuts.size() && cuts[nextCut] <= from) ++nextCut;
    size_t to = std::min(strideCut, nextCut < cuts.size() ? cuts[nextCut] : bytes.size());
    to = std::max(to, from + 1);
    pieces.clearUpdateRange();
    const ScreenBefore before = snapshot(pieces);
    pieces.feed(bytes.subspan(from, to - from));
    checkRedrawMarks(pieces, before);
    from = to;
    while (strideCut <= from && stride) strideCut += nextStride();
  }
  compare(whole, wholeHost, single, singleHost);
  compare(whole, wholeHost, pieces, piecesHost);
  // What the last cell can still join with must agree too.
  static constexpr const char* kProbe = "\xcc\x81\xe2\x80\x8d\xf0\x9f\x94\xa5\xef\xb8\x8f";
  whole.feed(kProbe);
  single.feed(kProbe);
  compare(whole, wholeHost, single, singleHost);
  return 0;
}
