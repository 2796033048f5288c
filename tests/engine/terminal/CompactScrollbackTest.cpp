// Lines that scroll off the screen keep their cells only as far as their text. What they read,
// how they reflow and how they come back must not show it: a terminal whose lines scroll off is
// compared with one tall enough that the same lines never leave the screen.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Vantrelle/Text/SearchService.h"
#include "Vantrelle/Text/SelectionService.h"
#include "engine/support/HeapPeak.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

// Payloads are compared by presence only: each terminal numbers its links on its own.
bool sameCell(const CharData& x, const CharData& y) {
  return x.code == y.code && x.width == y.width && x.sameAttribute(y) && x.hasPayload() == y.hasPayload();
}

// Output that acts on the cursor's own row only, so it lands alike on any screen height.
std::string rowWriters() {
  std::string wideRow;  // to the last column
  for (int c = 0; c < 40; c++) wideRow += "\xe6\x97\xa5";
  const std::string writers[] = {
      "plain text",
      "\xe6\x97\xa5\xe6\x9c\xac wide",
      "\xe2\x9d\xa4\xef\xb8\x8f emoji",
      "e\xcc\x81 combining",
      "ab\x1b[41m\x1b[K\x1b[m coloured erase to the end",
      "text erased after\x1b[K",
      "long text cut short by an erase\x1b[10G\x1b[K",
      "\x1b[42merased in colour\x1b[K\x1b[m",
      "\x1b[2K",
      "\x1b[44mblue blank after a colour change\x1b[m",
      "\x1b[30Gfar in",
      "\x1b[80GZ",
      "a\x1b[20b",
      "\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\ after",
      std::string(130, 'w'),  // wraps
      "\x1b[4hinsert\x1b[1G>\x1b[4l",
      "\x1b[1;34m" + std::string(80, 'b') + "\x1b[m",  // to the last column, in one rendition
      wideRow,
      "",
  };
  std::string stream;
  for (int round = 0; round < 3; round++) {
    for (const std::string& writer : writers) stream += writer + "\r\n";
  }
  return stream;
}

void expectSameLines(Terminal& scrolled, Terminal& tall, int lines, const std::string& when) {
  auto& a = scrolled.buffer->lines();
  auto& b = tall.buffer->lines();
  ASSERT_LE(lines, a.count()) << when;
  ASSERT_LE(lines, b.count()) << when;
  for (int i = 0; i < lines; i++) {
    ASSERT_EQ(a[i]->count(), b[i]->count()) << when << ", line " << i;
    EXPECT_EQ(a[i]->isWrapped(), b[i]->isWrapped()) << when << ", line " << i;
    EXPECT_EQ(a[i]->translateToString(true), b[i]->translateToString(true)) << when << ", line " << i;
    EXPECT_EQ(a[i]->getTrimmedLength(), b[i]->getTrimmedLength()) << when << ", line " << i;
    EXPECT_EQ(a[i]->hasAnyContent(), b[i]->hasAnyContent()) << when << ", line " << i;
    for (int c = 0; c < a[i]->count(); c++) {
      ASSERT_TRUE(sameCell((*a[i])[c], (*b[i])[c])) << when << ", line " << i << ", column " << c;
    }
  }
}

TEST(CompactScrollback, LinesScrolledOffReadAsOnAScreenTheyNeverLeft) {
  TestHost hostA, hostB;
  Terminal scrolled(&hostA, sized(80, 8, 1000));
  Terminal tall(&hostB, sized(80, 120, 1000));
  const std::string stream = rowWriters();
  for (Terminal* t : {&scrolled, &tall}) {
    t->feed(stream);
    restOutput(*t);
  }
  const int written = scrolled.buffer->yBase + scrolled.buffer->y;
  ASSERT_GT(scrolled.buffer->yBase, 30);
  ASSERT_EQ(tall.buffer->yBase, 0);

  // Short lines keep no more cells than their text, and reading them keeps them so.
  auto& lines = scrolled.buffer->lines();
  int compact = 0;
  for (int i = 0; i < scrolled.buffer->yBase; i++) compact += lines[i]->isCompact();
  EXPECT_GT(compact, scrolled.buffer->yBase / 2);
  EXPECT_LE(lines[0]->capacity(), 10);  // "plain text"
  EXPECT_LE(lines[5]->capacity(), 17);  // "text erased after", erased to the end
  EXPECT_LE(lines[6]->capacity(), 9);   // cut short by the erase
  expectSameLines(scrolled, tall, written, "as fed");
  for (int i = 0; i < scrolled.buffer->yBase; i++) compact -= lines[i]->isCompact();
  EXPECT_EQ(compact, 0) << "reading widened lines";

  // Lines brought back onto the screen take writes anywhere, as any row does.
  for (Terminal* t : {&scrolled, &tall}) t->resize(80, 120);
  ASSERT_EQ(scrolled.buffer->yBase, 0);
  for (Terminal* t : {&scrolled, &tall}) {
    t->feed("\x1b[1;80HR\x1b[2;1H\x1b[2@\x1b[3;5H\x1b[K\x1b[4;70H\x1b[45m\x1b[1K\x1b[m\x1b[1;40Hmid");
    t->feed("\x1b[14;3Htext from inside a short line on past its end\x1b[15;2H\xe6\x97\xa5\xe6\x9c\xac and on");
    t->feed("\x1b[18;80HX\x1b[18;2H\x1b[3P\x1b[19;4Hab\x1b[19;70H\x1b[K");  // into rows written to their end
  }
  expectSameLines(scrolled, tall, written, "written again");
}

TEST(CompactScrollback, ReflowMatchesLinesThatNeverLeftTheScreen) {
  for (const int cols : {30, 133}) {
    TestHost hostA, hostB;
    Terminal scrolled(&hostA, sized(80, 8, 1000));
    Terminal tall(&hostB, sized(80, 120, 1000));
    const std::string stream = rowWriters();
    for (Terminal* t : {&scrolled, &tall}) t->feed(stream);
    // Bring every line onto the screen first, so both reflow the same rows.
    for (Terminal* t : {&scrolled, &tall}) t->resize(80, 120);
    for (Terminal* t : {&scrolled, &tall}) t->resize(cols, 120);
    const int written = tall.buffer->yBase + tall.buffer->y;
    EXPECT_EQ(scrolled.buffer->yBase + scrolled.buffer->y, written) << cols;
    expectSameLines(scrolled, tall, written, "reflowed to " + std::to_string(cols));
  }
}

// Resizing keeps the scrollback's short lines compact, as a window edge dragged over a long
// scrollback must not give every line a block of full cells, and they still read as the lines
// of a screen that kept them whole.
TEST(CompactScrollback, ResizesLeaveShortLinesCompact) {
  TestHost hostA, hostB;
  Terminal scrolled(&hostA, sized(80, 8, 1000));
  Terminal tall(&hostB, sized(80, 120, 1000));
  const std::string stream = rowWriters();
  for (Terminal* t : {&scrolled, &tall}) {
    t->feed(stream);
    restOutput(*t);
  }
  auto& lines = scrolled.buffer->lines();
  const BufferLine* shortLine = lines[0].get();  // "plain text"
  ASSERT_TRUE(shortLine->isCompact());
  for (const int cols : {79, 60, 100, 81, 80}) {
    for (Terminal* t : {&scrolled, &tall}) t->resize(cols, t->rows);
    EXPECT_TRUE(shortLine->isCompact()) << cols;
    EXPECT_LE(shortLine->capacity(), 10) << cols;
  }
  ASSERT_EQ(lines[0].get(), shortLine);
  for (Terminal* t : {&scrolled, &tall}) t->resize(80, 120);
  expectSameLines(scrolled, tall, tall.buffer->yBase + tall.buffer->y, "after the resizes");
}

// A full scrollback turns its oldest compact line into the new bottom row: blank in the erase
// colour across every column, whatever text it held, with the newer lines intact.
TEST(CompactScrollback, TheOldestLineComesBackBlankInTheEraseColour) {
  TestHost host;
  Terminal t(&host, sized(60, 4, 6));
  for (int i = 0; i < 40; i++) t.feed("line " + std::to_string(i) + (i % 3 ? "" : " longer text") + "\r\n");
  ASSERT_TRUE(t.buffer->lines().isFull());
  t.feed("\x1b[46m\n\n\x1b[m");
  auto& lines = t.buffer->lines();
  const int last = lines.count() - 1;
  for (int row : {last, last - 1}) {
    for (int c = 0; c < 60; c++) {
      const CharData& cell = (*lines[row])[c];
      ASSERT_EQ(cell.code, 0) << "row " << row << ", column " << c;
      ASSERT_EQ(cell.attribute().bg, Attribute::Color::ansi256(6)) << "row " << row << ", column " << c;
    }
  }
  // Newest first: the rows above the two blank ones, back through the scrollback.
  for (int back = 0; back < 7; back++) {
    const int i = 39 - back;
    EXPECT_EQ(lines[last - 3 - back]->translateToString(true),
              "line " + std::to_string(i) + (i % 3 ? "" : " longer text"))
        << back;
  }
}

// A flood into a scrollback small enough to keep whole packs no row before the output rests,
// however short the reads it comes in (a pseudo-terminal hands `cat`'s output over 4,095 bytes at
// a time, fewer rows than the screen has) and whatever short output follows it, and packs the rows
// it keeps once the host says the output rests; a longer scrollback, whose rows outlive the flood,
// packs each row as it scrolls off.
TEST(CompactScrollback, AFloodsRowsWaitWholeInASmallScrollbackUntilTheOutputRests) {
  struct Case {
    int cols, rows, scrollback, length;
    size_t read;
    bool packedInTheFlood;
  };
  for (const Case c : {Case{80, 24, 500, 20, 1 << 20, false}, Case{200, 50, 500, 200, 4095, false},
                       Case{200, 50, 500, 199, 4095, false}, Case{80, 24, 100'000, 20, 4095, true}}) {
    const std::string what = std::to_string(c.cols) + "x" + std::to_string(c.rows) + ", scrollback " +
                             std::to_string(c.scrollback) + ", reads of " + std::to_string(c.read);
    std::string flood;
    for (int i = 0; i < 1000; i++) {
      const std::string text = "line " + std::to_string(i);
      flood += text + std::string(size_t(c.length) - text.size(), '.') + "\r\n";
    }
    TestHost host;
    Terminal t(&host, sized(c.cols, c.rows, c.scrollback));
    feedInSteps(t, flood, c.read);
    auto& lines = t.buffer->lines();
    const BufferLine& newest = *lines[t.buffer->yBase - 1];
    const std::string newestText = newest.translateToString(true);
    ASSERT_TRUE(newestText.starts_with("line " + std::to_string(1000 - c.rows) + ".")) << what << ": " << newestText;
    for (const char* shortOutput : {"", "$ ", "ls\r\n"}) {
      t.feed(shortOutput);
      EXPECT_EQ(newest.isCompact(), c.packedInTheFlood) << what << ", after \"" << shortOutput << "\"";
      EXPECT_EQ(lines.textRunSlabCount() > 0, c.packedInTheFlood) << what << ", after \"" << shortOutput << "\"";
    }
    restOutput(t);
    EXPECT_TRUE(newest.isCompact()) << what;
    EXPECT_TRUE(lines[0]->isCompact()) << what;
    EXPECT_EQ(newest.translateToString(true), newestText) << what;
  }
}

// What readers see of the scrollback is the same whether its rows went into runs as soon as they
// could or waited whole for the output to rest: cells, text, matches and selections, and so are
// the rows a scrollback change and resizes make of them.
TEST(CompactScrollback, ReadersSeeTheSameRowsWhetherTheOutputRestedOrNot) {
  TestHost hostA, hostB;
  Terminal rested(&hostA, sized(80, 8, 100));
  Terminal flooded(&hostB, sized(80, 8, 100));
  SearchService restedSearch(rested), floodedSearch(flooded);
  SelectionService restedSelection(rested), floodedSelection(flooded);
  std::string stream;
  for (int round = 0; round < 4; round++) stream += rowWriters();
  for (size_t at = 0; at < stream.size(); at += 37) {
    rested.feed(std::string_view(stream).substr(at, 37));
    restOutput(rested);
    flooded.feed(std::string_view(stream).substr(at, 37));
  }
  auto& restedLines = rested.buffer->lines();
  int compact = 0, waiting = 0;
  for (int i = 0; i < rested.buffer->yBase; i++) {
    compact += restedLines[i]->isCompact();
    waiting += flooded.buffer->lines()[i]->isCompact();
  }
  ASSERT_GT(compact, 50);
  ASSERT_EQ(waiting, 0);

  auto expectSameReads = [&](const std::string& when) {
    ASSERT_EQ(restedLines.count(), flooded.buffer->lines().count()) << when;
    expectSameLines(rested, flooded, restedLines.count(), when);
    EXPECT_EQ(rested.getBufferAsData(BufferKind::normal), flooded.getBufferAsData(BufferKind::normal)) << when;
    restedSearch.invalidate();
    floodedSearch.invalidate();
    for (const auto& [term, regex] :
         {std::pair{"wide", false}, {"\xe6\x97\xa5\xe6\x9c\xac", false}, {"b+ ?$", true}, {"e\xcc\x81", false}}) {
      const SearchOptions options(false, regex, false);
      EXPECT_EQ(restedSearch.findAll(term, options, 1000), floodedSearch.findAll(term, options, 1000))
          << when << ", " << term;
    }
    restedSelection.selectAll();
    floodedSelection.selectAll();
    EXPECT_EQ(restedSelection.getSelectedText(), floodedSelection.getSelectedText()) << when;
  };
  expectSameReads("as fed");
  for (Terminal* t : {&rested, &flooded}) t->changeScrollback(60);
  expectSameReads("a shorter scrollback");
  for (const int cols : {30, 133, 80}) {
    for (Terminal* t : {&rested, &flooded}) t->resize(cols, 8);
    expectSameReads("reflowed to " + std::to_string(cols));
  }
}

// The heap a scrollback of `rows` lines takes for the output `lines` gives for that many lines.
int64_t scrollbackBytes(int cols, int rows, const std::function<std::string(int)>& lines) {
  const std::string output = lines(rows + 10);
  const int64_t before = heapBytesHeld();
  TestHost host;
  Terminal t(&host, sized(cols, 10, rows));
  t.feed(output);
  return heapBytesHeld() - before;
}

// A row written to its last column keeps its text as a row one character short of it does, in
// whichever way it reached that column: every row of a long wrapped line but its last does, and so
// does each line of a full-width table. Such a row kept its whole block of cells, seven times the
// memory of a packed row at 80 columns and ten at 200.
TEST(CompactScrollback, ARowWrittenToItsLastColumnTakesNoMoreThanAShorterOne) {
  const std::string letters = "the quick brown fox jumps over a lazy dog 0123456789 ";
  auto text = [&](int length) {
    std::string s;
    while (int(s.size()) < length) s += letters[s.size() % letters.size()];
    return s;
  };
  auto repeat = [](const std::string& line, int count) {
    std::string s;
    for (int i = 0; i < count; i++) s += line;
    return s;
  };
  struct Writer {
    const char* name;
    // The output of `count` rows, each written to the last of `cols` columns or one short of it.
    std::function<std::string(int cols, bool full, int count)> rows;
  };
  const Writer writers[] = {
      {"plain text", [&](int cols, bool full, int count) { return repeat(text(cols - !full) + "\r\n", count); }},
      {"text in one rendition",
       [&](int cols, bool full, int count) {
         return repeat("\x1b[1;38;5;208m" + text(cols - !full) + "\x1b[m\r\n", count);
       }},
      {"one character placed in the last column",
       [&](int cols, bool full, int count) {
         return repeat("\x1b[" + std::to_string(cols - !full) + "GZ\r\n", count);
       }},
      {"wide characters",
       [&](int cols, bool full, int count) {
         std::string row;
         for (int c = 0; c < cols / 2 - !full; c++) row += "\xe6\x97\xa5";
         return repeat(row + "\r\n", count);
       }},
      {"a line wrapped over every row",
       [&](int cols, bool full, int count) {
         // A wrapped row is never short of the width: the shorter rows are lines of their own.
         return full ? text(cols * count) : repeat(text(cols - 1) + "\r\n", count);
       }},
  };
  for (const int cols : {80, 200}) {
    for (const Writer& writer : writers) {
      auto bytes = [&](bool full) {
        return scrollbackBytes(cols, 2000, [&](int count) { return writer.rows(cols, full, count); });
      };
      const int64_t full = bytes(true), shorter = bytes(false);
      EXPECT_LE(double(full), 1.3 * double(shorter))
          << writer.name << " at " << cols << " columns: " << full << " bytes against " << shorter;
    }
  }
}

// A row laid out at its full width in a run by a reflow comes back from the top of a full ring as
// any row of the scrollback does, its run given up: reused in place, it kept a block of the full
// width in the runs for good, and every short line written on it later took the whole width.
TEST(CompactScrollback, RowsAReflowLeftInRunsComeBackAsNewRows) {
  TestHost host;
  Terminal t(&host, sized(80, 10, 300));
  // Words in renditions of their own, so the rows do not pack, over three rows each: joined two
  // rows at a time at 120 columns.
  std::string line;
  for (int word = 0; word < 20; word++)
    line += "\x1b[3" + std::to_string(word % 8) + "mword" + char('a' + word) + "\x1b[m ";
  line += std::string(240 - 20 * 6, '.') + "\r\n";
  for (int i = 0; i < 100; i++) t.feed(line);
  t.resize(120, 10);
  for (int i = 0; i < 400; i++) t.feed("short\r\n");
  restOutput(t);
  auto& lines = t.buffer->lines();
  ASSERT_TRUE(lines.isFull());
  int whole = 0;
  for (int i = 0; i < t.buffer->yBase; i++) whole += lines[i]->capacity() > 5;
  EXPECT_EQ(whole, 0) << "rows of five characters with cells for more";
}

}  // namespace
}  // namespace vantrelle
