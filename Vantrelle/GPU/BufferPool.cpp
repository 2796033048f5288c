#include "Vantrelle/GPU/BufferPool.h"

namespace vantrelle {

void CommandBuffer::complete() {
  auto pending = std::move(handlers);
  handlers.clear();
  for (auto& handler : pending) handler();
}

BufferPool::BufferPool(std::shared_ptr<GpuDevice> device, size_t alignment, size_t maxBuffersPerSize)
    : device(std::move(device)), alignment(alignment), maxBuffersPerSize(maxBuffersPerSize) {}

size_t BufferPool::pooledLength(size_t byteCount) const {
  if (byteCount == 0) return 0;
  size_t aligned = (byteCount + alignment - 1) / alignment * alignment;
  size_t length = 4096;
  while (length < aligned) length *= 2;
  return length;
}

std::shared_ptr<GpuBuffer> BufferPool::dequeue(size_t length) {
  {
    std::lock_guard guard(lock);
    auto it = available.find(length);
    if (it != available.end() && !it->second.empty()) {
      auto buffer = std::move(it->second.back());
      it->second.pop_back();
      return buffer;
    }
  }
  return device ? device->makeBuffer(length) : nullptr;
}

void BufferPool::commit(CommandBuffer& commandBuffer) {
  if (frameBuffers.empty()) return;
  std::weak_ptr<BufferPool> weakPool = weak_from_this();
  commandBuffer.addCompletedHandler([weakPool, buffers = frameBuffers] {
    if (auto pool = weakPool.lock()) pool->recycle(buffers);
  });
}

void BufferPool::recycle(const std::vector<std::shared_ptr<GpuBuffer>>& buffers) {
  std::lock_guard guard(lock);
  for (const auto& buffer : buffers) {
    if (!buffer) continue;
    auto& list = available[buffer->length()];
    if (list.size() >= maxBuffersPerSize) continue;
    list.push_back(buffer);
  }
}

size_t BufferPool::availableCount(size_t length) {
  std::lock_guard guard(lock);
  auto it = available.find(length);
  return it == available.end() ? 0 : it->second.size();
}

}  // namespace vantrelle
