#include <gtest/gtest.h>

#include <memory>

#include "Vantrelle/Buffer/CircularBufferLineList.h"

namespace vantrelle {
namespace {

// Each line is told apart by its column count.
CircularBufferLineList ringOf(int maxLength, int pushes) {
  CircularBufferLineList ring(maxLength);
  for (int i = 0; i < pushes; ++i) ring.push(std::make_shared<BufferLine>(i + 1));
  return ring;
}

std::vector<int> widths(CircularBufferLineList& ring) {
  std::vector<int> out;
  for (int i = 0; i < ring.count(); ++i) out.push_back(ring[i]->count());
  return out;
}

TEST(LineRing, RotateMovesOneLineAcrossARangeInBothLayouts) {
  auto straight = ringOf(6, 6);
  straight.rotate(1, 4, true);
  EXPECT_EQ(widths(straight), std::vector<int>({1, 3, 4, 5, 2, 6}));
  straight.rotate(1, 4, false);
  EXPECT_EQ(widths(straight), std::vector<int>({1, 2, 3, 4, 5, 6}));

  // Pushing past the capacity moves the start, so the range wraps around the storage.
  auto wrapped = ringOf(6, 9);
  EXPECT_EQ(widths(wrapped), std::vector<int>({4, 5, 6, 7, 8, 9}));
  wrapped.rotate(1, 5, true);
  EXPECT_EQ(widths(wrapped), std::vector<int>({4, 6, 7, 8, 9, 5}));
  wrapped.rotate(0, 5, false);
  EXPECT_EQ(widths(wrapped), std::vector<int>({5, 4, 6, 7, 8, 9}));

  // Out of range: nothing moves.
  wrapped.rotate(2, 6, true);
  wrapped.rotate(3, 3, true);
  EXPECT_EQ(widths(wrapped), std::vector<int>({5, 4, 6, 7, 8, 9}));
}

}  // namespace
}  // namespace vantrelle
