// Reads text back out of a terminal the way the find bar and the selection do, over a screen and
// scrollback the input writes: plain, case-folded, regex and whole-word search forwards, backwards
// and for all matches, a step run in slices, selections of every kind (some far outside the
// buffer, some left behind by later output), and the extraction of ranges and rows. Nothing may
// crash or read outside the buffer; every match must lie inside it, and a step run in slices must
// find what the same step finds in one go.
//
// Input: columns, rows, scrollback, then operations, each a selector byte and its operands.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <span>
#include <string>

#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/SearchService.h"
#include "Vantrelle/Text/SelectionService.h"
#include "fuzz/FuzzReader.h"

namespace {

using fuzzing::appendUtf8;
using fuzzing::Reader;

using vantrelle::Position;
using vantrelle::SearchOptions;
using vantrelle::SearchResult;
using vantrelle::Terminal;

class NullHost : public vantrelle::TerminalDelegate {
 public:
  void send(Terminal&, std::span<const uint8_t>) override {}
};

// Letters that fold or decompose differently, word and non-word marks, brackets for the balanced
// selection, wide, combining and joined characters.
constexpr char32_t kScalars[] = {
    U'a',    U'B',    U'z',    U' ',    U' ',    U'_',   U'-',     U'.',   U'(',   U')',   U'[',   U']',
    U'{',    U'}',    U'*',    U'\\',   0xDF,    0x130,  0x131,    0x1E9E, 0xE9,   0x301,  0x300,  0x65,
    0x3A3,   0x3C2,   0xFB01,  0x4E2D,  0xFF21,  0xAC00, 0x1100,   0x1161, 0x200D, 0xFE0F, 0x20E3, 0x1F600,
    0x1F468, 0x1F469, 0x1F3FD, 0x1F1FA, 0x1F1F8, 0x0E31, 0x10FFFF, 0x2028, 0xAD,   0x200B, U'0',   U'9',
};

// Text of the kinds above, with now and then a line end, a sequence that moves the cursor or one
// that hides what follows.
std::string buildText(Reader& in, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = in.byte();
    if (b < 200) {
      appendUtf8(out, kScalars[b % std::size(kScalars)]);
    } else if (b < 215) {
      out += "\r\n";
    } else if (b < 225) {
      out += "\n";
    } else if (b < 235) {
      out += "\x1b[" + std::to_string(in.byte() % 20) + ";" + std::to_string(in.byte() % 70) + "H";
    } else if (b < 240) {
      out += b & 1 ? "\x1b[?1049h" : "\x1b[?1049l";
    } else if (b < 245) {
      out += "\x1b[" + std::to_string(in.byte() % 4) + (b & 1 ? "J" : "K");
    } else if (b < 248) {
      out += b == 245 ? "\x1b[8m" : b == 246 ? "\x1b[28m" : "\x1b[m";  // hidden text, which reads as blanks
    } else {
      out += in.take(1 + (b & 7));  // raw bytes
    }
  }
  return out;
}

// A term: most often text of the kinds the screen holds, so that matches happen, else raw bytes.
std::string buildTerm(Reader& in) {
  const uint8_t shape = in.byte();
  const size_t length = shape & 15;
  if (shape & 0x80) return in.take(length);
  std::string term;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = in.byte();
    // The regex forms that take time or match nothing at all.
    static constexpr const char* kRegex[] = {".*", "(a+)+", "\\b", "^", "$", "a*", "(?i)", "|", "\\X", "[^ ]+"};
    if ((shape & 0x40) && b >= 220)
      term += kRegex[b % std::size(kRegex)];
    else
      appendUtf8(term, kScalars[b % std::size(kScalars)]);
  }
  return term;
}

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "text reads: %s\n", what);
  std::abort();
}

// A match lies inside the rows and the columns it names. The alternate screen keeps a line's cells
// when the screen narrows, but those past the columns show nothing and are not searched.
void checkResult(const Terminal& t, const SearchResult& r) {
  const int64_t rows = t.buffer->lines().count();
  if (r.row < 0 || r.row >= rows) fail("match row outside the buffer");
  const int64_t width = std::max<int64_t>(t.cols, 1);
  if (r.col < 0 || r.col > width) fail("match column outside the row");
  if (r.size < 0) fail("match of negative size");
  if (r.col + r.size > width * (rows - r.row)) fail("match ends past the buffer");
}

Position anyPosition(Reader& in) {
  const uint8_t a = in.byte();
  const uint8_t b = in.byte();
  // Mostly inside the buffer; now and then past its ends or negative.
  if ((a & 0xC0) == 0xC0) return Position(int64_t(int8_t(b)) * 1000, int64_t(int8_t(a << 2)) * 1000);
  return Position(b % 80, a % 64);
}

void searchStepInSlices(vantrelle::SearchService& search, const std::string& term, const SearchOptions& options,
                        bool forward) {
  // The same step twice: in one go, and a row or so at a time with a deadline always past.
  auto whole = search.beginStep(term, options, forward);
  whole.advance(search.engine);
  auto sliced = search.beginStep(term, options, forward);
  for (int i = 0; i < 100000 && !sliced.advance(search.engine, std::chrono::steady_clock::time_point::min()); ++i) {
  }
  if (!sliced.finished()) fail("a sliced step never ends");
  if (whole.result != sliced.result) fail("a sliced step finds another match");
  if (whole.result) checkResult(search.terminal, *whole.result);
  search.finishStep(whole);
}

// A step run a slice at a time while output goes on between the slices, as the find bar runs it:
// rows that moved up are handed on to the step, anything else starts it again.
void searchStepUnderOutput(vantrelle::SearchService& search, Reader& in, const std::string& term,
                           const SearchOptions& options, bool forward) {
  Terminal& t = search.terminal;
  std::optional<vantrelle::SearchStep> step(search.beginStep(term, options, forward));
  auto mark = vantrelle::BufferMark::of(t);
  for (int slice = 0; slice < 100000; ++slice) {
    if (step->advance(search.engine, std::chrono::steady_clock::time_point::min())) {
      if (step->result) checkResult(t, *step->result);
      search.finishStep(*step);
      return;
    }
    const uint8_t output = in.byte();
    if (output == 0) continue;
    t.feed(buildText(in, output % 8));
    search.invalidate();
    const auto now = vantrelle::BufferMark::of(t);
    if (auto dropped = now.linesDroppedSince(mark))
      step->linesDropped(*dropped);
    else
      step.emplace(search.beginStep(term, options, forward));
    mark = now;
  }
  fail("a step under output never ends");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  vantrelle::TerminalOptions options;
  options.cols = 1 + in.byte() % 60;
  options.rows = 1 + in.byte() % 12;
  options.scrollback = in.byte() % 40;
  NullHost host;
  Terminal t(&host, options);
  vantrelle::SearchService search(t);
  vantrelle::SelectionService selection(t);
  int operations = 0;
  while (!in.done() && ++operations < 200) {
    const uint8_t op = in.byte();
    const SearchOptions searchOptions((op & 0x10) != 0, (op & 0x20) != 0, (op & 0x40) != 0);
    switch (op & 15) {
      case 0:
      case 1:
      case 2:
        t.feed(buildText(in, 1 + in.byte() % 64));
        search.invalidate();
        break;
      case 3:
        if (auto r = search.findNext(buildTerm(in), searchOptions)) checkResult(t, *r);
        break;
      case 4:
        if (auto r = search.findPrevious(buildTerm(in), searchOptions)) checkResult(t, *r);
        break;
      case 5:
        for (const SearchResult& r : search.findAll(buildTerm(in), searchOptions, 1 + in.byte() % 50))
          checkResult(t, r);
        break;
      case 6: {
        const std::string term = buildTerm(in);
        if (term.empty()) break;
        if (in.byte() & 1)
          searchStepUnderOutput(search, in, term, searchOptions, op & 0x80);
        else
          searchStepInSlices(search, term, searchOptions, op & 0x80);
        break;
      }
      case 7:
        t.resize(1 + in.byte() % 70, 1 + in.byte() % 14);
        search.invalidate();
        break;
      case 8: {
        const Position a = anyPosition(in);
        selection.setSelection(a, anyPosition(in));
        (void)selection.getSelectedText();
        break;
      }
      case 9:
        selection.selectWordOrExpression(anyPosition(in), *t.buffer);
        (void)selection.getSelectedText();
        break;
      case 10: {
        // Their callers keep the start inside the buffer; the backward search reads to the top.
        const Position any = anyPosition(in);
        const Position a(std::abs(any.col) % (t.cols + 1), std::abs(any.row) % t.buffer->lines().count());
        if (op & 0x80)
          selection.balancedSearchForward(a, *t.buffer);
        else
          selection.balancedSearchBackward(a, *t.buffer);
        (void)selection.getSelectedText();
        break;
      }
      case 11:
        if (op & 0x80)
          selection.selectAll();
        else
          selection.select(anyPosition(in).row);
        (void)selection.getSelectedText();
        break;
      case 12: {
        // A drag or shift-click that extends what is there, by word when the selection is by word.
        const Position a = anyPosition(in);
        if (op & 0x80)
          selection.dragExtend(a);
        else
          selection.shiftExtend(a);
        (void)selection.getSelectedText();
        break;
      }
      case 13: {
        const Position a = anyPosition(in);
        (void)t.getText(a, anyPosition(in));
        break;
      }
      case 14: {
        const Position a = anyPosition(in);
        (void)t.translateBufferLineToString(*t.buffer, a.row, a.col, op & 0x80 ? -1 : in.byte() % 90);
        break;
      }
      default:
        (void)t.getBufferAsData(vantrelle::BufferKind::active, op & 0x80 ? "UTF-8" : "ISO-8859-1");
        break;
    }
  }
  return 0;
}
