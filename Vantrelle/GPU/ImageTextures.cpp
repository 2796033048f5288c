// Images as textures: slices attached to buffer lines (one texture per image object, dropped with
// it) and Kitty images shown through placeholders (one per image id, replaced when the content
// changes and dropped when the image leaves the store).
#include <cairomm/surface.h>

#include <algorithm>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/Graphics/KittyGraphicsState.h"
#include "Vantrelle/Render/InlineImage.h"

namespace vantrelle {

std::shared_ptr<GpuTexture> MetalTerminalRenderer::uploadTexture(const uint8_t* pixels, int width, int height,
                                                                 size_t stride, GpuPixelFormat format) {
  if (!pixels || width <= 0 || height <= 0) return nullptr;
  auto texture = device->makeTexture(width, height, format);
  if (!texture) return nullptr;
  // Texture rows go bottom row first, so that v grows upward like the drawable's y.
  std::vector<uint8_t> flipped(size_t(width) * height * 4);
  for (int r = 0; r < height; r++) {
    std::copy_n(pixels + size_t(height - 1 - r) * stride, size_t(width) * 4, &flipped[size_t(r) * width * 4]);
  }
  texture->replaceRegion(0, 0, width, height, flipped.data(), size_t(width) * 4);
  return texture;
}

std::shared_ptr<GpuTexture> MetalTerminalRenderer::texture(const std::shared_ptr<TerminalImage>& image,
                                                           const Cairo::RefPtr<Cairo::ImageSurface>& surface) {
  if (!image) return nullptr;
  // Entries of images that are gone are dropped, so a new image at a reused address starts afresh.
  pruneImageTextureCache();
  if (auto it = imageTextureCache.find(image.get()); it != imageTextureCache.end()) return it->second.second;
  if (!surface || surface->get_format() != Cairo::Surface::Format::ARGB32) return nullptr;
  surface->flush();
  auto tex = uploadTexture(surface->get_data(), surface->get_width(), surface->get_height(),
                           size_t(surface->get_stride()), GpuPixelFormat::bgra8);
  if (!tex) return nullptr;
  imageTextureCache[image.get()] = {image, tex};
  return tex;
}

namespace {

// Whether two payloads hold the same picture. An image sent again under its id is a new payload:
// its leading bytes alone do not tell (frames of an animation often start alike), so bytes that
// lie elsewhere are compared whole.
bool samePicture(const KittyGraphicsPayload& a, const KittyGraphicsPayload& b) {
  auto left = a.bytes(), right = b.bytes();
  if (left.data() == right.data() && left.size() == right.size()) return a.kind() == b.kind();
  if (!(kittySignature(a) == kittySignature(b))) return false;
  return std::equal(left.begin(), left.end(), right.begin(), right.end());
}

}  // namespace

std::shared_ptr<GpuTexture> MetalTerminalRenderer::kittyTexture(const KittyGraphicsState& kitty, uint32_t imageId) {
  auto& images = kitty.imagesById;
  auto found = images.find(imageId);
  if (found == images.end()) return nullptr;
  const KittyGraphicsPayload& payload = found->second.payload;
  if (auto it = kittyTextureCache.find(imageId);
      it != kittyTextureCache.end() && samePicture(it->second.payload, payload)) {
    it->second.payload = payload;
    return it->second.texture;
  }
  Cairo::RefPtr<Cairo::ImageSurface> surface = payload.isPng()
                                                   ? imageFromPNG(payload.bytes())
                                                   : imageFromRGBA(payload.bytes(), payload.width(), payload.height());
  if (!surface) return nullptr;
  surface->flush();
  auto tex = uploadTexture(surface->get_data(), surface->get_width(), surface->get_height(),
                           size_t(surface->get_stride()), GpuPixelFormat::bgra8);
  if (!tex) return nullptr;
  kittyTextureCache.insert_or_assign(imageId, KittyTextureEntry{payload, tex});
  return tex;
}

void MetalTerminalRenderer::pruneImageTextureCache() {
  std::erase_if(imageTextureCache, [](const auto& entry) { return entry.second.first.expired(); });
}

void MetalTerminalRenderer::pruneKittyTextureCache(const KittyGraphicsState& kitty) {
  auto& images = kitty.imagesById;
  std::erase_if(kittyTextureCache, [&](const auto& entry) { return !images.count(entry.first); });
}

std::vector<ImageDrawBuffer> MetalTerminalRenderer::makeImageDrawBuffers(const std::vector<ImageDraw>& draws) {
  std::vector<ImageDrawBuffer> result;
  for (const auto& draw : draws) {
    if (draw.vertices.empty()) continue;
    size_t bytes = draw.vertices.size() * sizeof(GlyphVertex);
    auto buffer = device->makeBuffer(bytes);
    if (!buffer) continue;
    buffer->write(draw.vertices.data(), bytes);
    result.push_back({draw.texture, buffer, int(draw.vertices.size())});
  }
  return result;
}

}  // namespace vantrelle
