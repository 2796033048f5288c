#pragma once
// Where a box that floats over the rows (the find bar, a link's preview) lies so that it hides
// as little as it can of what the user reads. The view names what must stay in sight, each with a
// weight, and the sizes the box may take, from the one it would rather have; the box goes to the
// first of its corners that hides nothing, else to any place beside what it must keep off, and
// only where no place of a size leaves everything in sight does it take the next, smaller size.
#include <cstddef>
#include <span>

#include "Vantrelle/Render/ViewGeometry.h"

namespace vantrelle {

// A rectangle of the view that should stay in sight; the heavier, the more it matters.
struct KeepInSight {
  ViewRect rect;
  int weight = 1;
  bool operator==(const KeepInSight&) const = default;
};

enum class FloatCorner { topRight, bottomRight, topLeft, bottomLeft };

struct FloatingPlace {
  // Which of the sizes offered, and where a box of that size goes.
  size_t size = 0;
  ViewRect rect;
  // The weight of what it lies over; 0 when everything stays in sight.
  int hidden = 0;
};

// `corners` in the order the box would rather lie in; `gap` is kept between the box and the view's
// edges where the view has room for it. With no size offered the place is empty.
FloatingPlace chooseFloatingPlace(ViewSize view, std::span<const ViewSize> sizes, std::span<const KeepInSight> keep,
                                  std::span<const FloatCorner> corners, ViewSize gap);

// The weight of what a box at `rect` lies over.
int hiddenWeight(const ViewRect& rect, std::span<const KeepInSight> keep);

}  // namespace vantrelle
