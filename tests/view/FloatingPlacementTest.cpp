// Where a box floating over the rows goes: the first corner that hides nothing, else a place
// beside what it keeps in sight, else a smaller size, and where nothing leaves all in sight, the
// place that hides least.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "Vantrelle/View/FloatingPlacement.h"

namespace vantrelle {
namespace {

constexpr std::array<FloatCorner, 4> rightFirst{FloatCorner::topRight, FloatCorner::bottomRight, FloatCorner::topLeft,
                                                FloatCorner::bottomLeft};

TEST(FloatingPlacementTest, TheBoxTakesTheFirstPlaceAndSizeThatHidesNothingElseTheOneThatHidesLeast) {
  struct Case {
    std::string name;
    ViewSize view;
    std::vector<ViewSize> sizes;
    std::vector<KeepInSight> keep;
    size_t size;
    ViewRect rect;
    int hidden;
  };
  const ViewSize wide{200, 40}, narrow{60, 40};
  const std::vector<Case> cases = {
      {"nothing to keep: the first corner, the gap kept", {400, 300}, {wide}, {}, 0, {184, 16, 200, 40}, 0},
      {"the first corner hides something: the next",
       {400, 300},
       {wide},
       {{{300, 20, 10, 10}, 1}},
       0,
       {184, 244, 200, 40},
       0},
      {"both right corners hide something: the left",
       {400, 300},
       {{200, 280}},
       {{{300, 150, 10, 10}, 1}},
       0,
       {16, 10, 200, 280},
       0},
      // Above the caret's row, clear of the match to its right, as high as that leaves room for.
      {"no corner is clear: beside what is kept, nearest the first corner",
       {400, 120},
       {{300, 70}},
       {{{350, 20, 40, 20}, 8}, {{0, 80, 120, 20}, 4}},
       0,
       {50, 10, 300, 70},
       0},
      {"no place of the first size is clear: the next size",
       {400, 100},
       {{368, 80}, narrow},
       {{{20, 40, 16, 20}, 8}},
       1,
       {324, 16, 60, 40},
       0},
      {"nothing is clear: what hides least, in the size wanted first",
       {100, 50},
       {{90, 50}, {80, 50}},
       {{{0, 0, 100, 20}, 8}, {{0, 30, 100, 20}, 4}, {{40, 20, 10, 10}, 1}},
       0,
       {5, 0, 90, 50},
       13},
      {"a box past the view's size starts with the view", {100, 30}, {wide}, {}, 0, {0, 0, 200, 40}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FloatingPlace place = chooseFloatingPlace(c.view, c.sizes, c.keep, rightFirst, ViewSize{16, 16});
    EXPECT_EQ(place.size, c.size);
    EXPECT_EQ(place.rect, c.rect) << place.rect.x << "," << place.rect.y << " " << place.rect.width << "x"
                                  << place.rect.height;
    EXPECT_EQ(place.hidden, c.hidden);
  }
}

}  // namespace
}  // namespace vantrelle
