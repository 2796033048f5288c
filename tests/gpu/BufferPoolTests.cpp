#include <gtest/gtest.h>

#include "FakeDevice.h"
#include "Vantrelle/GPU/BufferPool.h"

namespace vantrelle {
namespace {

TEST(BufferPool, LengthsAreQuantised) {
  BufferPool pool(std::make_shared<test::FakeDevice>());
  EXPECT_EQ(pool.pooledLength(0), 0u);
  EXPECT_EQ(pool.pooledLength(1), 4096u);
  EXPECT_EQ(pool.pooledLength(4096), 4096u);
  EXPECT_EQ(pool.pooledLength(4097), 8192u);
  EXPECT_EQ(pool.pooledLength(9000), 16384u);
  EXPECT_EQ(pool.pooledLength(100 * 48), 8192u);
}

TEST(BufferPool, ReusesLastInFirstOutAndKeepsAtMostFour) {
  auto device = std::make_shared<test::FakeDevice>();
  auto pool = std::make_shared<BufferPool>(device);
  auto a = pool->dequeue(4096);
  pool->recycle({a});
  EXPECT_EQ(pool->dequeue(4096), a);
  EXPECT_NE(pool->dequeue(4096), a);
  EXPECT_EQ(device->buffersMade, 2);

  std::vector<std::shared_ptr<GpuBuffer>> five;
  for (int i = 0; i < 5; i++) five.push_back(device->makeBuffer(8192));
  pool->recycle(five);
  EXPECT_EQ(pool->availableCount(8192), 4u);
}

TEST(BufferPool, FrameBuffersComeBackWhenTheFrameCompletes) {
  auto pool = std::make_shared<BufferPool>(std::make_shared<test::FakeDevice>());
  CommandBuffer idle;
  pool->commit(idle);
  EXPECT_EQ(idle.handlerCount(), 0u);  // nothing used, nothing registered

  pool->frameBuffers.push_back(pool->dequeue(4096));
  CommandBuffer frame;
  pool->commit(frame);
  EXPECT_EQ(pool->availableCount(4096), 0u);
  frame.complete();
  EXPECT_EQ(pool->availableCount(4096), 1u);

  // A pool that is gone when the GPU finishes is not touched.
  pool->frameBuffers.push_back(pool->dequeue(4096));
  CommandBuffer late;
  pool->commit(late);
  pool.reset();
  late.complete();
}

}  // namespace
}  // namespace vantrelle
