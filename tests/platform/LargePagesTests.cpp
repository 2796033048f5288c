#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "platform/LargePages.h"

using platform::allocateLargePages;
using platform::largePageBytes;
using platform::releaseLargePages;

TEST(LargePages, RegionsAreAlignedZeroedAndWritable) {
  for (size_t pages : {1, 3}) {
    const size_t bytes = pages * largePageBytes;
    auto* region = static_cast<unsigned char*>(allocateLargePages(bytes));
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(region) % largePageBytes, 0u);
    EXPECT_EQ(region[0] | region[bytes / 2] | region[bytes - 1], 0);
    std::memset(region, 0xa5, bytes);
    EXPECT_EQ(region[bytes - 1], 0xa5);
    releaseLargePages(region, bytes);
  }
}

TEST(LargePages, SizesThatAreNotWholePagesAreRefused) {
  EXPECT_EQ(allocateLargePages(0), nullptr);
  EXPECT_EQ(allocateLargePages(largePageBytes + 4096), nullptr);
  EXPECT_EQ(allocateLargePages(SIZE_MAX - SIZE_MAX % largePageBytes), nullptr);
  releaseLargePages(nullptr, largePageBytes);
}

TEST(LargePages, ReleasedRegionsAreReusedUpToTheCacheBound) {
  using platform::allocateReusableLargePages;
  using platform::maxReusableRegions;
  using platform::releaseReusableLargePages;
  using platform::reusableRegionsHeld;
  std::vector<void*> regions;
  for (size_t i = 0; i < maxReusableRegions + 2; i++) {
    regions.push_back(allocateReusableLargePages(largePageBytes));
    ASSERT_NE(regions.back(), nullptr);
    std::memset(regions.back(), 0x5a, largePageBytes);
  }
  for (void* region : regions) releaseReusableLargePages(region, largePageBytes);
  EXPECT_EQ(reusableRegionsHeld(), maxReusableRegions) << "the rest went back to the system";
  std::set<void*> released(regions.begin(), regions.end());
  regions.clear();
  for (size_t i = 0; i < maxReusableRegions; i++) {
    auto* region = static_cast<unsigned char*>(allocateReusableLargePages(largePageBytes));
    EXPECT_TRUE(released.count(region));
    region[largePageBytes - 1] = 1;  // still mapped and writable, whatever the kernel took back
    regions.push_back(region);
  }
  EXPECT_EQ(reusableRegionsHeld(), 0u);
  // Other sizes never enter the cache.
  void* larger = allocateReusableLargePages(2 * largePageBytes);
  ASSERT_NE(larger, nullptr);
  releaseReusableLargePages(larger, 2 * largePageBytes);
  EXPECT_EQ(reusableRegionsHeld(), 0u);
  for (void* region : regions) releaseReusableLargePages(region, largePageBytes);
  releaseReusableLargePages(nullptr, largePageBytes);
  EXPECT_EQ(reusableRegionsHeld(), maxReusableRegions);
}

TEST(LargePages, SupplyingPagesKeepsWhatTheyHoldAndTheirNeighbours) {
  // Heap blocks start anywhere: ranges that begin and end inside pages, ones within a single page,
  // and empty ones leave every byte as it was.
  constexpr size_t bytes = 5 * 4096;
  std::vector<unsigned char> before(bytes + 64);
  for (size_t i = 0; i < before.size(); i++) before[i] = static_cast<unsigned char>(i * 7 + 1);
  std::vector<unsigned char> block = before;
  for (const auto& [start, length] : {std::pair<size_t, size_t>{0, bytes}, {13, bytes - 40}, {100, 200}, {7, 0}}) {
    platform::supplyPages(block.data() + start, length);
    EXPECT_EQ(block, before) << "from " << start << ", " << length << " bytes";
  }
  platform::supplyPages(nullptr, 0);
  // Fresh memory the kernel has not supplied yet reads as zero afterwards and takes writes.
  auto* region = static_cast<unsigned char*>(allocateLargePages(largePageBytes));
  ASSERT_NE(region, nullptr);
  platform::supplyPages(region + 1000, largePageBytes - 2000);
  EXPECT_EQ(region[4096] | region[largePageBytes / 2], 0);
  region[largePageBytes - 1] = 1;
  releaseLargePages(region, largePageBytes);
}
