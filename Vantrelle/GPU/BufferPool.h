#pragma once
// GPU buffers for per-frame data, handed out by length and taken back when the frame that used
// them has finished on the GPU, so that steady frames allocate nothing.
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Vantrelle/GPU/GpuResources.h"

namespace vantrelle {

// What a frame's submission offers: work to run once the GPU is done with the frame.
class CommandBuffer {
 public:
  void addCompletedHandler(std::function<void()> handler) { handlers.push_back(std::move(handler)); }
  // Runs the handlers once, in the order they were added.
  void complete();
  size_t handlerCount() const { return handlers.size(); }

 private:
  std::vector<std::function<void()>> handlers;
};

class BufferPool : public std::enable_shared_from_this<BufferPool> {
 public:
  BufferPool(std::shared_ptr<GpuDevice> device, size_t alignment = 256, size_t maxBuffersPerSize = 4);

  // 4096 bytes, doubled until it holds `byteCount` rounded up to the alignment; 0 for nothing.
  size_t pooledLength(size_t byteCount) const;
  std::shared_ptr<GpuBuffer> dequeue(size_t length);
  void commit(CommandBuffer& commandBuffer);
  void recycle(const std::vector<std::shared_ptr<GpuBuffer>>& buffers);
  size_t availableCount(size_t length);

  const std::shared_ptr<GpuDevice> device;
  const size_t alignment;
  const size_t maxBuffersPerSize;
  // Buffers handed out for the frame being encoded; main thread only.
  std::vector<std::shared_ptr<GpuBuffer>> frameBuffers;

 private:
  std::mutex lock;
  std::map<size_t, std::vector<std::shared_ptr<GpuBuffer>>> available;
};

}  // namespace vantrelle
