#include "Vantrelle/Render/PixelCanvas.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VANTRELLE_EIGHT_PIXELS 1
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vantrelle {

namespace {

// Every channel of a pixel times a / 255, rounded, two channels at a time: the image backend's
// own arithmetic, so the results agree to the bit.
inline uint32_t multiply(uint32_t x, uint32_t a) {
  uint32_t low = (x & 0xff00ff) * a + 0x800080;
  low = ((low + ((low >> 8) & 0xff00ff)) >> 8) & 0xff00ff;
  uint32_t high = ((x >> 8) & 0xff00ff) * a + 0x800080;
  high = (high + ((high >> 8) & 0xff00ff)) & 0xff00ff00;
  return low | high;
}

// Channel-wise sum, saturating at 255.
inline uint32_t add(uint32_t x, uint32_t y) {
  uint32_t low = (x & 0xff00ff) + (y & 0xff00ff);
  low = (low | (0x1000100 - ((low >> 8) & 0xff00ff))) & 0xff00ff;
  uint32_t high = ((x >> 8) & 0xff00ff) + ((y >> 8) & 0xff00ff);
  high = (high | (0x1000100 - ((high >> 8) & 0xff00ff))) & 0xff00ff;
  return low | high << 8;
}

// The colour `source` (premultiplied) scaled by `coverage`, over `destination`.
inline uint32_t over(uint32_t source, uint32_t coverage, uint32_t destination) {
  if (coverage != 255) source = multiply(source, coverage);
  uint32_t inverse = 255 - (source >> 24);
  if (inverse == 0) return source;
  return add(source, multiply(destination, inverse));
}

#if defined(__SSE2__)
// Each 16-bit lane times the matching lane of `a` / 255, rounded: multiply() for two pixels whose
// channels were widened to 16 bits.
inline __m128i multiplyLanes(__m128i x, __m128i a) {
  __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, a), _mm_set1_epi16(0x80));
  return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// over() for two pixels: the source (widened) scaled by the coverages widened to every channel.
inline __m128i overLanes(__m128i source, __m128i coverage, __m128i destination) {
  __m128i scaled = multiplyLanes(source, coverage);
  __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(scaled, 0xff), 0xff);
  __m128i inverse = _mm_sub_epi16(_mm_set1_epi16(255), alpha);
  return _mm_packus_epi16(scaled, multiplyLanes(destination, inverse));
}

// over() for four pixels at once, with the same results; returns how many were painted.
inline int overFour(uint32_t* row, const uint8_t* coverage, int count, uint32_t pixel) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i source = _mm_unpacklo_epi8(_mm_set1_epi32(int(pixel)), zero);
  int x = 0;
  for (; x + 4 <= count; x += 4) {
    uint32_t four;
    std::memcpy(&four, coverage + x, 4);
    if (!four) continue;
    __m128i c = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(four)), zero);
    c = _mm_unpacklo_epi16(c, c);
    __m128i cLow = _mm_unpacklo_epi32(c, c), cHigh = _mm_unpackhi_epi32(c, c);
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    // Scaled source and scaled destination, packed back to bytes, then summed as add() sums.
    __m128i low = overLanes(source, cLow, _mm_unpacklo_epi8(d, zero));
    __m128i high = overLanes(source, cHigh, _mm_unpackhi_epi8(d, zero));
    __m128i scaled = _mm_unpacklo_epi64(low, high), kept = _mm_unpackhi_epi64(low, high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_adds_epu8(scaled, kept));
  }
  return x;
}
#else
inline int overFour(uint32_t*, const uint8_t*, int, uint32_t) { return 0; }
#endif

#if defined(VANTRELLE_EIGHT_PIXELS)
// overFour's arithmetic on eight pixels at once where the processor has 256-bit integer lanes: the
// narrow glyph rows of a terminal take one step instead of two. Each 128-bit half holds pixels
// 0-1 and 4-5 (or 2-3 and 6-7) widened, as overFour holds 0-1 (2-3).
__attribute__((target("avx2"))) inline __m256i multiplyLanes8(__m256i x, __m256i a) {
  __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(x, a), _mm256_set1_epi16(0x80));
  return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

__attribute__((target("avx2"))) inline __m256i overLanes8(__m256i source, __m256i coverage, __m256i destination) {
  __m256i scaled = multiplyLanes8(source, coverage);
  __m256i alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(scaled, 0xff), 0xff);
  __m256i inverse = _mm256_sub_epi16(_mm256_set1_epi16(255), alpha);
  return _mm256_packus_epi16(scaled, multiplyLanes8(destination, inverse));
}

__attribute__((target("avx2"))) int overEight(uint32_t* row, const uint8_t* coverage, int count, uint32_t pixel) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i source = _mm256_unpacklo_epi8(_mm256_set1_epi32(int(pixel)), zero);
  // Byte shuffles that spread the eight coverages, each to the four 16-bit channels of its pixel,
  // in the order the pixels are widened: 0-1 and 4-5, then 2-3 and 6-7 (-1 clears a byte).
  const __m256i spreadLow = _mm256_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 1, -1,  //
                                             4, -1, 4, -1, 4, -1, 4, -1, 5, -1, 5, -1, 5, -1, 5, -1);
  const __m256i spreadHigh = _mm256_setr_epi8(2, -1, 2, -1, 2, -1, 2, -1, 3, -1, 3, -1, 3, -1, 3, -1,  //
                                              6, -1, 6, -1, 6, -1, 6, -1, 7, -1, 7, -1, 7, -1, 7, -1);
  int x = 0;
  for (; x + 8 <= count; x += 8) {
    uint64_t eight;
    std::memcpy(&eight, coverage + x, 8);
    if (!eight) continue;
    __m256i c = _mm256_set1_epi64x(int64_t(eight));
    __m256i cLow = _mm256_shuffle_epi8(c, spreadLow), cHigh = _mm256_shuffle_epi8(c, spreadHigh);
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
    __m256i low = overLanes8(source, cLow, _mm256_unpacklo_epi8(d, zero));
    __m256i high = overLanes8(source, cHigh, _mm256_unpackhi_epi8(d, zero));
    __m256i scaled = _mm256_unpacklo_epi64(low, high), kept = _mm256_unpackhi_epi64(low, high);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), _mm256_adds_epu8(scaled, kept));
  }
  return x;
}

#endif

// Rows of a mask to composite: `count` pixels a row in groups (it may take in a row's zero
// padding), `width` of them in all.
struct MaskRows {
  uint8_t* data;
  int stride;
  const uint8_t* coverage;
  int maskStride;
  int rows;
  int count;
  int width;
  uint32_t pixel;
  uint32_t* row(int y) const { return reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride)); }
};

inline void overTail(uint32_t* row, const uint8_t* coverage, int from, int to, uint32_t pixel) {
  for (int x = from; x < to; x++) {
    if (uint32_t c = coverage[x]) row[x] = over(pixel, c, row[x]);
  }
}

void overRows(const MaskRows& m) {
  for (int y = 0; y < m.rows; y++) {
    const uint8_t* coverage = m.coverage + size_t(y) * size_t(m.maskStride);
    overTail(m.row(y), coverage, overFour(m.row(y), coverage, m.count, m.pixel), m.width, m.pixel);
  }
}

#if defined(VANTRELLE_EIGHT_PIXELS)
__attribute__((target("avx2"))) void overRowsEight(const MaskRows& m) {
  for (int y = 0; y < m.rows; y++) {
    const uint8_t* coverage = m.coverage + size_t(y) * size_t(m.maskStride);
    uint32_t* row = m.row(y);
    int x = overEight(row, coverage, m.count, m.pixel);
    x += overFour(row + x, coverage + x, m.count - x, m.pixel);
    overTail(row, coverage, x, m.width, m.pixel);
  }
}

bool hasEightPixelLanes() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

// A cell's width of one pixel, in stores of four: a general fill spends longer choosing its way
// than storing the few pixels a cell has.
inline void fillRow(uint32_t* row, int count, uint32_t pixel) {
  int x = 0;
#if defined(__SSE2__)
  const __m128i four = _mm_set1_epi32(int(pixel));
  for (; x + 4 <= count; x += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), four);
#endif
  for (; x < count; x++) row[x] = pixel;
}

// The pixels overMany paints together at most; masks pad their rows to a multiple of it.
constexpr int paintGroup = 8;

bool isWhole(double value) { return std::abs(value - std::round(value)) < 1e-6; }

uint32_t channelShort(double value) { return uint32_t(std::clamp(value, 0.0, 1.0) * 65535.0 + 0.5); }

}  // namespace

std::optional<CoverageMask> coverageFromWhite(cairo_surface_t* scratch, int originX, int originY) {
  cairo_surface_flush(scratch);
  const uint8_t* data = cairo_image_surface_get_data(scratch);
  int stride = cairo_image_surface_get_stride(scratch);
  int width = cairo_image_surface_get_width(scratch), height = cairo_image_surface_get_height(scratch);
  int x0 = width, y0 = height, x1 = 0, y1 = 0;
  for (int y = 0; y < height; y++) {
    auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
    for (int x = 0; x < width; x++) {
      uint32_t p = row[x];
      if (!p) continue;
      uint32_t a = p >> 24;
      // White ink keeps every channel equal to the coverage; anything else has colours of its own.
      if ((p >> 16 & 0xff) != a || (p >> 8 & 0xff) != a || (p & 0xff) != a) return std::nullopt;
      x0 = std::min(x0, x), x1 = std::max(x1, x + 1);
      y0 = std::min(y0, y), y1 = std::max(y1, y + 1);
    }
  }
  CoverageMask mask;
  if (x1 <= x0) return mask;
  if (x0 == 0 || y0 == 0 || x1 == width || y1 == height) return std::nullopt;
  mask.left = x0 - originX, mask.top = y0 - originY;
  mask.width = x1 - x0, mask.height = y1 - y0;
  mask.rowBytes = (mask.width + paintGroup - 1) / paintGroup * paintGroup;
  mask.coverage.assign(size_t(mask.rowBytes) * size_t(mask.height), 0);
  for (int y = y0; y < y1; y++) {
    auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
    for (int x = x0; x < x1; x++) mask.coverage[size_t(y - y0) * size_t(mask.rowBytes) + size_t(x - x0)] = row[x] >> 24;
  }
  return mask;
}

std::optional<PixelCanvas> PixelCanvas::of(cairo_t* cr) {
  cairo_surface_t* target = cairo_get_target(cr);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_image_surface_get_format(target) != CAIRO_FORMAT_ARGB32 || cairo_get_operator(cr) != CAIRO_OPERATOR_OVER)
    return std::nullopt;
  cairo_matrix_t matrix;
  cairo_get_matrix(cr, &matrix);
  if (matrix.xx != 1 || matrix.yy != 1 || matrix.xy != 0 || matrix.yx != 0 || matrix.x0 != 0 || matrix.y0 != 0)
    return std::nullopt;
  double sx = 1, sy = 1, ox = 0, oy = 0;
  cairo_surface_get_device_scale(target, &sx, &sy);
  cairo_surface_get_device_offset(target, &ox, &oy);
  if (sx != sy || !(sx > 0) || ox != 0 || oy != 0) return std::nullopt;
  platform::CairoRectangleListPtr clip(cairo_copy_clip_rectangle_list(cr));
  bool plain = clip->status == CAIRO_STATUS_SUCCESS && clip->num_rectangles == 1;
  cairo_rectangle_t r = plain ? clip->rectangles[0] : cairo_rectangle_t{};
  if (!plain) return std::nullopt;
  double x0 = r.x * sx, y0 = r.y * sx, x1 = (r.x + r.width) * sx, y1 = (r.y + r.height) * sx;
  if (!isWhole(x0) || !isWhole(y0) || !isWhole(x1) || !isWhole(y1)) return std::nullopt;
  cairo_surface_flush(target);
  // Cairo takes a surface it has not yet drawn on for clear, and may then replace what lies under
  // its next drawing rather than blend over it, wiping what was painted here, as the backgrounds
  // under a colour glyph's box.
  cairo_surface_mark_dirty(target);
  PixelCanvas canvas;
  canvas.scale = sx;
  canvas.data = cairo_image_surface_get_data(target);
  canvas.stride = cairo_image_surface_get_stride(target);
  if (!canvas.data) return std::nullopt;
  int width = cairo_image_surface_get_width(target), height = cairo_image_surface_get_height(target);
  canvas.clipX0 = std::clamp(int(std::lround(x0)), 0, width),
  canvas.clipX1 = std::clamp(int(std::lround(x1)), 0, width);
  canvas.clipY0 = std::clamp(int(std::lround(y0)), 0, height);
  canvas.clipY1 = std::clamp(int(std::lround(y1)), 0, height);
  return canvas;
}

// Cairo keeps each channel in 16 bits, premultiplied, and paints with its upper byte.
uint32_t PixelCanvas::pixel(const ViewColor& color) {
  double alpha = std::clamp(color.alpha, 0.0, 1.0);
  return (channelShort(alpha) >> 8) << 24 | (channelShort(color.red * alpha) >> 8) << 16 |
         (channelShort(color.green * alpha) >> 8) << 8 | channelShort(color.blue * alpha) >> 8;
}

// The floor of the value plus a half, without a call into the maths library.
int PixelCanvas::devicePixel(double user) const {
  double value = user * scale + 0.5;
  int truncated = int(value);
  return truncated - (value < truncated);
}

void PixelCanvas::fill(int x0, int y0, int x1, int y1, uint32_t pixel) {
  x0 = std::max(x0, clipX0), y0 = std::max(y0, clipY0);
  x1 = std::min(x1, clipX1), y1 = std::min(y1, clipY1);
  if (x1 <= x0 || y1 <= y0 || !(pixel >> 24)) return;
  uint8_t* first = data + size_t(y0) * size_t(stride) + size_t(x0) * 4;
  const int count = x1 - x0, rows = y1 - y0;
  // A cell's background is a few pixels a row: the opaque case, nearly every one, stores rows with
  // nothing decided per row.
  if (pixel >> 24 == 255) {
    for (int y = 0; y < rows; y++, first += stride) fillRow(reinterpret_cast<uint32_t*>(first), count, pixel);
    return;
  }
  for (int y = 0; y < rows; y++, first += stride) {
    auto* row = reinterpret_cast<uint32_t*>(first);
    for (int x = 0; x < count; x++) row[x] = over(pixel, 255, row[x]);
  }
}

void PixelCanvas::paint(const CoverageMask& mask, int x, int y, uint32_t pixel) {
  int left = x + mask.left, top = y + mask.top;
  int x0 = std::max(left, clipX0), y0 = std::max(top, clipY0);
  int x1 = std::min(left + mask.width, clipX1), y1 = std::min(top + mask.height, clipY1);
  if (x1 <= x0 || y1 <= y0 || !(pixel >> 24)) return;
  // A row's zero padding leaves the pixels it covers as they are, so the last group may take it in
  // when those pixels lie inside the clip.
  const int maskStride = mask.stride();
  int count = x1 - x0, grouped = (count + paintGroup - 1) / paintGroup * paintGroup;
  if (x0 + grouped <= clipX1 && x0 - left + grouped <= maskStride) count = grouped;
  MaskRows rows{data + size_t(y0) * size_t(stride) + size_t(x0) * 4,
                stride,
                mask.coverage.data() + size_t(y0 - top) * size_t(maskStride) + size_t(x0 - left),
                maskStride,
                y1 - y0,
                count,
                x1 - x0,
                pixel};
#if defined(VANTRELLE_EIGHT_PIXELS)
  if (hasEightPixelLanes()) return overRowsEight(rows);
#endif
  overRows(rows);
}

}  // namespace vantrelle

namespace vantrelle {

void PixelCanvas::paintTogether(std::span<const Placed> masks, uint32_t pixel, CoverageMask& scratch) {
  // Each box is tested against the union of the boxes before it.
  int ux0 = std::numeric_limits<int>::max(), uy0 = ux0, ux1 = std::numeric_limits<int>::min(), uy1 = ux1;
  bool overlap = false;
  for (const auto& m : masks) {
    const CoverageMask& mask = *m.mask;
    int bx0 = m.x + mask.extentsX0, by0 = m.y + mask.extentsY0;
    int bx1 = m.x + mask.extentsX1, by1 = m.y + mask.extentsY1;
    if (bx0 == bx1 || by0 == by1) continue;
    if (bx0 < ux1 && bx1 > ux0 && by0 < uy1 && by1 > uy0) overlap = true;
    ux0 = std::min(ux0, bx0), uy0 = std::min(uy0, by0), ux1 = std::max(ux1, bx1), uy1 = std::max(uy1, by1);
  }
  if (!overlap) {
    for (const auto& m : masks) paint(*m.mask, m.x, m.y, pixel);
    return;
  }
  // Summed, the glyphs are composited within their measured boxes: ink past all of them is cut off.
  // Where no two glyphs' ink meets, the sum paints what painting them one by one does.
  int x0 = std::numeric_limits<int>::max(), y0 = x0, x1 = std::numeric_limits<int>::min(), y1 = x1;
  bool inkMeets = false;
  for (const auto& m : masks) {
    if (m.mask->empty()) continue;
    int left = m.x + m.mask->left, top = m.y + m.mask->top;
    int right = left + m.mask->width, bottom = top + m.mask->height;
    if (left < x1 && right > x0 && top < y1 && bottom > y0) inkMeets = true;
    x0 = std::min(x0, left), y0 = std::min(y0, top), x1 = std::max(x1, right), y1 = std::max(y1, bottom);
  }
  if (x1 <= x0) return;
  int savedX0 = clipX0, savedY0 = clipY0, savedX1 = clipX1, savedY1 = clipY1;
  clipX0 = std::max(clipX0, ux0), clipY0 = std::max(clipY0, uy0);
  clipX1 = std::min(clipX1, ux1), clipY1 = std::min(clipY1, uy1);
  if (inkMeets) {
    sum(masks, x0, y0, x1, y1, scratch);
    paint(scratch, x0, y0, pixel);
  } else {
    for (const auto& m : masks) paint(*m.mask, m.x, m.y, pixel);
  }
  clipX0 = savedX0, clipY0 = savedY0, clipX1 = savedX1, clipY1 = savedY1;
}

void PixelCanvas::sum(std::span<const Placed> masks, int x0, int y0, int x1, int y1, CoverageMask& scratch) {
  scratch.left = 0, scratch.top = 0;
  scratch.width = x1 - x0, scratch.height = y1 - y0;
  scratch.rowBytes = 0;
  scratch.coverage.assign(size_t(scratch.width) * size_t(scratch.height), 0);
  for (const auto& m : masks) {
    const CoverageMask& mask = *m.mask;
    int left = m.x + mask.left - x0, top = m.y + mask.top - y0;
    for (int y = 0; y < mask.height; y++) {
      uint8_t* into = &scratch.coverage[size_t(top + y) * size_t(scratch.width) + size_t(left)];
      const uint8_t* from = &mask.coverage[size_t(y) * size_t(mask.stride())];
      for (int x = 0; x < mask.width; x++) into[x] = uint8_t(std::min(255, into[x] + from[x]));
    }
  }
}

}  // namespace vantrelle
