#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/FreeMemory.h"

namespace {

size_t residentBytes() {
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return size_t(resident) * size_t(sysconf(_SC_PAGESIZE));
}

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
