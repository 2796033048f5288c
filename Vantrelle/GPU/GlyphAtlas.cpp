#include "Vantrelle/GPU/GlyphAtlas.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Vantrelle/GPU/GpuLog.h"

namespace vantrelle {

namespace {

GpuPixelFormat pixelFormat(GlyphAtlasFormat format) {
  return format == GlyphAtlasFormat::grayscale ? GpuPixelFormat::r8 : GpuPixelFormat::bgra8;
}

// A decimal integer with an optional sign and nothing else; none otherwise.
std::optional<long> parseDecimal(const char* text) {
  if (!text || !*text) return std::nullopt;
  const char* p = text;
  if (*p == '+' || *p == '-') p++;
  if (!*p) return std::nullopt;
  for (const char* q = p; *q; q++) {
    if (*q < '0' || *q > '9') return std::nullopt;
  }
  errno = 0;
  long value = std::strtol(text, nullptr, 10);
  if (errno == ERANGE) return value < 0 ? -1 : 1L << 30;
  return value;
}

}  // namespace

const char* logName(GlyphAtlasFormat format) { return format == GlyphAtlasFormat::grayscale ? "grayscale" : "bgra"; }

std::unique_ptr<GlyphAtlas> GlyphAtlas::make(std::shared_ptr<GpuDevice> device, int size, int maxSize,
                                             GlyphAtlasFormat format) {
  if (!device) return nullptr;
  int side = std::max(256, std::min(size, maxSize));
  auto texture = device->makeTexture(side, side, pixelFormat(format));
  if (!texture) return nullptr;
  return std::unique_ptr<GlyphAtlas>(
      new GlyphAtlas(std::move(device), side, std::max(side, maxSize), format, std::move(texture)));
}

GlyphAtlas::GlyphAtlas(std::shared_ptr<GpuDevice> device, int size, int maxSize, GlyphAtlasFormat format,
                       std::shared_ptr<GpuTexture> texture)
    : device(std::move(device)),
      format(format),
      bytesPerPixel(format == GlyphAtlasFormat::grayscale ? 1 : 4),
      maxSize(maxSize),
      size(size),
      texture(std::move(texture)),
      data(size_t(size) * size * bytesPerPixel, 0) {}

int GlyphAtlas::recommendedMaxSize(const GpuDevice& device, GlyphAtlasFormat format) {
  if (auto value = parseDecimal(std::getenv("VANTRELLE_ATLAS_MAX"))) {
    long cap = device.supportsLargeTextures() ? 16384 : 8192;
    return int(std::min(std::max(*value, 256L), cap));
  }
  return format == GlyphAtlasFormat::grayscale ? 8192 : 4096;
}

std::optional<AtlasRegion> GlyphAtlas::reserve(int w, int h) {
  if (w > size || h > size) return std::nullopt;
  if (nextX + w > size) {
    nextX = 0;
    nextY += rowHeight;
    rowHeight = 0;
  }
  if (nextY + h > size) return std::nullopt;
  AtlasRegion region{nextX, nextY, w, h};
  nextX += w;
  rowHeight = std::max(rowHeight, h);
  return region;
}

std::optional<AtlasRegion> GlyphAtlas::ensureRegion(int width, int height) {
  didReset = false;
  if (width < 1 || height < 1) return std::nullopt;
  // Every region owns a one-pixel border so that linear sampling never reaches a neighbour.
  const int pw = width + 2, ph = height + 2;
  auto inner = [&](const AtlasRegion& r) { return AtlasRegion{r.x + 1, r.y + 1, width, height}; };
  if (auto r = reserve(pw, ph)) return inner(*r);
  if (frozen) {
    if (!loggedFrozenMiss) {
      atlasLog().fault("glyph atlas (%{public}s) frozen and full; glyphs will be skipped this frame", logName(format));
      loggedFrozenMiss = true;
    }
    return std::nullopt;
  }
  if (pw > maxSize || ph > maxSize) return std::nullopt;
  long n = size;
  if (size < maxSize) {
    while (true) {
      if (n >= std::max(pw, ph) && n >= long(nextY) + ph) break;
      n *= 2;
      if (n >= maxSize) break;
    }
  }
  int target = int(std::min<long>(maxSize, n));
  if (size < target) {
    grow(target);
    if (auto r = reserve(pw, ph)) return inner(*r);
  }
  if (!loggedResetOverflow) {
    atlasLog().error("glyph atlas (%{public}s) reset at size %ld: glyph working set exceeds capacity", logName(format),
                     long(size));
    loggedResetOverflow = true;
  }
  reset();
  didReset = true;
  if (auto r = reserve(pw, ph)) return inner(*r);
  return std::nullopt;
}

void GlyphAtlas::grow(int newSize) {
  if (size >= newSize) return;
  auto newTexture = device->makeTexture(newSize, newSize, pixelFormat(format));
  if (!newTexture) {
    atlasLog().error("glyph atlas (%{public}s) grow to %ld failed: texture allocation", logName(format), long(newSize));
    return;
  }
  atlasLog().info("glyph atlas (%{public}s) grow: %ld -> %ld", logName(format), long(size), long(newSize));
  std::vector<uint8_t> newData(size_t(newSize) * newSize * bytesPerPixel, 0);
  const size_t oldRow = size_t(size) * bytesPerPixel, newRow = size_t(newSize) * bytesPerPixel;
  for (int y = 0; y < size; y++) std::memcpy(&newData[y * newRow], &data[y * oldRow], oldRow);
  size = newSize;
  data = std::move(newData);
  texture = std::move(newTexture);
  loggedFrozenMiss = false;
  loggedResetOverflow = false;
  uploadAll();
}

void GlyphAtlas::reset() {
  nextX = nextY = rowHeight = 0;
  std::fill(data.begin(), data.end(), 0);
  uploadAll();
}

void GlyphAtlas::uploadAll() { texture->replaceRegion(0, 0, size, size, data.data(), size_t(size) * bytesPerPixel); }

void GlyphAtlas::write(AtlasRegion region, const uint8_t* pixels, int width, int height) {
  if (!pixels || width != region.width || height != region.height || width < 1 || height < 1) return;
  // A region that is not this atlas's (a stale one from before a reset of a smaller atlas) would
  // write out of bounds.
  if (region.x < 0 || region.y < 0 || region.x + width > size || region.y + height > size) return;
  const size_t stride = size_t(size) * bytesPerPixel;
  const size_t bpp = bytesPerPixel;
  // Rows are stored bottom row first, so texture coordinates grow upward like drawable y.
  for (int r = 0; r < height; r++) {
    const uint8_t* src = pixels + size_t(height - 1 - r) * width * 4;
    uint8_t* dst = &data[(region.y + r) * stride + region.x * bpp];
    if (format == GlyphAtlasFormat::grayscale) {
      for (int c = 0; c < width; c++) dst[c] = src[c * 4 + 3];
    } else {
      std::memcpy(dst, src, size_t(width) * 4);
    }
  }
  const int x0 = std::max(region.x - 1, 0), x1 = std::min(region.x + width + 1, size);
  const int y0 = std::max(region.y - 1, 0), y1 = std::min(region.y + height + 1, size);
  const size_t rowBytes = size_t(width) * bpp;
  for (int y = y0; y < region.y; y++) {
    std::memcpy(&data[y * stride + region.x * bpp], &data[region.y * stride + region.x * bpp], rowBytes);
  }
  for (int y = region.y + height; y < y1; y++) {
    std::memcpy(&data[y * stride + region.x * bpp], &data[(region.y + height - 1) * stride + region.x * bpp], rowBytes);
  }
  for (int y = y0; y < y1; y++) {
    uint8_t* row = &data[y * stride];
    for (int x = x0; x < region.x; x++) std::memcpy(row + x * bpp, row + region.x * bpp, bpp);
    for (int x = region.x + width; x < x1; x++) std::memcpy(row + x * bpp, row + (region.x + width - 1) * bpp, bpp);
  }
  texture->replaceRegion(x0, y0, x1 - x0, y1 - y0, &data[y0 * stride + x0 * bpp], stride);
}

}  // namespace vantrelle
