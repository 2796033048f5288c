// The view's own bars float over the rows: the find bar in a corner, the progress strip along the
// top edge. They take no rows, so the program keeps the size it was told while they come and go.
// Rows given to the bars changed that size each time a bar opened or closed, and the program
// answered with a redraw (a shell its prompt, a full-screen program its screen) whose output
// ended the selection marking the match the find bar had found; in a short window they took every
// row, and the program was told of one it could not show.
// What the user reads is kept out from under the find bar instead: a match under it is scrolled
// below it where the scrollback allows, and the bar itself goes where it leaves in sight the match
// and the line the user types on, following both as they move: to another corner, beside them,
// or, where no place leaves room for the whole bar, in a smaller shape, down to the field alone.
#include <algorithm>
#include <array>
#include <cmath>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

constexpr int findBarMargin = 8;
constexpr int findBarMaxWidth = 520;
constexpr int progressBarHeight = 2;

// The match weighs most, as it is what the bar is open for; then the row the caret is on, the
// rows its line wraps over, and last the progress strip, which the bar may cover a little of.
constexpr int matchWeight = 8;
constexpr int caretRowWeight = 4;
constexpr int caretLineWeight = 2;
constexpr int progressWeight = 1;

constexpr std::array<FloatCorner, 4> findBarCorners{FloatCorner::topRight, FloatCorner::bottomRight,
                                                    FloatCorner::topLeft, FloatCorner::bottomLeft};
constexpr std::array<TerminalFindBarView::Shape, 4> findBarShapes{
    TerminalFindBarView::Shape::whole, TerminalFindBarView::Shape::narrow, TerminalFindBarView::Shape::entry,
    TerminalFindBarView::Shape::narrowEntry};

// A match longer than this many screens keeps only its first rows out from under the bar.
constexpr int64_t matchScreensKept = 4;

// The cells from `from` up to `to` of a buffer row, in points with the row's top at row × the
// cell's height; a row drawn at double width has cells twice as wide.
KeepInSight rowSight(Buffer& buffer, int64_t row, int64_t from, int64_t to, ViewSize cell, int weight) {
  const BufferLine& line = *buffer.lines()[int(row)];
  const double width = cell.width * (line.renderMode == BufferLine::RenderLineMode::single ? 1 : 2);
  return {ViewRect{double(from) * width, double(row) * cell.height, double(to - from) * width, cell.height}, weight};
}

// The columns from a row's first character to its last, blanks left out at both ends; none for a
// blank row.
std::pair<int64_t, int64_t> textColumns(const BufferLine& line, int64_t cols) {
  const int64_t end = std::min<int64_t>(line.getTrimmedLength(), cols);
  auto blank = [&](int64_t col) {
    const uint32_t code = line[int(col)].code;
    return code == 0 || code == ' ';
  };
  int64_t first = 0, last = end;
  while (last > 0 && blank(last - 1)) last--;
  while (first < last && blank(first)) first++;
  return {first, last};
}

}  // namespace

bool TerminalView::findBarShown() const { return findState.findBar && findState.findBar->get_visible(); }

void TerminalView::fitFindBar(TerminalFindBarView::Shape shape, int width, int height) {
  const int available = std::max(width - 2 * findBarMargin, 0);
  findState.findBar->fit(shape, std::min(available, findBarMaxWidth), height);
}

// The bar's box in each of its shapes, for a view of the given size: whole as wide as suits its
// controls, the others at their narrowest.
void TerminalView::measureFindBarShapes(int width, int height) {
  TerminalFindBarView& bar = *findState.findBar;
  const int available = std::max(width - 2 * findBarMargin, 0);
  const int marginsX = bar.get_margin_start() + bar.get_margin_end();
  const int marginsY = bar.get_margin_top() + bar.get_margin_bottom();
  findState.shapes.clear();
  for (TerminalFindBarView::Shape shape : findBarShapes) {
    fitFindBar(shape, width, height);
    int minimum = 0, natural = 0, h = 0, minBase = 0, natBase = 0;
    bar.measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minBase, natBase);
    const int w = shape == TerminalFindBarView::Shape::whole
                      ? std::max(std::min({natural, findBarMaxWidth, available}), std::min(minimum, available))
                      : std::min(minimum, available);
    bar.measure(Gtk::Orientation::VERTICAL, w, minimum, h, minBase, natBase);
    findState.shapes.emplace_back(shape,
                                  ViewSize{double(std::max(w - marginsX, 0)), double(std::max(h - marginsY, 0))});
  }
  fitFindBar(findState.findBarSpot.shape, width, height);
  findState.placedFor = frameSize;
  findState.placedAround = {};
}

// The selection while it still marks the match the find bar showed last, in order.
std::optional<std::pair<Position, Position>> TerminalView::selectedMatch() const {
  const auto& shown = findState.shownMatch;
  if (!shown || !selectionActive()) return std::nullopt;
  Position start = selection->start(), end = selection->end();
  if (Position::compare(end, start) == Position::compareResult::before) std::swap(start, end);
  // Output moves it a whole number of rows, with its text.
  if (start.col != shown->start.col || end.col != shown->end.col ||
      end.row - start.row != shown->end.row - shown->start.row)
    return std::nullopt;
  return std::pair{start, end};
}

void TerminalView::addMatchSights(std::vector<KeepInSight>& rows) const {
  if (const auto match = selectedMatch()) addRangeSights(rows, match->first, match->second, matchWeight);
}

// The cells from `start` up to `end`, a range without length standing for its one cell.
void TerminalView::addRangeSights(std::vector<KeepInSight>& rows, Position start, Position end, int weight) const {
  Buffer& buffer = *terminal->buffer;
  const int64_t last =
      std::min({end.row, start.row + matchScreensKept * terminal->rows, int64_t(buffer.lines().count()) - 1});
  for (int64_t row = std::max<int64_t>(start.row, 0); row <= last; row++) {
    const int64_t from = row == start.row ? start.col : 0;
    int64_t to = row == end.row ? end.col : terminal->cols;
    if (start.row == end.row && start.col == end.col) to = from + 1;
    if (to > from) rows.push_back(rowSight(buffer, row, from, to, *cellDimension, weight));
  }
}

// The line the user types on: the caret's row from its first column up to its text's end or the
// caret, whichever is further, and the text of the rows before and after it that the same line
// wraps over.
void TerminalView::addCaretLineSights(std::vector<KeepInSight>& rows) const {
  if (terminal->cursorHidden) return;
  Buffer& buffer = *terminal->buffer;
  auto& lines = buffer.lines();
  const int64_t caret = int64_t(buffer.yBase) + buffer.y;
  if (caret < 0 || caret >= lines.count()) return;
  const int64_t cols = std::max(terminal->cols, 1);
  const int64_t end = std::max<int64_t>(buffer.x + 1, textColumns(*lines[int(caret)], cols).second);
  rows.push_back(rowSight(buffer, caret, 0, std::min(end, cols), *cellDimension, caretRowWeight));
  auto addText = [&](int64_t row) {
    const auto [from, to] = textColumns(*lines[int(row)], cols);
    if (to > from) rows.push_back(rowSight(buffer, row, from, to, *cellDimension, caretLineWeight));
  };
  for (int64_t row = caret; row > 0 && caret - row < terminal->rows && lines[int(row)]->isWrapped(); row--) {
    addText(row - 1);
  }
  for (int64_t row = caret + 1; row < lines.count() && row - caret < terminal->rows && lines[int(row)]->isWrapped();
       row++) {
    addText(row);
  }
}

FindBarSights TerminalView::findBarSights() const {
  FindBarSights sights;
  sights.frame = frameSize;
  sights.progressShown = progress.progressBarView && progress.progressBarView->get_visible();
  if (cellDimension && cellDimension->height > 0) {
    addMatchSights(sights.rows);
    addCaretLineSights(sights.rows);
  }
  return sights;
}

// The rectangles of `sights` where the view shows them now.
std::vector<KeepInSight> TerminalView::onScreen(const FindBarSights& sights) const {
  std::vector<KeepInSight> shown;
  const double top = cellDimension ? double(terminal->buffer->yDisp) * cellDimension->height : 0;
  for (KeepInSight sight : sights.rows) {
    sight.rect.y -= top;
    if (sight.rect.maxY() > 0 && sight.rect.minY() < frameSize.height) shown.push_back(sight);
  }
  if (sights.progressShown)
    shown.push_back({ViewRect{0, 0, frameSize.width, double(progressBarHeight)}, progressWeight});
  return shown;
}

FindBarSpot TerminalView::chooseFindBarSpot(const FindBarSights& sights) const {
  if (findState.shapes.empty()) return {};
  std::vector<ViewSize> sizes;
  for (const auto& shape : findState.shapes) sizes.push_back(shape.second);
  const Gtk::Widget& bar = *findState.findBar;
  const ViewSize gap{double(findBarMargin + bar.get_margin_end()), double(findBarMargin + bar.get_margin_top())};
  const std::vector<KeepInSight> keep = onScreen(sights);
  const FloatingPlace place = chooseFloatingPlace(frameSize, sizes, keep, findBarCorners, gap);
  return {findState.shapes[place.size].first, place.rect};
}

ViewRect TerminalView::usualFindBarBox() const {
  if (findState.shapes.empty()) return {};
  const FloatingPlace place = chooseFloatingPlace(
      frameSize, std::span(&findState.shapes.front().second, 1), {}, std::span(findBarCorners.data(), 1),
      ViewSize{double(findBarMargin + findState.findBar->get_margin_end()),
               double(findBarMargin + findState.findBar->get_margin_top())});
  return place.rect;
}

// The bar is placed again as what it keeps in sight moves: a match shown, a click that changes the
// selection, the caret moved by typing or by output, a new size. Not as the user scrolls: a bar
// that jumped from corner to corner under a scrolling match would be harder to follow than the
// match under it.
void TerminalView::placeFindBar() {
  if (!findBarShown() || frameSize.width <= 0) return;
  if (findState.placedFor != frameSize) measureFindBarShapes(int(frameSize.width), int(frameSize.height));
  FindBarSights sights = findBarSights();
  if (sights == findState.placedAround) return;
  findState.placedAround = std::move(sights);
  const FindBarSpot spot = chooseFindBarSpot(findState.placedAround);
  if (spot == findState.findBarSpot) return;
  findState.findBarSpot = spot;
  queue_allocate();
}

void TerminalView::layoutBars(int width, int height) {
  if (progress.progressBarView) {
    progress.progressBarView->size_allocate(Gtk::Allocation(0, 0, width, progressBarHeight), -1);
  }
  if (!findBarShown()) return;
  if (findState.placedFor != frameSize) {
    measureFindBarShapes(width, height);
    findState.placedAround = findBarSights();
    findState.findBarSpot = chooseFindBarSpot(findState.placedAround);
  }
  TerminalFindBarView& bar = *findState.findBar;
  const FindBarSpot& spot = findState.findBarSpot;
  fitFindBar(spot.shape, width, height);
  // The margins lie around the box, past the view's edges where the box keeps no gap from them.
  bar.size_allocate(Gtk::Allocation(int(spot.box.x) - bar.get_margin_start(), int(spot.box.y) - bar.get_margin_top(),
                                    int(spot.box.width) + bar.get_margin_start() + bar.get_margin_end(),
                                    int(spot.box.height) + bar.get_margin_top() + bar.get_margin_bottom()),
                    -1);
}

// A match under the find bar in its usual corner is not in sight. On the normal screen it comes
// down to the first row below the bar, as far as the scrollback allows; where it stays under it,
// the bar moves instead.
void TerminalView::revealMatch(Position start, Position end) {
  scrollToReveal(start.row);
  if (findBarShown() && cellDimension && !terminal->isCurrentBufferAlternate()) {
    if (findState.placedFor != frameSize) measureFindBarShapes(int(frameSize.width), int(frameSize.height));
    const ViewRect usual = usualFindBarBox();
    const int below = int(std::ceil(usual.maxY() / cellDimension->height));
    FindBarSights match;
    match.frame = frameSize;
    addRangeSights(match.rows, start, end, matchWeight);
    if (hiddenWeight(usual, onScreen(match)) > 0 && below < terminal->rows)
      scrollTo(int(std::max<int64_t>(start.row - below, 0)), true);
  }
  placeFindBar();
}

// The view's own layout places the strip, so one that appears or goes has the view laid out again:
// a strip shown in a view that kept its size was never given a place, and stayed unseen.
void TerminalView::showProgress(ProgressReportState state, std::optional<uint8_t> value) {
  if (!progress.progressBarView) return;
  bool wasShown = progress.progressBarView->get_visible();
  progress.progressBarView->apply(state, value);
  if (progress.progressBarView->get_visible() != wasShown) {
    queue_allocate();
    placeFindBar();
  }
}

// The preview of a link's target lies in the top-left corner unless it would hide the link it
// names there, the line the user types on or the find bar; then in whichever corner, or beside
// them, hides least.
void TerminalView::placeUrlPreview(int width, int height) {
  if (!linkState.urlPreview) return;
  int minimum = 0, w = 0, h = 0, minBase = 0, natBase = 0;
  linkState.urlPreview->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, w, minBase, natBase);
  linkState.urlPreview->measure(Gtk::Orientation::VERTICAL, w, minimum, h, minBase, natBase);
  std::vector<KeepInSight> keep;
  if (cellDimension) {
    FindBarSights sights;
    Buffer& buffer = *terminal->buffer;
    for (const LinkRowRange& range : linkState.previewedLink) {
      if (range.row >= 0 && range.row < buffer.lines().count() && range.upper > range.lower)
        sights.rows.push_back(rowSight(buffer, range.row, range.lower, range.upper, *cellDimension, matchWeight));
    }
    addCaretLineSights(sights.rows);
    keep = onScreen(sights);
  }
  if (findBarShown()) keep.push_back({findState.findBarSpot.box, progressWeight});
  constexpr std::array<FloatCorner, 4> corners{FloatCorner::topLeft, FloatCorner::bottomLeft, FloatCorner::topRight,
                                               FloatCorner::bottomRight};
  const ViewSize size{double(w), double(h)};
  const FloatingPlace place =
      chooseFloatingPlace(ViewSize{double(width), double(height)}, std::span(&size, 1), keep, corners, ViewSize{});
  linkState.urlPreview->size_allocate(Gtk::Allocation(int(place.rect.x), int(place.rect.y), w, h), -1);
}

}  // namespace vantrelle
