// The view's own bars (the find bar, the progress bar) lie in a band above the rows, never over
// them: the rows are what fits below the band, and the program is told so, like any resize. A bar
// over the top rows hid what the program had drawn there, and it went on drawing into rows it
// believed the user saw.
#include <algorithm>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

constexpr int findBarMargin = 8;
constexpr int findBarMaxWidth = 520;
constexpr int progressBarHeight = 2;

}  // namespace

TerminalView::FindBarPlace TerminalView::findBarPlace(int width) const {
  if (!findState.findBar || !findState.findBar->get_visible()) return {};
  int minimum = 0, natural = 0, height = 0, minBase = 0, natBase = 0;
  findState.findBar->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minBase, natBase);
  int available = std::max(width - 2 * findBarMargin, 0);
  int w = std::max(std::min({natural, findBarMaxWidth, available}), std::min(minimum, available));
  findState.findBar->measure(Gtk::Orientation::VERTICAL, w, minimum, height, minBase, natBase);
  return {std::max(width - findBarMargin - w, findBarMargin), findBarMargin, w, height};
}

int TerminalView::barsBandHeight(int width) const {
  if (auto place = findBarPlace(width); place.width > 0) return place.y + place.height + findBarMargin;
  if (progress.progressBarView && progress.progressBarView->get_visible()) return progressBarHeight;
  return 0;
}

void TerminalView::layoutBars(int width) {
  if (progress.progressBarView) {
    progress.progressBarView->size_allocate(Gtk::Allocation(0, 0, width, progressBarHeight), -1);
  }
  if (auto place = findBarPlace(width); place.width > 0) {
    findState.findBar->size_allocate(Gtk::Allocation(place.x, place.y, place.width, place.height), -1);
  }
}

// The rows are laid out below a bar at once, not at the next frame: a find that the bar starts then
// selects its match and scrolls it into sight among the rows that stay.
void TerminalView::takeBarsBand() {
  if (get_width() > 0) size_allocate_vfunc(get_width(), get_height(), -1);
  queue_allocate();
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
