#include <gtest/gtest.h>

#include "Vantrelle/Buffer/Line.h"
#include "Vantrelle/Buffer/Position.h"

namespace vantrelle {
namespace {

TEST(Position, ComparesRowMajor) {
  using R = Position::compareResult;
  EXPECT_EQ(Position::compare(Position(5, 2), Position(0, 3)), R::before);
  EXPECT_EQ(Position::compare(Position(0, 3), Position(5, 2)), R::after);
  EXPECT_EQ(Position::compare(Position(4, 3), Position(5, 3)), R::before);
  EXPECT_EQ(Position::compare(Position(-2, -1), Position(-2, -1)), R::equal);
  EXPECT_EQ(Position(-2, -1), Position(-2, -1));
  EXPECT_EQ(Position(3, 12).debugDescription(), "col=3 row=12");
}

TEST(Line, CollectsFragments) {
  Line line;
  EXPECT_EQ(line.debugDescription(), "[]");
  line.add({"abc", 4, 0, 3});
  line.add({"\n", 4, -1, 1});
  line.add({std::nullopt, 5, 0, 0});
  EXPECT_EQ(line.length, 4);
  EXPECT_EQ(line.fragments.size(), 3u);
  EXPECT_EQ(line.debugDescription(), "3/4: [abc][\\n][][");
}

}  // namespace
}  // namespace vantrelle
