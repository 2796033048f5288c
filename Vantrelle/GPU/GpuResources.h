#pragma once
// What the renderer needs of a graphics device, kept abstract so that the CPU-side caches (glyph
// atlas, buffer pool) are exercised without a GPU. The OpenGL device implements it.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vantrelle {

enum class GpuPixelFormat { r8, bgra8, rgba8 };

class GpuTexture {
 public:
  virtual ~GpuTexture() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // `bytes` points at the first pixel of the region; rows are `bytesPerRow` apart.
  virtual void replaceRegion(int x, int y, int w, int h, const uint8_t* bytes, size_t bytesPerRow) = 0;
};

class GpuBuffer {
 public:
  virtual ~GpuBuffer() = default;
  virtual size_t length() const = 0;
  // Copies `count` bytes to the start of the buffer; `count` never exceeds `length()`.
  virtual void write(const void* bytes, size_t count) = 0;
};

class GpuDevice {
 public:
  virtual ~GpuDevice() = default;
  // None when the device cannot make it.
  virtual std::shared_ptr<GpuTexture> makeTexture(int width, int height, GpuPixelFormat format) = 0;
  virtual std::shared_ptr<GpuBuffer> makeBuffer(size_t length) = 0;
  // Whether textures of 16384 pixels a side are available.
  virtual bool supportsLargeTextures() const = 0;
};

}  // namespace vantrelle
