#pragma once
// Value functions of the draw-data build: clipping with texture trimming, render-mode doubling,
// image quads, underline patterns, aspect fitting and the Kitty image signature.
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Vantrelle/Buffer/Attribute.h"
#include "Vantrelle/Buffer/BufferLine.h"
#include "Vantrelle/GPU/DrawRecords.h"
#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Render/AttributedRuns.h"
#include "Vantrelle/Render/ViewGeometry.h"

namespace vantrelle {

// A rectangle in device pixels, y up; x and y are its smaller corner.
struct PixelRect {
  double x = 0, y = 0, width = 0, height = 0;
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  bool operator==(const PixelRect&) const = default;
};

struct ClipRect {
  float minX = 0, minY = 0, maxX = 0, maxY = 0;
};

struct TexturedRect {
  float x0, y0, x1, y1;
  float s0, t0, s1, t1;
};

struct PlainRect {
  float x0, y0, x1, y1;
};

using RenderLineMode = BufferLine::RenderLineMode;

std::optional<TexturedRect> clipRect(TexturedRect rect, const std::optional<ClipRect>& clip);
std::optional<PlainRect> clipRect(PlainRect rect, const std::optional<ClipRect>& clip);
// Doubles x in every mode but single, y about `pivotY` in the double-height modes; ordered result.
PlainRect transformRect(PlainRect rect, RenderLineMode mode, float pivotY);

// `rect` and `uvRect` as (x, y, width, height); `rect` in points.
std::optional<ImageDraw> imageDraw(std::shared_ptr<GpuTexture> texture, ViewRect rect, ViewRect uvRect,
                                   RenderLineMode renderMode, const std::optional<ClipRect>& clip, float pivotY,
                                   double scale);
// Six vertices of one quad, smaller corner first.
void appendQuad(std::vector<GlyphVertex>& out, const TexturedRect& r, Float4 color);
void appendQuad(std::vector<ColorVertex>& out, const PlainRect& r, Float4 color);

UnderlineStyle resolveUnderlineStyle(const RunAttributes& attributes);
void appendUnderlineSegments(float x0, float x1, float yCenter, float thickness, Float4 color, UnderlineStyle style,
                             float patternScale, RenderLineMode renderMode, const std::optional<ClipRect>& clip,
                             float pivotY, std::vector<ColorCell>& output);

ViewRect kittyAspectFitRect(ViewSize imageSize, ViewRect rect);

struct KittyImageSignature {
  uint8_t kind = 0;
  int width = 0;
  int height = 0;
  size_t byteCount = 0;
  uint32_t headHash = 0;
  bool operator==(const KittyImageSignature&) const = default;
};
uint32_t hashBytes(std::span<const uint8_t> data, size_t limit);
KittyImageSignature kittySignature(const KittyGraphicsPayload& payload);

Float4 colorToSIMD(const ViewColor& color);
// Nearest integer, halves away from zero.
inline long roundHalfAway(double v) { return v < 0 ? -long(-v + 0.5) : long(v + 0.5); }
// A glyph bitmap drawn from a fractional origin is spread over two pixels by the sampler, which
// blurs it: its origin goes to the nearest whole device pixel, as Cairo places glyphs, at the place
// where the row's transform (which multiplies by `factor`) leaves it.
inline double wholeDevicePixel(double v, double factor = 1) { return std::floor(v * factor + 0.5) / factor; }

}  // namespace vantrelle
