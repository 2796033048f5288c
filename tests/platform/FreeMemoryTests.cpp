#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ProcessMemory.h"
#include "platform/FreeMemory.h"

namespace {

using process_memory::residentBytes;

// Freed blocks below one still in use stay the process's until they are released.
TEST(FreeMemory, FreedBlocksBelowOneInUseGoBackToTheSystem) {
  constexpr size_t blocks = 16'384, blockBytes = 4'000;
  std::vector<std::unique_ptr<char[]>> freed;
  freed.reserve(blocks);
  for (size_t i = 0; i < blocks; i++) {
    freed.push_back(std::make_unique<char[]>(blockBytes));
    std::memset(freed.back().get(), 1, blockBytes);
  }
  // The block made last lies above the others.
  std::unique_ptr<char[]> inUse = std::move(freed.back());
  freed.clear();
  const size_t held = residentBytes();
  EXPECT_TRUE(platform::releaseFreeMemory());
  EXPECT_LT(residentBytes() + blocks * blockBytes / 2, held);
  EXPECT_EQ(inUse[blockBytes - 1], 1);
}

}  // namespace
