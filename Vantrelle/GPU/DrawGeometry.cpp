#include "Vantrelle/GPU/DrawGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vantrelle {

std::optional<TexturedRect> clipRect(TexturedRect r, const std::optional<ClipRect>& clip) {
  if (!clip) return r;
  if (!(r.x1 - r.x0 > 0) || !(r.y1 - r.y0 > 0)) return std::nullopt;
  float x0 = std::max(r.x0, clip->minX), x1 = std::min(r.x1, clip->maxX);
  float y0 = std::max(r.y0, clip->minY), y1 = std::min(r.y1, clip->maxY);
  if (!(x1 - x0 > 0) || !(y1 - y0 > 0)) return std::nullopt;
  auto trim = [](float t0, float t1, float v, float v0, float v1) { return t0 + (t1 - t0) * (v - v0) / (v1 - v0); };
  return TexturedRect{x0,
                      y0,
                      x1,
                      y1,
                      trim(r.s0, r.s1, x0, r.x0, r.x1),
                      trim(r.t0, r.t1, y0, r.y0, r.y1),
                      trim(r.s0, r.s1, x1, r.x0, r.x1),
                      trim(r.t0, r.t1, y1, r.y0, r.y1)};
}

std::optional<PlainRect> clipRect(PlainRect r, const std::optional<ClipRect>& clip) {
  if (!clip) return r;
  float x0 = std::max(r.x0, clip->minX), x1 = std::min(r.x1, clip->maxX);
  float y0 = std::max(r.y0, clip->minY), y1 = std::min(r.y1, clip->maxY);
  if (!(x1 - x0 > 0) || !(y1 - y0 > 0)) return std::nullopt;
  return PlainRect{x0, y0, x1, y1};
}

PlainRect transformRect(PlainRect r, RenderLineMode mode, float pivotY) {
  if (mode != RenderLineMode::single) {
    r.x0 *= 2;
    r.x1 *= 2;
  }
  if (mode == RenderLineMode::doubledTop || mode == RenderLineMode::doubledDown) {
    r.y0 = pivotY + 2 * (r.y0 - pivotY);
    r.y1 = pivotY + 2 * (r.y1 - pivotY);
  }
  return {std::min(r.x0, r.x1), std::min(r.y0, r.y1), std::max(r.x0, r.x1), std::max(r.y0, r.y1)};
}

void appendQuad(std::vector<GlyphVertex>& out, const TexturedRect& r, Float4 c) {
  out.push_back({{r.x0, r.y0}, {r.s0, r.t0}, c});
  out.push_back({{r.x1, r.y0}, {r.s1, r.t0}, c});
  out.push_back({{r.x0, r.y1}, {r.s0, r.t1}, c});
  out.push_back({{r.x1, r.y0}, {r.s1, r.t0}, c});
  out.push_back({{r.x1, r.y1}, {r.s1, r.t1}, c});
  out.push_back({{r.x0, r.y1}, {r.s0, r.t1}, c});
}

void appendQuad(std::vector<ColorVertex>& out, const PlainRect& r, Float4 c) {
  for (auto [x, y] : {std::pair{r.x0, r.y0}, {r.x1, r.y0}, {r.x0, r.y1}, {r.x1, r.y0}, {r.x1, r.y1}, {r.x0, r.y1}}) {
    out.push_back({{x, y}, {}, c});
  }
}

std::optional<ImageDraw> imageDraw(std::shared_ptr<GpuTexture> texture, ViewRect rect, ViewRect uv, RenderLineMode mode,
                                   const std::optional<ClipRect>& clip, float pivotY, double scale) {
  PlainRect scaled{float(rect.x * scale), float(rect.y * scale), float(rect.maxX() * scale),
                   float(rect.maxY() * scale)};
  PlainRect p = transformRect(scaled, mode, pivotY);
  TexturedRect t{p.x0, p.y0, p.x1, p.y1, float(uv.x), float(uv.y), float(uv.maxX()), float(uv.maxY())};
  if (clip) {
    auto clipped = clipRect(t, clip);
    if (!clipped) return std::nullopt;
    t = *clipped;
  }
  ImageDraw draw{std::move(texture), {}};
  appendQuad(draw.vertices, t, {1, 1, 1, 1});
  return draw;
}

UnderlineStyle resolveUnderlineStyle(const RunAttributes& a) {
  if (a.vantrelleUnderlineStyle && *a.vantrelleUnderlineStyle >= 0 && *a.vantrelleUnderlineStyle <= 5) {
    return UnderlineStyle(*a.vantrelleUnderlineStyle);
  }
  if (!a.underlineStyle) return UnderlineStyle::none;
  int v = *a.underlineStyle;
  if ((v & 0x1) && (v & 0x8)) return UnderlineStyle::double_;
  if (v & 0x100) return UnderlineStyle::dotted;
  if (v & 0x600) return UnderlineStyle::dashed;
  return v != 0 ? UnderlineStyle::single : UnderlineStyle::none;
}

void appendUnderlineSegments(float x0, float x1, float yCenter, float thickness, Float4 color, UnderlineStyle style,
                             float patternScale, RenderLineMode mode, const std::optional<ClipRect>& clip, float pivotY,
                             std::vector<ColorCell>& output) {
  const float half = thickness / 2;
  const float step = std::max(thickness, patternScale);
  auto segment = [&](float a, float b, float center, float below = 0, float above = 0) {
    PlainRect r = transformRect({a, center - half - below, b, center + half + above}, mode, pivotY);
    auto clipped = clipRect(r, clip);
    if (!clipped) return;
    output.push_back({{clipped->x0, clipped->y0}, {clipped->x1 - clipped->x0, clipped->y1 - clipped->y0}, color});
  };
  switch (style) {
    case UnderlineStyle::none:
      return;
    case UnderlineStyle::single:
    case UnderlineStyle::double_:
      segment(x0, x1, yCenter);
      return;
    case UnderlineStyle::curly: {
      const float period = std::max(4 * thickness, 4 * patternScale);
      // A zero step would never advance; such a line has no width to draw anyway.
      if (!(step > 0)) return;
      // A wave whose steps are farther apart than the line is thick (a thin line on a display of
      // scale 2) would fall apart into dashes: each step reaches back to the one before it.
      float previous = yCenter;
      for (float x = x0; x < x1;) {
        float end = std::min(x1, x + step);
        float center = yCenter + step * float(std::sin(2 * std::numbers::pi * (x - x0) / period));
        float gap = std::max(0.0f, std::abs(center - previous) - thickness);
        segment(x, end, center, center > previous ? gap : 0, center < previous ? gap : 0);
        previous = center;
        x = end;
      }
      return;
    }
    case UnderlineStyle::dotted:
      if (!(step > 0)) return;
      for (float x = x0; x < x1; x += 3 * step) segment(x, std::min(x1, x + step), yCenter);
      return;
    case UnderlineStyle::dashed: {
      const float d = std::max(2 * thickness, 2 * patternScale);
      if (!(d > 0)) return;
      for (float x = x0; x < x1; x += 2 * d) segment(x, std::min(x1, x + d), yCenter);
      return;
    }
  }
}

ViewRect kittyAspectFitRect(ViewSize image, ViewRect rect) {
  if (!(image.width > 0 && image.height > 0 && rect.width > 0 && rect.height > 0)) return rect;
  double s = std::min(rect.width / image.width, rect.height / image.height);
  double w = image.width * s, h = image.height * s;
  return {rect.x + (rect.width - w) / 2, rect.y + (rect.height - h) / 2, w, h};
}

uint32_t hashBytes(std::span<const uint8_t> data, size_t limit) {
  size_t n = std::min(data.size(), limit);
  if (n == 0) return 0;
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < n; i++) {
    hash ^= data[i];
    hash *= 16777619u;
  }
  return hash;
}

KittyImageSignature kittySignature(const KittyGraphicsPayload& payload) {
  auto bytes = payload.bytes();
  if (payload.isPng()) return {1, 0, 0, bytes.size(), hashBytes(bytes, 64)};
  return {2, payload.width(), payload.height(), bytes.size(), hashBytes(bytes, 64)};
}

Float4 colorToSIMD(const ViewColor& c) { return {float(c.red), float(c.green), float(c.blue), float(c.alpha)}; }

}  // namespace vantrelle
