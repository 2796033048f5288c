// The view's own bars float over the rows: the find bar in a corner, the progress strip along the
// top edge. They take no rows, so the program keeps the size it was told while they come and go.
// Rows given to the bars changed that size each time a bar opened or closed, and the program
// answered with a redraw (a shell its prompt, a full-screen program its screen) whose output
// ended the selection marking the match the find bar had found; in a short window they took every
// row, and the program was told of one it could not show.
// What the user looks at is kept out from under the find bar instead: a match under it is
// scrolled below it, and what no scrolling brings out (on the other screen, at the top of the
// scrollback, in a short window) is left in sight by moving the bar to the bottom corner, or in a
// view too small for that by making it narrower; and so is the caret where that leaves the match
// in sight.
#include <algorithm>
#include <cmath>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

constexpr int findBarMargin = 8;
constexpr int findBarMaxWidth = 520;
constexpr int progressBarHeight = 2;

bool overlaps(const TerminalView::FindBarPlace& bar, double x, double y, double width, double height) {
  return x < bar.x + bar.width && bar.x < x + width && y < bar.y + bar.height && bar.y < y + height;
}

}  // namespace

bool TerminalView::findBarShown() const { return findState.findBar && findState.findBar->get_visible(); }

TerminalView::FindBarPlace TerminalView::findBarPlace(int width, int height, FindBarSpot spot) {
  if (!findBarShown()) return {};
  TerminalFindBarView& bar = *findState.findBar;
  const int available = std::max(width - 2 * findBarMargin, 0);
  bar.fit(std::min(available, findBarMaxWidth), height);
  int minimum = 0, natural = 0, h = 0, minBase = 0, natBase = 0;
  bar.measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minBase, natBase);
  const int w =
      std::max(std::min({spot.narrow ? minimum : natural, findBarMaxWidth, available}), std::min(minimum, available));
  bar.measure(Gtk::Orientation::VERTICAL, w, minimum, h, minBase, natBase);
  // In a view hardly taller than the bar its margins give way first.
  const int gap = std::clamp((height - h) / 2, 0, findBarMargin);
  const int y = spot.atBottom ? std::max(height - gap - h, 0) : gap;
  return {std::max(width - findBarMargin - w, 0), y, w, h};
}

// Whether the bar at `place` lies over any cell from `start` up to `end` among the rows shown; a
// range without length stands for its one cell. Its margins are clear.
bool TerminalView::findBarCovers(FindBarPlace place, Position start, Position end) const {
  if (place.width <= 0 || !cellDimension) return false;
  const Gtk::Widget& bar = *findState.findBar;
  place.x += bar.get_margin_start();
  place.width -= bar.get_margin_start() + bar.get_margin_end();
  place.y += bar.get_margin_top();
  place.height -= bar.get_margin_top() + bar.get_margin_bottom();
  if (Position::compare(end, start) == Position::compareResult::before) std::swap(start, end);
  const Buffer& buffer = *terminal->buffer;
  const double cw = cellDimension->width, ch = cellDimension->height;
  const int64_t first = std::max<int64_t>(start.row, buffer.yDisp);
  const int64_t last = std::min<int64_t>(end.row, int64_t(buffer.yDisp) + terminal->rows - 1);
  for (int64_t row = first; row <= last; row++) {
    int64_t from = row == start.row ? start.col : 0;
    int64_t to = row == end.row ? end.col : terminal->cols;
    if (start.row == end.row && start.col == end.col) to = from + 1;
    if (to > from && overlaps(place, double(from) * cw, double(row - buffer.yDisp) * ch, double(to - from) * cw, ch))
      return true;
  }
  return false;
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

// The place that leaves in sight the match and the caret, in this order of preference: the top
// corner, the bottom one, and each again with the bar at its narrowest, for a view too short for
// the bar to leave a row free at either edge. Where not both can be in sight, the match is, which
// is what the bar is open for.
FindBarSpot TerminalView::findBarSpot() {
  const int width = int(frameSize.width), height = int(frameSize.height);
  const auto match = selectedMatch();
  const Buffer& buffer = *terminal->buffer;
  const Position caret(buffer.x, int64_t(buffer.yBase) + buffer.y);
  auto hidden = [&](FindBarSpot spot) {
    const FindBarPlace place = findBarPlace(width, height, spot);
    int weight = 0;
    if (match && findBarCovers(place, match->first, match->second)) weight += 2;
    if (!terminal->cursorHidden && findBarCovers(place, caret, caret)) weight += 1;
    return weight;
  };
  FindBarSpot best;
  int least = hidden(best);
  for (FindBarSpot spot : {FindBarSpot{true, false}, FindBarSpot{false, true}, FindBarSpot{true, true}}) {
    if (least == 0) break;
    if (int weight = hidden(spot); weight < least) {
      best = spot;
      least = weight;
    }
  }
  return best;
}

// The bar is placed as a match is shown, as a click changes the selection and as the view changes
// size, not as the user scrolls: a bar that jumped from corner to corner under a scrolling match
// would be harder to follow than the match under it.
void TerminalView::placeFindBar() {
  if (!findBarShown() || frameSize.width <= 0) return;
  const FindBarSpot spot = findBarSpot();
  findState.placedFor = frameSize;
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
    findState.findBarSpot = findBarSpot();
    findState.placedFor = frameSize;
  }
  const FindBarPlace place = findBarPlace(width, height, findState.findBarSpot);
  findState.findBar->size_allocate(Gtk::Allocation(place.x, place.y, place.width, place.height), -1);
}

// A match under the find bar is not in sight. On the normal screen it comes down to the first row
// below the bar, as far as the scrollback allows; what stays under it moves the bar instead.
void TerminalView::revealMatch(Position start, Position end) {
  scrollToReveal(start.row);
  if (findBarShown() && cellDimension && !terminal->isCurrentBufferAlternate()) {
    const FindBarPlace top = findBarPlace(int(frameSize.width), int(frameSize.height), FindBarSpot{});
    const int below = int(std::ceil((top.y + top.height) / cellDimension->height));
    if (findBarCovers(top, start, end) && below < terminal->rows)
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
  if (progress.progressBarView->get_visible() != wasShown) queue_allocate();
}

}  // namespace vantrelle
