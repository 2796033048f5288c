// Characters with no ink of their own (spaces, separators, joiners, format characters, selectors, a
// tab's cells) stay blank with the fonts a desktop has, on both drawing paths and under the caret,
// whichever font the shaper puts them in: beside a Powerline symbol it keeps them in the symbols
// font, which has no space. A character with ink that no font has keeps its box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "tests/DesktopFonts.h"
#include "tests/gpu/CairoFrame.h"
#include "tests/view/CellInkCases.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

// A piece of a row: its text, the text drawn in its place on the frame it is held against, its
// cells, and whether those cells look there as they do on that frame (or differ).
struct Piece {
  std::string text, plain;
  int cells;
  bool same;
};
Piece symbol(const char* text) { return {text, " ", 1, false}; }
Piece blank(const std::string& text, int cells) { return {text, std::string(size_t(cells), ' '), cells, true}; }

// The branch symbol of a git prompt, beside which the shaper keeps a space in the symbols font.
const char* const branch = "\ue0a0";

// Rows of pieces, each written on a line of its own with an empty one between: the symbols reach
// past their rows.
std::vector<std::vector<Piece>> rows() {
  std::vector<std::vector<Piece>> rows;
  // A Powerline prompt as shells print it: arrows (the solid one drawn as a shape), a coloured
  // segment opened by a space, the branch.
  rows.push_back({symbol("\ue0b0"),
                  blank(" ", 1),
                  symbol("\ue0b1"),
                  blank(" ", 1),
                  {"|", "|", 1, true},
                  blank(" ", 1),
                  {"\x1b[44;33m", "\x1b[44;33m", 0, true},
                  blank(" ", 1),
                  symbol(branch),
                  blank(" ", 1),
                  {"main", "main", 4, true},
                  blank(" ", 1),
                  {"\x1b[m", "\x1b[m", 0, true}});
  // Each character between two branch symbols; those of no width with the space they join.
  const std::pair<const char*, int> spaces[] = {
      {"\u00a0", 1}, {"\u2000", 1}, {"\u2001", 1}, {"\u2002", 1}, {"\u2003", 1}, {"\u2004", 1},
      {"\u2005", 1}, {"\u2006", 1}, {"\u2007", 1}, {"\u2008", 1}, {"\u2009", 1}, {"\u200a", 1},
      {"\u202f", 1}, {"\u205f", 1}, {"\u3000", 2}, {"\u2800", 1}, {"\uffa0", 1}};
  // (Those the printer drops, as U+200B and U+2028, never reach a cell.)
  const char* joining[] = {"\u200c", "\u200d", "\ufe0f", "\ufe0e", "\u034f", "\U000e0041", "\U000e0100"};
  std::vector<Piece> row;
  for (const auto& [text, cells] : spaces) row.push_back(symbol(branch)), row.push_back(blank(text, cells));
  rows.push_back(std::move(row));
  row.clear();
  for (const char* text : joining) row.push_back(symbol(branch)), row.push_back(blank(std::string(" ") + text, 1));
  rows.push_back(std::move(row));
  // A tab's cells, which hold nothing.
  rows.push_back({symbol(branch), {"\t", "\t", 7, true}, symbol(branch)});
  // A character with ink that no font has, beside the symbol: its box stays.
  rows.push_back({symbol(branch), {"\U000F0000", " ", 1, false}, symbol(branch)});
  return rows;
}

// With the fonts a desktop has, and with the tests' own, which have no glyph for some of them.
class BlankCharacters : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    if (GetParam()) {
      const auto missing = testing::missingDesktopFonts();
      for (const auto& face : missing) ADD_FAILURE() << face << " is missing: scripts/install-deps installs it";
      ASSERT_TRUE(missing.empty());
      testing::useDesktopFonts(GTK_WIDGET(view->gobj()));
    }
    view->setFont(Pango::FontDescription("Monospace 14"));
    view->size_allocate(Gtk::Allocation(0, 0, 720, 240), -1);
    view->getTerminal().cursorHidden = true;
    view->allowMouseReporting = false;
  }
  std::string screen(const std::string& rendition, bool symbols) const {
    std::string text = "\x1b[H\x1b[2J";
    int line = 1;
    for (const auto& row : rows()) {
      text += "\x1b[" + std::to_string(line) + "H" + rendition;
      line += 2;
      for (const Piece& p : row) text += symbols ? p.text : p.plain;
      text += "\x1b[m";
    }
    return text;
  }
  std::unique_ptr<TerminalView> view;
};

// The cells of each blank piece look as plain spaces do, in every rendition, selected or not, on
// both paths; the symbols and the box do not.
TEST_P(BlankCharacters, StayBlankBesideASymbolsFontOnBothPaths) {
  const std::pair<const char*, const char*> renditions[] = {
      {"plain", ""}, {"reversed", "\x1b[7m"}, {"bold", "\x1b[1m"}, {"italic", "\x1b[3m"}};
  for (double scale : {1.0, 2.0}) {
    for (const auto& [name, rendition] : renditions) {
      for (bool selected : {false, true}) {
        SCOPED_TRACE(std::string(name) + " at scale " + std::to_string(int(scale)) + (selected ? ", selected" : ""));
        auto frames = [&](bool symbols) {
          view->feed(screen(rendition, symbols));
          if (selected) view->selectAll();
          return bothFramesAt(*view, scale, "blank-characters");
        };
        const PathFrames with = frames(true), without = frames(false);
        ASSERT_FALSE(with.gpu.empty());
        ASSERT_EQ(with.cairo.size(), with.gpu.size());
        const double cw = view->cellDimension->width * scale, ch = view->cellDimension->height * scale;
        int line = 0;
        for (const auto& row : rows()) {
          const auto from = ptrdiff_t(std::lround(2 * line * ch)) * with.width * 4,
                     to = ptrdiff_t(std::lround((2 * line + 1) * ch)) * with.width * 4;
          for (bool gpu : {false, true}) {
            const auto& a = gpu ? with.gpu : with.cairo;
            const auto& b = gpu ? without.gpu : without.cairo;
            const auto differing = testing::differingColumns(
                {a.begin() + from, a.begin() + to}, {b.begin() + from, b.begin() + to}, with.width, with.width * 4, 8);
            // What differs in the middle third of each cell: the box of a missing glyph crosses
            // it, and the symbols beside the cell, slanted or emboldened, do not reach it.
            auto inCell = [&](int column) {
              const double third = cw / 3;
              return std::count_if(differing.begin(), differing.end(), [&](int x) {
                return x >= std::lround(column * cw + third) && x < std::lround((column + 1) * cw - third);
              });
            };
            const char* drawn = gpu ? "OpenGL" : "Cairo";
            int column = 0;
            for (const Piece& p : row) {
              long inside = 0;
              for (int k = 0; k < p.cells; k++) {
                const long here = inCell(column + k);
                inside += here;
                EXPECT_TRUE(!p.same || here == 0) << drawn << ": " << here << " pixels of ink in the cells of \""
                                                  << p.text << "\" at column " << column + k << " of row " << line;
              }
              EXPECT_TRUE(p.same || inside > 0)
                  << drawn << ": nothing drawn for \"" << p.text << "\" at column " << column;
              column += p.cells;
            }
          }
          line++;
        }
        view->selectNone();
      }
    }
  }
}

// Under a block caret, which shapes its cell alone, such a character shows only the caret, on both
// paths; a character with ink that no font has shows its box.
TEST_P(BlankCharacters, ShowNothingUnderABlockCaret) {
  view->scaleFactorOverride = 1.0;
  view->setMetalScaleFactorOverride(1.0);
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  view->setCaretViewTracksFocus(false);
  view->getTerminal().cursorHidden = false;
  CaretView& caret = *view->caretView;
  caret.caretColor = ViewColor(0, 0, 0, 1);
  caret.caretTextColor = ViewColor(1, 1, 1, 1);
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  const ViewSize cell = *view->cellDimension;
  // With `text` in the first cells: the caret's pixels in its text colour on the Cairo path, and
  // the quads on the OpenGL path besides the block.
  auto caretInk = [&](const std::string& text, int cells) {
    view->feed("\x1b[H\x1b[2J" + text + "\x1b[H");
    caret.setText(*view->getTerminal().getCharData(0, 0));
    testing::Canvas canvas(int(cell.width * cells), int(cell.height));
    caret.drawCursor(canvas.cr, cell.width * cells, cell.height, true);
    int cairo = 0;
    for (int y = 0; y < canvas.height(); y++) {
      for (int x = 0; x < canvas.width(); x++) cairo += (canvas.pixel(x, y) & 0xff) > 0x40;
    }
    DrawData d;
    path->renderer_().buildCursorDrawData(path->viewSnapshot(), d, 1, cell.width, cell.height, 0, 0, 0, 0,
                                          view->getTerminal().rows - 1);
    return std::pair{cairo, (d.cursorColorVertices.size() + d.cursorGlyphVerticesGray.size()) / 6 - 1};
  };
  const std::pair<const char*, int> blanks[] = {{"\u00a0", 1}, {"\u2003", 1}, {"\u3000", 2},  {"\uffa0", 1},
                                                {"\u3164", 2}, {"\u115f", 2}, {" \u200d", 1}, {" \u034f", 1}};
  for (const auto& [text, cells] : blanks) {
    SCOPED_TRACE(text);
    EXPECT_EQ(caretInk(text, cells), std::pair(0, size_t(0)));
  }
  const auto box = caretInk("\u0915", 1);
  EXPECT_GT(box.first, 0);
  EXPECT_GT(box.second, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fonts, BlankCharacters, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Desktop" : "Tests"; });

}  // namespace
}  // namespace vantrelle
