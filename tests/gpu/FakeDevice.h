#pragma once
// A device whose textures and buffers live in memory, and that records what was uploaded.
#include <memory>
#include <vector>

#include "Vantrelle/GPU/GpuResources.h"

namespace vantrelle::test {

struct Upload {
  int x, y, w, h;
};

class FakeTexture : public GpuTexture {
 public:
  FakeTexture(int w, int h) : w(w), h(h) {}
  int width() const override { return w; }
  int height() const override { return h; }
  void replaceRegion(int x, int y, int rw, int rh, const uint8_t*, size_t) override {
    uploads.push_back({x, y, rw, rh});
  }
  int w, h;
  std::vector<Upload> uploads;
};

class FakeBuffer : public GpuBuffer {
 public:
  explicit FakeBuffer(size_t n) : bytes(n) {}
  size_t length() const override { return bytes.size(); }
  void write(const void* data, size_t count) override {
    std::copy_n(static_cast<const uint8_t*>(data), count, bytes.begin());
  }
  std::vector<uint8_t> bytes;
};

class FakeDevice : public GpuDevice {
 public:
  std::shared_ptr<GpuTexture> makeTexture(int w, int h, GpuPixelFormat) override {
    if (failTextures) return nullptr;
    auto t = std::make_shared<FakeTexture>(w, h);
    textures.push_back(t);
    return t;
  }
  std::shared_ptr<GpuBuffer> makeBuffer(size_t length) override {
    buffersMade++;
    return std::make_shared<FakeBuffer>(length);
  }
  bool supportsLargeTextures() const override { return large; }
  bool failTextures = false;
  bool large = false;
  int buffersMade = 0;
  std::vector<std::shared_ptr<FakeTexture>> textures;
};

}  // namespace vantrelle::test
