#pragma once
// A square texture that glyph bitmaps are packed into (shelf packing), with a CPU copy of its
// pixels so that growth and reset rebuild the texture in one upload and a glyph uploads only its
// own padded rectangle. A full atlas doubles towards its maximum; when that is not enough it
// forgets everything and starts again at its current size.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Vantrelle/GPU/GpuResources.h"

namespace vantrelle {

enum class GlyphAtlasFormat { grayscale, bgra };
const char* logName(GlyphAtlasFormat format);

struct AtlasRegion {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const AtlasRegion&) const = default;
};

class GlyphAtlas {
 public:
  // None when the device cannot make the texture.
  static std::unique_ptr<GlyphAtlas> make(std::shared_ptr<GpuDevice> device, int size, int maxSize,
                                          GlyphAtlasFormat format);
  static int recommendedMaxSize(const GpuDevice& device, GlyphAtlasFormat format);

  std::optional<AtlasRegion> ensureRegion(int width, int height);
  // `pixels`: width * height * 4 bytes, BGRA, first row = top of the glyph.
  void write(AtlasRegion region, const uint8_t* pixels, int width, int height);

  const std::shared_ptr<GpuDevice> device;
  const GlyphAtlasFormat format;
  const int bytesPerPixel;
  int maxSize;
  int size;
  std::shared_ptr<GpuTexture> texture;
  std::vector<uint8_t> data;
  int nextX = 0;
  int nextY = 0;
  int rowHeight = 0;
  bool didReset = false;
  bool frozen = false;
  bool loggedFrozenMiss = false;
  bool loggedResetOverflow = false;

 private:
  GlyphAtlas(std::shared_ptr<GpuDevice> device, int size, int maxSize, GlyphAtlasFormat format,
             std::shared_ptr<GpuTexture> texture);
  std::optional<AtlasRegion> reserve(int width, int height);
  void grow(int newSize);
  void reset();
  void uploadAll();
};

}  // namespace vantrelle
