#include <algorithm>

#include "Vantrelle/Buffer/Buffer.h"

namespace vantrelle {

void Buffer::setupTabStops(int index, int tabStopWidth) {
  int width = std::max(tabStopWidth, 1);
  int start = 0;
  if (index == -1) {
    tabStops.assign(size_t(_cols), false);
  } else {
    tabStops.resize(size_t(_cols), false);
    int c = std::clamp(index, 0, _cols - 1);
    start = tabStops[size_t(c)] ? index : previousTabStop(c);
  }
  // Continue the pattern from the last stop at or before the old edge.
  for (int i = std::max(start, 0); i < _cols; i += width) tabStops[size_t(i)] = true;
}

int Buffer::previousTabStop(int index) const {
  int i = index == -1 ? int(x) : index;
  i = std::min(i, int(tabStops.size()));
  while (--i > 0) {
    if (tabStops[size_t(i)]) break;
  }
  return std::clamp(i, 0, _cols - 1);
}

int Buffer::nextTabStop(bool marginMode, int index) const {
  int i = index == -1 ? int(x) : index;
  // Right of the right margin the margin is behind the cursor: stops run on to the screen's edge.
  int limit = marginMode && i <= marginRight ? marginRight : _cols - 1;
  limit = std::min(limit, int(tabStops.size()) - 1);
  i = std::max(i, -1);
  while (++i < limit) {
    if (tabStops[size_t(i)]) break;
  }
  return std::max(std::min(i, limit), 0);
}

void Buffer::tabSet(int pos) {
  if (pos >= 0 && size_t(pos) < tabStops.size()) tabStops[size_t(pos)] = true;
}

void Buffer::tabClear(int pos) {
  if (pos >= 0 && size_t(pos) < tabStops.size()) tabStops[size_t(pos)] = false;
}

}  // namespace vantrelle
