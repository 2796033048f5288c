#pragma once
// Two terminals of one size, one with a scrollback that a script soon fills and one with room to
// spare, fed the same script: writes, carriage returns and line feeds, cursor moves, combining
// marks, hyperlinks, Kitty placements (at the cursor, relative to another, virtual with their
// placeholder characters) and deletions of every kind, edits, scrolling regions, the other screen
// and resizes. Once a ring is full every line that comes in moves the others up an index, so
// whatever keeps a row by its index would find other text there; the two terminals must agree,
// cell by cell, on everything both still hold: the screen, the rows a resize left below it and as
// much of the history as the smaller one keeps (text, renditions, links, image cells and where
// their placements lie), and on the cursor, the placements' records and the replies. What the
// smaller ring cannot hold is left out, each case by name: placements whose every cell it dropped
// while the roomy one still holds some above the rows both hold, those placed relative to one
// that lies up there, and the answer to placing one relative to such a parent.
#include <algorithm>
#include <any>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "Vantrelle/Buffer/TinyAtom.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Terminal/Terminal.h"
#include "fuzz/FuzzReader.h"

namespace parity {

using vantrelle::Buffer;
using vantrelle::BufferLine;
using vantrelle::CharData;
using vantrelle::Terminal;

// Shows placements as the terminal view does: the placement's record first, then one cell a row
// at the cursor, with a line feed after each (which scrolls at the bottom), the cursor going back
// to the image's first column.
class ViewLikeHost : public vantrelle::TerminalDelegate {
 public:
  struct Cell : vantrelle::KittyPlacementImage {
    int column = 0;
    int pixelWidth() const override { return 10; }
    int pixelHeight() const override { return 20; }
    int col() const override { return column; }
    void setCol(int c) override { column = c; }
  };

  std::string sent;

  void send(Terminal&, std::span<const uint8_t> data) override {
    if (sent.size() < (1u << 16)) sent.append(data.begin(), data.end());
  }
  std::optional<vantrelle::CellSize> cellSizeInPixels(Terminal&) override { return vantrelle::CellSize{10, 20}; }
  void createImageFromBitmap(Terminal& terminal, std::vector<uint8_t>&, int width, int height) override {
    place(terminal, width, height);
  }

 private:
  static int64_t cells(const vantrelle::ImageSizeRequest& request, int pixels, int cell) {
    if (request.kind == vantrelle::ImageSizeRequest::Kind::cells) return std::clamp<int64_t>(request.value, 1, 12);
    return std::max(1, (pixels + cell - 1) / cell);
  }

  void place(Terminal& terminal, int width, int height) {
    if (!terminal.kittyPlacementContext) return;
    const auto context = *terminal.kittyPlacementContext;
    Buffer& buffer = *terminal.buffer;
    const int64_t cols = cells(context.widthRequest, width, 10);
    const int64_t rows = cells(context.heightRequest, height, 20);
    const int startX = buffer.x;
    const int64_t startRow = int64_t(buffer.y) + buffer.yBase;
    vantrelle::recordKittyPlacement(terminal, context, startX, startRow, cols, rows);
    for (int64_t i = 0; i < rows; ++i) {
      auto cell = std::make_shared<Cell>();
      cell->column = startX;
      cell->kittyIsKitty = true;
      cell->kittyImageId = context.imageId;
      cell->kittyImageNumber = context.imageNumber;
      cell->kittyPlacementId = context.placementId;
      cell->kittyZIndex = context.zIndex;
      cell->kittyCol = startX;
      cell->kittyRow = startRow;
      cell->kittyCols = cols;
      cell->kittyRows = rows;
      vantrelle::attachImage(terminal, buffer, cell, buffer.y + buffer.yBase);
      terminal.cmdLineFeedBasic();
      buffer.x = startX;
    }
  }
};

struct Side {
  explicit Side(vantrelle::TerminalOptions options) : terminal(std::make_unique<Terminal>(&host, options)) {}
  ViewLikeHost host;
  std::unique_ptr<Terminal> terminal;
};

// Characters of every kind the printer joins or widens: marks, joiners, selectors, wide ones.
constexpr char32_t kScalars[] = {U'a',    U'Z',   0xE9,   0x416,  0x4E2D, 0xFF21, 0x1F600, 0x2764,
                                 0x300,   0x301,  0x20E3, 0x200D, 0xFE0F, 0xFE0E, 0x1F3FD, 0x1F1FA,
                                 0x1F1F8, 0x1100, 0x1161, 0x0E31, 0x3099, 0x2603, 0x23,    0x10EEEE};
// Marks a script writes right after moving the cursor: they join the character printed last.
constexpr char32_t kMarks[] = {0x301, 0x300, 0x20E3, 0xFE0F, 0xFE0E, 0x1F3FD, 0x200D, 0x0305, 0x030D};

constexpr const char* kEdits[] = {"\x1b[2L",
                                  "\x1b[M",
                                  "\x1b[3;5r",
                                  "\x1b[r",
                                  "\x1bM",
                                  "\x1b[K",
                                  "\x1b[1J",
                                  "\x1b[J",
                                  "\x1b[2J",
                                  "\x1b[3J",
                                  "\x1b[S",
                                  "\x1b[2T",
                                  "\x1b[?1049h",
                                  "\x1b[?1049l",
                                  "\x1b[?7l",
                                  "\x1b[?7h",
                                  "\x1b[4h",
                                  "\x1b[4l",
                                  "\x1b[2@",
                                  "\x1b[P",
                                  "\x1b[1;31m",
                                  "\x1b[m",
                                  "\x1b[4;44m",
                                  "\x1b[?69h\x1b[2;6s",
                                  "\x1b[?69l",
                                  "\x1b[1;2r",
                                  "\x1b"
                                  "7",
                                  "\x1b"
                                  "8",
                                  "\x1b[?2004h",
                                  "\x1b[?2004l",
                                  "\t",
                                  "\x1b[3g"};

constexpr const char* kDeletes[] = {"d=a", "d=A", "d=c", "d=C", "d=p", "d=P", "d=q", "d=Q", "d=x", "d=X",
                                    "d=y", "d=Y", "d=z", "d=Z", "d=i", "d=I", "d=n", "d=r", "d=R", "d=N"};

class ScrollbackParity {
 public:
  // `small` lines of scrollback against a ring with room for everything a script writes. A screen
  // that grows, or widens to join wrapped rows, brings rows down from the history: a smaller ring
  // of a few screens' worth holds what the screen then shows; a tiny one (fewer than 8 lines) is
  // compared until it has not.
  ScrollbackParity(int cols, int rows, int small)
      : full(options(cols, rows, small)), roomy(options(cols, rows, 1 << 20)), tiny(small < 8), noHistory(small == 0) {}

  // Runs the script the input spells; the first difference, or none.
  std::optional<std::string> run(fuzzing::Reader& in, int steps = 400) {
    for (int step = 0; step < steps && !in.done(); ++step) {
      const std::string what = takeStep(in);
      if (midway) return "after step " + std::to_string(step) + " (" + what + "), at the new width: " + *midway;
      if (diverged) return std::nullopt;
      noteDropped();
      // The history changes only where a step reaches it (images, deletions, resizes, erasing
      // the saved lines), and a difference there stays: the screen is compared after every step,
      // all both hold after such steps and every few others.
      if (auto found = difference(wholeNext || step % 8 == 0)) {
        return "after step " + std::to_string(step) + " (" + printableBytes(what) + "): " + *found;
      }
    }
    if (auto found = difference(true)) return "at the end: " + *found;
    return std::nullopt;
  }

  // One step of the script, fed to both; what it fed, for the report.
  std::string step(fuzzing::Reader& in);
  // The first difference between the two, or none.
  std::optional<std::string> compare();
  static std::string printable(const std::string& bytes);

  Side full, roomy;

 private:
  static vantrelle::TerminalOptions options(int cols, int rows, int scrollback) {
    vantrelle::TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    options.scrollback = scrollback;
    options.kittyImageCacheLimitBytes = int64_t(1) << 30;
    return options;
  }

  // A wider or taller screen shows rows of the history again, which a tiny scrollback may not
  // hold. A line whose first rows it dropped is laid out again from what is left of it, which
  // splits its rows elsewhere; and the text before a line editor's prompt stays on the prompt's
  // line where moving it to a line of its own would drop it at once. Once the screen may show
  // any of these, the two part for good, and the script ends there.
  void resize(int cols, int rows) {
    Terminal& a = *full.terminal;
    if (cols == a.cols && rows == a.rows) return;
    const bool widerOrTaller = cols > a.cols || rows > a.rows;
    Buffer& kept = *a.normalBuffer;
    const int historyA = kept.yBase, historyB = roomy.terminal->normalBuffer->yBase;
    auto headAtTop = [&kept](int row) {
      if (row < 0 || row >= kept.lines().count()) return false;
      while (row > 0 && kept.lines()[row]->isWrapped()) --row;
      return row == 0;
    };
    auto headlessOnScreen = [&] {
      return kept.lines().count() > 0 && kept.lines()[0]->isWrapped() && headAtTop(kept.yBase);
    };
    // A screen that never scrolled into the history takes the rows a narrowing adds by moving
    // the cursor down over blank rows at its bottom, where one that did moves down itself; so
    // does one whose last line of history goes for the line the text before a prompt moves to.
    const int historyLeft = a.bracketedPasteMode && kept.lines().isFull() ? historyA - 1 : historyA;
    const bool unscrolled = historyLeft <= 0 && historyB > 0 && kept.y < a.rows - 1;
    // A line editor's text goes aside on a change of the rows alone as well.
    const bool before = (cols != a.cols && (unscrolled || headlessOnScreen())) || (a.bracketedPasteMode && noHistory) ||
                        (a.bracketedPasteMode && kept.lines().isFull() && headAtTop(kept.yBase + kept.y));
    for (Side* side : {&full, &roomy}) side->terminal->resize(cols, rows);
    if (before || headlessOnScreen() || (widerOrTaller && historyA < historyB && kept.yBase == 0)) diverged = true;
  }

  void feed(const std::string& bytes) {
    for (Side* side : {&full, &roomy}) side->terminal->feed(std::string_view(bytes));
  }

  static std::string printableBytes(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
      if (c == 0x1b) {
        out += "\\e";
      } else if (c < 0x20 || c >= 0x7f) {
        const char* hex = "0123456789abcdef";
        out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
      } else {
        out += char(c);
      }
    }
    return out.size() > 200 ? out.substr(0, 200) + "..." : out;
  }

  static std::string kitty(const std::string& keys) { return "\x1b_G" + keys + "\x1b\\"; }
  static std::string pixel() { return "gICAgA=="; }  // one RGBA pixel

  std::string takeStep(fuzzing::Reader& in) {
    const uint8_t token = in.byte();
    const int kind = token % 16;
    wholeNext = (kind >= 6 && kind <= 13) || kind == 15;
    std::string bytes;
    switch (kind) {
      case 0:
      case 1: {  // text, often long enough to wrap
        const int length = in.byte() % 40 + 1;
        for (int i = 0; i < length; ++i) bytes += char('A' + (i + token) % 26);
        break;
      }
      case 2:
        for (int i = in.byte() % 4 + 1; i > 0; --i)
          fuzzing::appendUtf8(bytes, kScalars[in.byte() % std::size(kScalars)]);
        break;
      case 3:
        bytes = (token & 0x10) ? "\r\n" : (token & 0x20) ? "\n" : "\r";
        break;
      case 4: {  // lines enough to fill the smaller ring
        const int lines = in.byte() % 64 + 1;
        for (int i = 0; i < lines; ++i) bytes += "l" + std::to_string(i) + "\r\n";
        break;
      }
      case 5: {  // a cursor move, then perhaps a mark for the character printed last
        const uint8_t how = in.byte();
        const char finals[] = {'H', 'A', 'B', 'C', 'D', 'G', 'd'};
        const char final = finals[how % std::size(finals)];
        bytes = "\x1b[" + std::to_string(in.byte() % 10 + 1);
        if (final == 'H') bytes += ";" + std::to_string(in.byte() % 30 + 1);
        bytes += final;
        if (how & 0x80) fuzzing::appendUtf8(bytes, kMarks[in.byte() % std::size(kMarks)]);
        break;
      }
      case 6:
        if (token & 0x10) {
          bytes = "\x1b]8;;\x1b\\";
        } else {
          const std::string n = std::to_string(links++);
          bytes = "\x1b]8;id=" + n + ";https://x/" + n + "\x1b\\";
        }
        break;
      case 7: {  // an image at the cursor, perhaps as a placement with an id of its own
        const int id = in.byte() % 4 + 1;
        std::string keys = "a=T,f=32,s=1,v=1,q=2,i=" + std::to_string(id);
        const uint8_t shape = in.byte();
        if (shape & 1) keys += ",p=" + std::to_string(newPlacement(id));
        keys += ",c=" + std::to_string(shape >> 1 & 3) + ",r=" + std::to_string(shape >> 3 & 3);
        if (shape & 0x80) keys += ",C=1";
        if (in.byte() & 1) keys += ",z=" + std::to_string(in.byte() % 3 - 1);
        bytes = kitty(keys + ";" + pixel());
        break;
      }
      case 8: {  // a placement relative to an earlier one, which may lie in the history
        const int id = in.byte() % 4 + 1;
        const uint8_t shape = in.byte();
        const vantrelle::KittyPlacementKey parent = pick(in);
        // A parent that lies above what the smaller ring holds may lie elsewhere in the roomy
        // one, whose rows in between a reflow moved, or whose cells there a torn placement's
        // place comes from: the new placement may fit on the screen in one and not the other.
        const bool apart = detached(*full.terminal, parent) || detached(*roomy.terminal, parent);
        const size_t sentFull = full.host.sent.size(), sentRoomy = roomy.host.sent.size();
        bytes = kitty("a=t,f=32,s=1,v=1,q=2,i=" + std::to_string(id) + ";" + pixel());
        bytes += kitty("a=p,q=0,i=" + std::to_string(id) + ",p=" + std::to_string(newPlacement(id)) +
                       ",P=" + std::to_string(parent.imageId) + ",Q=" + std::to_string(parent.placementId) +
                       ",H=" + std::to_string(int(shape >> 2 & 7) - 3) + ",V=" + std::to_string(int(shape >> 5) - 3) +
                       ",r=" + std::to_string(in.byte() % 3 + 1));
        feed(bytes);
        // Placed in one and refused in the other, it may scroll one screen alone: the two part
        // for good, and the script ends there.
        if (apart && full.host.sent.compare(sentFull, std::string::npos, roomy.host.sent, sentRoomy) != 0)
          diverged = true;
        return bytes;
      }
      case 9: {  // a virtual placement and the placeholders that show it
        const int id = in.byte() % 4 + 1;
        bytes = kitty("a=T,f=32,s=1,v=1,q=2,U=1,c=3,r=2,i=" + std::to_string(id) +
                      ",p=" + std::to_string(nextPlacement++) + ";" + pixel());
        bytes += "\x1b[38;5;" + std::to_string(id) + "m";
        for (int i = in.byte() % 4; i > 0; --i) {
          fuzzing::appendUtf8(bytes, 0x10EEEE);
          fuzzing::appendUtf8(bytes, 0x305 + (i & 1) * 8);
        }
        bytes += "\x1b[39m";
        break;
      }
      case 10: {
        const uint8_t which = in.byte();
        std::string keys = std::string("a=d,q=2,") + kDeletes[which % std::size(kDeletes)];
        keys += ",x=" + std::to_string(in.byte() % 12) + ",y=" + std::to_string(in.byte() % 10) +
                ",z=" + std::to_string(in.byte() % 3 - 1) + ",i=" + std::to_string(in.byte() % 4 + 1);
        if (which & 0x80) keys += ",p=" + std::to_string(pick(in).placementId);
        if (which & 0x40) keys += ",I=" + std::to_string(in.byte() % 3);
        bytes = kitty(keys);
        break;
      }
      case 11:
      case 12:
        bytes = kEdits[in.byte() % std::size(kEdits)];
        break;
      case 13: {
        const int cols = in.byte() % 24 + 10, rows = in.byte() % 8 + 1;
        if (tiny) {
          // The width first, compared before the height changes, so a narrowing is checked on
          // its own, whatever height comes with it.
          resize(cols, full.terminal->rows);
          if (!diverged && !midway) midway = difference(true);
        }
        resize(cols, rows);
        return "resize " + std::to_string(cols) + "x" + std::to_string(rows);
      }
      case 14:
        bytes = "\x1b[" + std::to_string(in.byte() % 10 + 1) + ";" + std::to_string(in.byte() % 30 + 1) + "H";
        break;
      default:
        bytes = in.take(in.byte() % 8);
        break;
    }
    feed(bytes);
    return bytes;
  }

  using KeySet = vantrelle::KittyPlacementKeySet;
  using Positions = vantrelle::KittyPlacementPositions;

  static std::string uriOf(const CharData& cell) {
    const std::any* payload = cell.payload.target();
    const std::string* uri = payload ? std::any_cast<std::string>(payload) : nullptr;
    return uri ? *uri : "?";
  }

  // Whether two cells show the same: character, width, rendition and link.
  static bool sameCell(Terminal& ta, const CharData& a, Terminal& tb, const CharData& b) {
    // The rendition's words, compared whole: underline colours index one table the process shares.
    CharData renditionA = a, renditionB = b;
    renditionA.code = renditionB.code = 0;
    renditionA.payload = renditionB.payload = {};
    if (std::memcmp(&renditionA, &renditionB, sizeof(CharData)) != 0) return false;
    if (a.code != b.code && ta.scalars(a.code) != tb.scalars(b.code)) return false;
    const bool linkA = a.payload.code != 0, linkB = b.payload.code != 0;
    return linkA == linkB && (!linkA || uriOf(a) == uriOf(b));
  }

  static std::string describeCell(Terminal& t, const CharData& cell, int col) {
    std::ostringstream text;
    text << col << ": '" << printableBytes(t.character(cell.code)) << "' w" << int(cell.width) << " a"
         << std::hash<vantrelle::Attribute>()(cell.attribute());
    if (cell.payload.code != 0) text << " link " << uriOf(cell);
    return text.str();
  }

  // The image cells of a line, sorted, with their placements' rows counted from the screen's top.
  static std::vector<std::string> imagesOn(Terminal& t, int index, const KeySet& skipped) {
    std::vector<std::string> images;
    Buffer& b = *t.buffer;
    const BufferLine& line = *b.lines()[index];
    if (!line.images()) return images;
    for (const auto& image : *line.images()) {
      auto* kitty = dynamic_cast<const vantrelle::KittyPlacementImage*>(image.get());
      if (!kitty || (kitty->kittyKey() && skipped.contains(*kitty->kittyKey()))) continue;
      std::ostringstream text;
      text << "image " << kitty->kittyImageId.value_or(0) << "/" << kitty->kittyPlacementId.value_or(0) << " at "
           << image->col() << "," << kitty->kittyTop(index) - b.yBase << " " << kitty->kittyCols << "x"
           << kitty->kittyRows << " z" << kitty->kittyZIndex << " row " << kitty->kittyRowInPlacement;
      images.push_back(text.str());
    }
    std::sort(images.begin(), images.end());
    return images;
  }

  std::optional<std::string> compareRow(int row, const KeySet& skipped) {
    Terminal& a = *full.terminal;
    Terminal& b = *roomy.terminal;
    const int indexA = a.buffer->yBase + row, indexB = b.buffer->yBase + row;
    const BufferLine& lineA = *a.buffer->lines()[indexA];
    const BufferLine& lineB = *b.buffer->lines()[indexB];
    std::ostringstream where;
    where << "row " << row << ": ";
    if (lineA.isWrapped() != lineB.isWrapped()) return where.str() + "wrapped differently";
    for (int col = 0; col < a.cols; ++col) {
      const CharData cellA = lineA[col], cellB = lineB[col];
      if (sameCell(a, cellA, b, cellB)) continue;
      where << describeCell(a, cellA, col) << " against " << describeCell(b, cellB, col);
      return where.str();
    }
    if (!lineA.images() && !lineB.images()) return std::nullopt;
    auto imagesA = imagesOn(a, indexA, skipped), imagesB = imagesOn(b, indexB, skipped);
    if (imagesA == imagesB) return std::nullopt;
    auto [atA, atB] = std::mismatch(imagesA.begin(), imagesA.end(), imagesB.begin(), imagesB.end());
    where << (atA == imagesA.end() ? "(none)" : *atA) << " against " << (atB == imagesB.end() ? "(none)" : *atB);
    return where.str();
  }

  // Where each placement of a screen is: where its cells are, as every lookup takes it, or where
  // its record says for one without cells.
  static std::pair<int64_t, int64_t> placeOf(Terminal& t, const vantrelle::KittyPlacementRecord& record,
                                             const Positions& live) {
    if (auto found = live.find(record.key()); found != live.end()) return found->second;
    return {vantrelle::kittyRecordRow(t, record), record.col};
  }

  // Placements made relative to one that lies above what the smaller ring holds: a reflow of the
  // rows in between, which only the roomy ring holds, moves that one apart from the screen there
  // and not in the smaller ring, and they follow it. Left out, with their cells.
  static void addDetached(Terminal& t, int64_t firstHeld, KeySet& detached) {
    const auto& records = t.kittyGraphicsState.placementsByKey;
    const Positions live[] = {vantrelle::collectKittyPlacementPositions(t, *t.normalBuffer),
                              vantrelle::collectKittyPlacementPositions(t, *t.altBuffer)};
    for (const auto& [key, record] : records) {
      const Buffer& own = record.isAlternateBuffer ? *t.altBuffer : *t.normalBuffer;
      if (record.isRelative() &&
          placeOf(t, record, live[record.isAlternateBuffer ? 1 : 0]).first - own.yBase < firstHeld) {
        detached.insert(key);
        continue;
      }
      const vantrelle::KittyPlacementRecord* step = &record;
      for (int depth = 0; step->isRelative() && depth < 64; ++depth) {
        auto parent = records.find({*step->parentImageId, *step->parentPlacementId});
        if (parent == records.end()) break;
        step = &parent->second;
        const Buffer& b = step->isAlternateBuffer ? *t.altBuffer : *t.normalBuffer;
        if (placeOf(t, *step, live[step->isAlternateBuffer ? 1 : 0]).first - b.yBase < firstHeld) {
          detached.insert(key);
          break;
        }
      }
    }
  }

  // The first row from the screen's top that both rings hold: a line whose first rows the
  // smaller ring dropped is laid out from what is left of it, and is left out.
  int firstHeld(bool normal = false) {
    Buffer& ba = normal ? *full.terminal->normalBuffer : *full.terminal->buffer;
    const int history = std::min(ba.yBase, (normal ? *roomy.terminal->normalBuffer : *roomy.terminal->buffer).yBase);
    int held = -history;
    if (ba.yBase + held == 0) {
      while (held < ba.lines().count() - ba.yBase && ba.lines()[ba.yBase + held]->isWrapped()) ++held;
    }
    return held;
  }

  // Whether a placement, or one it is placed relative to, lies above the rows both rings hold.
  bool detached(Terminal& t, vantrelle::KittyPlacementKey key) {
    const auto& records = t.kittyGraphicsState.placementsByKey;
    const int held = firstHeld();
    for (int depth = 0; depth < 64; ++depth) {
      auto found = records.find(key);
      if (found == records.end()) return false;
      const auto& record = found->second;
      Buffer& own = record.isAlternateBuffer ? *t.altBuffer : *t.normalBuffer;
      if (placeOf(t, record, vantrelle::collectKittyPlacementPositions(t, own)).first - own.yBase < held) return true;
      if (!record.isRelative()) return false;
      key = {*record.parentImageId, *record.parentPlacementId};
    }
    return false;
  }

  // Placements whose every cell the smaller ring dropped with the lines that left it, while the
  // roomy one holds cells of them above the rows both hold: once the roomy one moves them (after
  // the parent they are placed relative to), they come into rows both hold in it alone.
  void noteDropped() {
    Terminal& a = *full.terminal;
    Terminal& b = *roomy.terminal;
    if (b.kittyGraphicsState.placementsByKey.empty()) return;
    const int held = firstHeld(true);
    KeySet inFull;
    for (Buffer* buffer : {a.normalBuffer.get(), a.altBuffer.get()}) {
      for (const auto& [key, at] : vantrelle::collectKittyPlacementPositions(a, *buffer)) inFull.insert(key);
    }
    Buffer& nb = *b.normalBuffer;
    for (int index = 0; index < std::min(nb.lines().count(), nb.yBase + held); ++index) {
      const BufferLine& line = *nb.lines()[index];
      if (!line.images()) continue;
      for (const auto& image : *line.images()) {
        auto* kitty = dynamic_cast<const vantrelle::KittyPlacementImage*>(image.get());
        if (kitty && kitty->kittyKey() && !inFull.contains(*kitty->kittyKey())) dropped.insert(*kitty->kittyKey());
      }
    }
  }

  // The records, and where their placements are, as rows from the screen's top.
  struct RecordView {
    std::string text;
    bool hasCells = false;
    int64_t row = 0;
    int64_t col = 0;
  };
  static std::map<vantrelle::KittyPlacementKey, RecordView> records(Terminal& t, const KeySet& skipped) {
    std::map<vantrelle::KittyPlacementKey, RecordView> out;
    const Positions live[] = {vantrelle::collectKittyPlacementPositions(t, *t.normalBuffer),
                              vantrelle::collectKittyPlacementPositions(t, *t.altBuffer)};
    for (const auto& [key, record] : t.kittyGraphicsState.placementsByKey) {
      if (skipped.contains(key)) continue;
      const Buffer& b = record.isAlternateBuffer ? *t.altBuffer : *t.normalBuffer;
      const auto& cells = live[record.isAlternateBuffer ? 1 : 0];
      const auto at = placeOf(t, record, cells);
      std::ostringstream text;
      text << key.imageId << "/" << key.placementId << (record.isVirtual ? " virtual" : "")
           << (record.isAlternateBuffer ? " alternate" : "") << " " << record.cols << "x" << record.rows;
      out[key] = {text.str(), cells.contains(key), at.first - b.yBase, at.second};
    }
    return out;
  }

  // Where a placement lies is known to both only while both hold it. A virtual placement's row
  // is where the cursor was when it was made, which nothing moves; only its size is compared. The
  // smaller ring's record of a placement whose cells it dropped stays where they were, and the
  // roomy ring's cells may lie where the smaller one holds nothing.
  static std::optional<std::string> recordDifference(const std::map<vantrelle::KittyPlacementKey, RecordView>& a,
                                                     const std::map<vantrelle::KittyPlacementKey, RecordView>& b,
                                                     int64_t firstHeld) {
    for (auto ia = a.begin(), ib = b.begin(); ia != a.end() || ib != b.end(); ++ia, ++ib) {
      if (ia == a.end() || ib == b.end() || ia->first != ib->first || ia->second.text != ib->second.text) {
        return "record " + (ia == a.end() ? std::string("(none)") : ia->second.text) + " against " +
               (ib == b.end() ? std::string("(none)") : ib->second.text);
      }
      const RecordView &ra = ia->second, &rb = ib->second;
      if (ra.text.find("virtual") != std::string::npos || ra.hasCells != rb.hasCells) continue;
      if (ra.row < firstHeld && rb.row < firstHeld) continue;
      if (ra.row != rb.row || ra.col != rb.col) {
        return "record " + ra.text + " at " + std::to_string(ra.col) + "," + std::to_string(ra.row) + " against " +
               std::to_string(rb.col) + "," + std::to_string(rb.row) + (ra.hasCells ? "" : " without cells");
      }
    }
    return std::nullopt;
  }

  std::optional<std::string> difference(bool whole = true) {
    Terminal& a = *full.terminal;
    Terminal& b = *roomy.terminal;
    if (a.isCurrentBufferAlternate() != b.isCurrentBufferAlternate()) return "screens differ";
    Buffer& ba = *a.buffer;
    Buffer& bb = *b.buffer;
    std::ostringstream where;
    if (ba.x != bb.x || ba.y != bb.y) {
      where << "cursor " << int(ba.x) << "," << int(ba.y) << " against " << int(bb.x) << "," << int(bb.y);
      return where.str();
    }
    const int belowA = ba.lines().count() - ba.yBase, belowB = bb.lines().count() - bb.yBase;
    if (belowA != belowB)
      return "rows from the screen's top " + std::to_string(belowA) + " against " + std::to_string(belowB);
    const int held = firstHeld();
    const int first = whole ? held : std::max(held, 0);
    // Placements detached from the rows both hold are left out of the screen's rows as well.
    KeySet skipped = dropped;
    const bool images = !a.kittyGraphicsState.placementsByKey.empty() || !b.kittyGraphicsState.placementsByKey.empty();
    if (images) {
      addDetached(a, held, skipped);
      addDetached(b, held, skipped);
    }
    for (int row = first; row < belowA; ++row) {
      if (auto found = compareRow(row, skipped)) return found;
    }
    if (whole && images) {
      if (auto found = recordDifference(records(a, skipped), records(b, skipped), first)) return found;
    }
    if (full.host.sent != roomy.host.sent)
      return "replies " + printableBytes(full.host.sent) + " against " + printableBytes(roomy.host.sent);
    return std::nullopt;
  }

  // Placement ids are never reused: a placement made again under an id would move the ones made
  // relative to it from wherever they lie, and the smaller ring may have dropped them.
  uint32_t newPlacement(uint32_t image) {
    recent[recentCount++ % std::size(recent)] = {image, nextPlacement};
    return nextPlacement++;
  }
  vantrelle::KittyPlacementKey pick(fuzzing::Reader& in) {
    const uint8_t choice = in.byte();
    if (recentCount == 0) return {uint32_t(choice % 4 + 1), 1};
    return recent[choice % std::min<size_t>(recentCount, std::size(recent))];
  }

  int links = 0;
  bool wholeNext = true;
  // A scrollback smaller than the screen: a narrowing must keep the screen all the same.
  bool tiny = false;
  // No scrollback at all: the text before a line editor's prompt that a resize moves to a line of
  // its own leaves the ring at once, wherever the screen stood.
  bool noHistory = false;
  bool diverged = false;
  KeySet dropped;
  std::optional<std::string> midway;
  uint32_t nextPlacement = 1;
  vantrelle::KittyPlacementKey recent[8];
  size_t recentCount = 0;
};

inline std::string ScrollbackParity::step(fuzzing::Reader& in) { return takeStep(in); }
inline std::optional<std::string> ScrollbackParity::compare() { return difference(); }
inline std::string ScrollbackParity::printable(const std::string& bytes) { return printableBytes(bytes); }

}  // namespace parity
