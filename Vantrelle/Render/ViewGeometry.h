#pragma once
// Rectangles and sizes in the view's points. y grows downward, as in GTK: row 0 is at the top.
#include <algorithm>

namespace vantrelle {

struct ViewSize {
  double width = 0;
  double height = 0;
  bool operator==(const ViewSize&) const = default;
};

struct ViewPoint {
  double x = 0;
  double y = 0;
  bool operator==(const ViewPoint&) const = default;
};

struct ViewRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  bool isEmpty() const { return width <= 0 || height <= 0; }
  bool intersects(const ViewRect& o) const {
    return !isEmpty() && !o.isEmpty() && x < o.maxX() && o.x < maxX() && y < o.maxY() && o.y < maxY();
  }
  // The smallest rectangle holding both; an empty one adds nothing.
  ViewRect united(const ViewRect& o) const {
    if (isEmpty()) return o;
    if (o.isEmpty()) return *this;
    double x0 = std::min(x, o.x), y0 = std::min(y, o.y);
    return {x0, y0, std::max(maxX(), o.maxX()) - x0, std::max(maxY(), o.maxY()) - y0};
  }
  bool operator==(const ViewRect&) const = default;
};

}  // namespace vantrelle
