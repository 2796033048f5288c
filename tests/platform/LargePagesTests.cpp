#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

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
