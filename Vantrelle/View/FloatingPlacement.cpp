#include "Vantrelle/View/FloatingPlacement.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vantrelle {

namespace {

// Where a box `length` long starts on an axis `extent` long, at the axis's start or at its end,
// `gap` from that edge while the box leaves room for it on both sides (less where it does not); a
// box longer than the axis starts with it.
double edgeStart(double extent, double length, double gap, bool atEnd) {
  const double kept = std::floor(std::clamp((extent - length) / 2, 0.0, gap));
  return atEnd ? std::max(extent - kept - length, 0.0) : kept;
}

bool atRight(FloatCorner corner) { return corner == FloatCorner::topRight || corner == FloatCorner::bottomRight; }
bool atBottom(FloatCorner corner) { return corner == FloatCorner::bottomRight || corner == FloatCorner::bottomLeft; }

// The starts on one axis that put the box at either edge or just beside something kept in sight,
// within the view, each once.
std::vector<double> startsBeside(double extent, double length, double gap, std::span<const KeepInSight> keep,
                                 bool vertical) {
  const double last = std::max(extent - length, 0.0);
  std::vector<double> starts{edgeStart(extent, length, gap, false), edgeStart(extent, length, gap, true)};
  for (const KeepInSight& k : keep) {
    const double lower = vertical ? k.rect.minY() : k.rect.minX();
    const double upper = vertical ? k.rect.maxY() : k.rect.maxX();
    // In whole points, clear of the cells beside it.
    starts.push_back(std::clamp(std::ceil(upper), 0.0, last));
    starts.push_back(std::clamp(std::floor(lower - length), 0.0, last));
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts;
}

}  // namespace

int hiddenWeight(const ViewRect& rect, std::span<const KeepInSight> keep) {
  int weight = 0;
  for (const KeepInSight& k : keep) {
    if (rect.intersects(k.rect)) weight += k.weight;
  }
  return weight;
}

FloatingPlace chooseFloatingPlace(ViewSize view, std::span<const ViewSize> sizes, std::span<const KeepInSight> keep,
                                  std::span<const FloatCorner> corners, ViewSize gap) {
  FloatingPlace best;
  double bestRank = 0;
  bool found = false;
  auto consider = [&](size_t size, const ViewRect& rect, double rank) {
    const int hidden = hiddenWeight(rect, keep);
    // Sizes come in the order they are wanted: a later one wins only by hiding less.
    if (found && (hidden > best.hidden || (hidden == best.hidden && (size > best.size || rank >= bestRank)))) return;
    best = {size, rect, hidden};
    bestRank = rank;
    found = true;
  };
  for (size_t s = 0; s < sizes.size(); s++) {
    const ViewSize size = sizes[s];
    auto cornerRect = [&](FloatCorner corner) {
      return ViewRect{edgeStart(view.width, size.width, gap.width, atRight(corner)),
                      edgeStart(view.height, size.height, gap.height, atBottom(corner)), size.width, size.height};
    };
    for (size_t c = 0; c < corners.size(); c++) consider(s, cornerRect(corners[c]), double(c));
    if (found && best.hidden == 0) return best;
    // Anywhere beside what stays in sight, nearer the corner the box would rather lie in first.
    const ViewRect home = corners.empty() ? ViewRect{0, 0, size.width, size.height} : cornerRect(corners.front());
    const double span = std::max(view.width + view.height, 1.0);
    for (double x : startsBeside(view.width, size.width, gap.width, keep, false)) {
      for (double y : startsBeside(view.height, size.height, gap.height, keep, true)) {
        const double distance = std::abs(x - home.x) + std::abs(y - home.y);
        consider(s, ViewRect{x, y, size.width, size.height}, double(corners.size()) + distance / span);
      }
    }
    if (found && best.hidden == 0) return best;
  }
  return best;
}

}  // namespace vantrelle
