// Block elements, box drawing and their canvas. Everything straight is a whole-pixel rectangle,
// which is what lets neighbouring cells meet exactly; only arcs and diagonals are antialiased.
#include "Vantrelle/Render/BoxDrawing.h"

#include <algorithm>
#include <cmath>

namespace vantrelle {

std::optional<BlockAlpha> blockAlpha(double raw) {
  if (raw == 1.0) return BlockAlpha::full;
  if (raw == 0.75) return BlockAlpha::dark;
  if (raw == 0.5) return BlockAlpha::medium;
  if (raw == 0.25) return BlockAlpha::light;
  return std::nullopt;
}

const std::unordered_map<uint32_t, std::vector<BlockElementRect>>& BlockElementMapping::mapping() {
  static const auto table = [] {
    std::unordered_map<uint32_t, std::vector<BlockElementRect>> m;
    using R = BlockElementRect;
    m[0x2580] = {R{0, 8, 0, 4}};
    for (uint8_t n = 1; n <= 7; n++) m[0x2580 + n] = {R{0, 8, uint8_t(8 - n), 8}};
    m[0x2588] = {R{0, 8, 0, 8}};
    for (uint8_t n = 1; n <= 7; n++) m[0x2588 + n] = {R{0, uint8_t(8 - n), 0, 8}};
    m[0x2590] = {R{4, 8, 0, 8}};
    m[0x2591] = {R{0, 8, 0, 8, BlockAlpha::light}};
    m[0x2592] = {R{0, 8, 0, 8, BlockAlpha::medium}};
    m[0x2593] = {R{0, 8, 0, 8, BlockAlpha::dark}};
    m[0x2594] = {R{0, 8, 0, 1}};
    m[0x2595] = {R{7, 8, 0, 8}};
    m[0x2596] = {R{0, 4, 4, 8}};
    m[0x2597] = {R{4, 8, 4, 8}};
    m[0x2598] = {R{0, 4, 0, 4}};
    m[0x2599] = {R{0, 4, 0, 4}, R{0, 4, 4, 8}, R{4, 8, 4, 8}};
    m[0x259a] = {R{0, 4, 0, 4}, R{4, 8, 4, 8}};
    m[0x259b] = {R{0, 4, 0, 4}, R{4, 8, 0, 4}, R{0, 4, 4, 8}};
    m[0x259c] = {R{0, 4, 0, 4}, R{4, 8, 0, 4}, R{4, 8, 4, 8}};
    m[0x259d] = {R{4, 8, 0, 4}};
    m[0x259e] = {R{4, 8, 0, 4}, R{0, 4, 4, 8}};
    m[0x259f] = {R{4, 8, 0, 4}, R{0, 4, 4, 8}, R{4, 8, 4, 8}};
    return m;
  }();
  return table;
}

const std::vector<BlockElementRect>* BlockElementMapping::rects(uint32_t codePoint) {
  const auto& m = mapping();
  auto it = m.find(codePoint);
  return it == m.end() ? nullptr : &it->second;
}

void BoxDrawingCanvas::box(int x0, int y0, int x1, int y1) const {
  x0 = std::clamp(x0, 0, widthPx), x1 = std::clamp(x1, 0, widthPx);
  y0 = std::clamp(y0, 0, heightPx), y1 = std::clamp(y1, 0, heightPx);
  if (x1 <= x0 || y1 <= y0) return;
  cairo_rectangle(context, origin.x + x0 / scale, origin.y + y0 / scale, (x1 - x0) / scale, (y1 - y0) / scale);
  cairo_fill(context);
}

void hline(const BoxDrawingCanvas& canvas, int x1, int x2, int y, int thicknessPx) {
  canvas.box(x1, y, x2, y + thicknessPx);
}

void vline(const BoxDrawingCanvas& canvas, int y1, int y2, int x, int thicknessPx) {
  canvas.box(x, y1, x + thicknessPx, y2);
}

namespace {

// Arms of the straight-line characters as "URDL" digits: 0 none, 1 light, 2 heavy, 3 double.
struct ArmsEntry {
  uint16_t codePoint;
  const char* arms;
};
constexpr ArmsEntry kArms[] = {
    {0x2500, "0101"}, {0x2501, "0202"}, {0x2502, "1010"}, {0x2503, "2020"}, {0x250c, "0110"}, {0x250d, "0210"},
    {0x250e, "0120"}, {0x250f, "0220"}, {0x2510, "0011"}, {0x2511, "0012"}, {0x2512, "0021"}, {0x2513, "0022"},
    {0x2514, "1100"}, {0x2515, "1200"}, {0x2516, "2100"}, {0x2517, "2200"}, {0x2518, "1001"}, {0x2519, "1002"},
    {0x251a, "2001"}, {0x251b, "2002"}, {0x251c, "1110"}, {0x251d, "1210"}, {0x251e, "2110"}, {0x251f, "1120"},
    {0x2520, "2120"}, {0x2521, "2210"}, {0x2522, "1220"}, {0x2523, "2220"}, {0x2524, "1011"}, {0x2525, "1012"},
    {0x2526, "2011"}, {0x2527, "1021"}, {0x2528, "2021"}, {0x2529, "2012"}, {0x252a, "1022"}, {0x252b, "2022"},
    {0x252c, "0111"}, {0x252d, "0112"}, {0x252e, "0211"}, {0x252f, "0212"}, {0x2530, "0121"}, {0x2531, "0122"},
    {0x2532, "0221"}, {0x2533, "0222"}, {0x2534, "1101"}, {0x2535, "1102"}, {0x2536, "1201"}, {0x2537, "1202"},
    {0x2538, "2101"}, {0x2539, "2102"}, {0x253a, "2201"}, {0x253b, "2202"}, {0x253c, "1111"}, {0x253d, "1112"},
    {0x253e, "1211"}, {0x253f, "1212"}, {0x2540, "2111"}, {0x2541, "1121"}, {0x2542, "2121"}, {0x2543, "2112"},
    {0x2544, "2211"}, {0x2545, "1122"}, {0x2546, "1221"}, {0x2547, "2212"}, {0x2548, "1222"}, {0x2549, "2122"},
    {0x254a, "2221"}, {0x254b, "2222"}, {0x2550, "0303"}, {0x2551, "3030"}, {0x2552, "0310"}, {0x2553, "0130"},
    {0x2554, "0330"}, {0x2555, "0013"}, {0x2556, "0031"}, {0x2557, "0033"}, {0x2558, "1300"}, {0x2559, "3100"},
    {0x255a, "3300"}, {0x255b, "1003"}, {0x255c, "3001"}, {0x255d, "3003"}, {0x255e, "1310"}, {0x255f, "3130"},
    {0x2560, "3330"}, {0x2561, "1013"}, {0x2562, "3031"}, {0x2563, "3033"}, {0x2564, "0313"}, {0x2565, "0131"},
    {0x2566, "0333"}, {0x2567, "1303"}, {0x2568, "3101"}, {0x2569, "3303"}, {0x256a, "1313"}, {0x256b, "3131"},
    {0x256c, "3333"}, {0x2574, "0001"}, {0x2575, "1000"}, {0x2576, "0100"}, {0x2577, "0010"}, {0x2578, "0002"},
    {0x2579, "2000"}, {0x257a, "0200"}, {0x257b, "0020"}, {0x257c, "0201"}, {0x257d, "1020"}, {0x257e, "0102"},
    {0x257f, "2010"},
};

uint8_t arm(Lines lines, int shift) { return uint8_t((lines >> shift) & 0xff); }

// Bands across one axis of S pixels for light thickness L.
struct Bands {
  int lightLo, lightHi, heavyLo, heavyHi, outerLo, outerHi;
  Bands(int S, int L) {
    lightLo = std::max(S - L, 0) / 2;
    lightHi = std::min(lightLo + L, S);
    heavyLo = std::max(S - 2 * L, 0) / 2;
    heavyHi = std::min(heavyLo + 2 * L, S);
    outerLo = std::max(lightLo - L, 0);
    outerHi = std::min(lightHi + L, S);
  }
};

// Where the arms along one axis stop, from the kinds of the two arms across it.
struct Stops {
  int firstEnd;     // up arm (or left arm) runs from 0 to here
  int secondStart;  // down arm (or right arm) runs from here to the edge
};

Stops stopsFor(uint8_t crossA, uint8_t crossB, uint8_t alongA, uint8_t alongB, const Bands& across) {
  if (crossA == kHeavy || crossB == kHeavy) return {across.heavyHi, across.heavyLo};
  if (crossA == crossB && alongA != alongB) {
    if (crossA != kNone) return {across.lightLo, across.lightHi};
    return {across.lightHi, across.lightLo};
  }
  if (crossA == kDouble || crossB == kDouble) return {across.outerHi, across.outerLo};
  return {across.lightHi, across.lightLo};
}

}  // namespace

std::optional<Lines> BoxDrawingRenderer::linesFor(uint32_t codePoint) {
  for (const auto& entry : kArms) {
    if (entry.codePoint != codePoint) continue;
    auto digit = [&](int i) { return uint8_t(entry.arms[i] - '0'); };
    return makeLines(digit(0), digit(1), digit(2), digit(3));
  }
  return std::nullopt;
}

void BoxDrawingRenderer::linesChar(Lines lines, const BoxDrawingCanvas& canvas, int baseThicknessPx) {
  int L = std::max(canvas.minThicknessPx, baseThicknessPx);
  int W = canvas.widthPx, H = canvas.heightPx;
  uint8_t up = arm(lines, 0), right = arm(lines, 8), down = arm(lines, 16), left = arm(lines, 24);
  Bands horizontal(H, L);  // bands in y of the horizontal strokes
  Bands vertical(W, L);    // bands in x of the vertical strokes
  Stops v = stopsFor(left, right, up, down, horizontal);
  Stops h = stopsFor(up, down, left, right, vertical);

  auto verticalArm = [&](uint8_t kind, int y0, int y1, bool isUp) {
    if (kind == kLight) canvas.box(vertical.lightLo, y0, vertical.lightHi, y1);
    if (kind == kHeavy) canvas.box(vertical.heavyLo, y0, vertical.heavyHi, y1);
    if (kind != kDouble) return;
    int innerStop = isUp ? horizontal.lightLo : horizontal.lightHi;
    int leftY0 = y0, leftY1 = y1, rightY0 = y0, rightY1 = y1;
    if (left == kDouble) (isUp ? leftY1 : leftY0) = innerStop;
    if (right == kDouble) (isUp ? rightY1 : rightY0) = innerStop;
    canvas.box(vertical.outerLo, leftY0, vertical.lightLo, leftY1);
    canvas.box(vertical.lightHi, rightY0, vertical.outerHi, rightY1);
  };
  auto horizontalArm = [&](uint8_t kind, int x0, int x1, bool isLeft) {
    if (kind == kLight) canvas.box(x0, horizontal.lightLo, x1, horizontal.lightHi);
    if (kind == kHeavy) canvas.box(x0, horizontal.heavyLo, x1, horizontal.heavyHi);
    if (kind != kDouble) return;
    int innerStop = isLeft ? vertical.lightLo : vertical.lightHi;
    int topX0 = x0, topX1 = x1, bottomX0 = x0, bottomX1 = x1;
    if (up == kDouble) (isLeft ? topX1 : topX0) = innerStop;
    if (down == kDouble) (isLeft ? bottomX1 : bottomX0) = innerStop;
    canvas.box(topX0, horizontal.outerLo, topX1, horizontal.lightLo);
    canvas.box(bottomX0, horizontal.lightHi, bottomX1, horizontal.outerHi);
  };

  if (up) verticalArm(up, 0, v.firstEnd, true);
  if (right) horizontalArm(right, h.secondStart, W, false);
  if (down) verticalArm(down, v.secondStart, H, false);
  if (left) horizontalArm(left, 0, h.firstEnd, true);
}

void BoxDrawingRenderer::dashHorizontal(int n, int t, int g, const BoxDrawingCanvas& canvas, int b) {
  if (n < 2 || n > 4) return;
  int W = canvas.widthPx, H = canvas.heightPx;
  if (W < 2 * n) {
    int thickness = std::max(b, 1);
    hline(canvas, 0, W, std::max(H - thickness, 0) / 2, thickness);
    return;
  }
  int gap = std::min(W / (2 * n), g);
  int rest = W - n * gap;
  int dash = rest / n;
  int extra = rest - n * dash;
  int x = gap / 2;
  int y = std::max(H - t, 0) / 2;
  for (int i = 0; i < n; i++) {
    int length = dash + (extra > 0 ? 1 : 0);
    if (extra > 0) extra--;
    hline(canvas, x, x + length, y, t);
    x += length + gap;
  }
}

void BoxDrawingRenderer::dashVertical(int n, int t, int g, const BoxDrawingCanvas& canvas, int b) {
  if (n < 2 || n > 4) return;
  int W = canvas.widthPx, H = canvas.heightPx;
  if (H < 2 * n) {
    int thickness = std::max(b, 1);
    vline(canvas, 0, H, std::max(W - thickness, 0) / 2, thickness);
    return;
  }
  int gap = std::min(H / (2 * n), g);
  int rest = H - n * gap;
  int dash = rest / n;
  int extra = rest - n * dash;
  int y = gap / 2;
  int x = std::max(W - t, 0) / 2;
  for (int i = 0; i < n; i++) {
    int length = dash + (extra > 0 ? 1 : 0);
    if (extra > 0) extra--;
    vline(canvas, y, y + length, x, t);
    y += length + gap;
  }
}

void BoxDrawingRenderer::arc(Corner corner, int t, const BoxDrawingCanvas& canvas) {
  int W = canvas.widthPx, H = canvas.heightPx;
  int tt = std::max(t, 1);
  int hy = std::max(H - tt, 0) / 2, vx = std::max(W - tt, 0) / 2;
  double half = tt / 2.0;
  double cy = hy + half, cx = vx + half;
  double m = std::min(W, H);
  double r = std::min(0.3 * m, std::max(0.5 * m - half, 0.0));
  double outer = r + half, inner = std::max(r - half, 0.0);
  bool isUp = corner == 0 || corner == 1;
  bool isLeft = corner == 0 || corner == 2;
  // Straight parts from the cell edges to where the curve begins.
  if (isUp) {
    canvas.box(vx, 0, vx + tt, int(std::ceil(cy - r)));
  } else {
    canvas.box(vx, int(std::floor(cy + r)), vx + tt, H);
  }
  if (isLeft) {
    canvas.box(0, hy, int(std::ceil(cx - r)), hy + tt);
  } else {
    canvas.box(int(std::floor(cx + r)), hy, W, hy + tt);
  }
  if (outer <= 0) return;
  double centreX = cx + (isLeft ? -r : r), centreY = cy + (isUp ? -r : r);
  // The quarter of the ring facing the corner opposite the two arms.
  double clipX0 = isLeft ? centreX : 0, clipX1 = isLeft ? W : centreX;
  double clipY0 = isUp ? centreY : 0, clipY1 = isUp ? H : centreY;
  cairo_t* cr = canvas.context;
  cairo_save(cr);
  cairo_translate(cr, canvas.origin.x, canvas.origin.y);
  cairo_scale(cr, 1.0 / canvas.scale, 1.0 / canvas.scale);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_rectangle(cr, clipX0, clipY0, clipX1 - clipX0, clipY1 - clipY0);
  cairo_clip(cr);
  cairo_new_path(cr);
  cairo_arc(cr, centreX, centreY, outer, 0, 2 * M_PI);
  if (inner > 0) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, centreX, centreY, inner, 0, 2 * M_PI);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  } else {
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  }
  cairo_fill(cr);
  cairo_restore(cr);
}

namespace {
void diagonal(int t, const BoxDrawingCanvas& canvas, bool upperRightToLowerLeft) {
  int W = canvas.widthPx, H = canvas.heightPx;
  double w = std::max(t, canvas.minThicknessPx);
  if (w >= 2) w += 1;
  double dx = 0.5 * std::min(1.0, double(W) / H), dy = 0.5 * std::min(1.0, double(H) / W);
  cairo_t* cr = canvas.context;
  cairo_save(cr);
  cairo_translate(cr, canvas.origin.x, canvas.origin.y);
  cairo_scale(cr, 1.0 / canvas.scale, 1.0 / canvas.scale);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_width(cr, w);
  if (upperRightToLowerLeft) {
    cairo_move_to(cr, W + dx, -dy);
    cairo_line_to(cr, -dx, H + dy);
  } else {
    cairo_move_to(cr, -dx, -dy);
    cairo_line_to(cr, W + dx, H + dy);
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}
}  // namespace

void BoxDrawingRenderer::lightDiagonalUpperRightToLowerLeft(int t, const BoxDrawingCanvas& canvas) {
  diagonal(t, canvas, true);
}

void BoxDrawingRenderer::lightDiagonalUpperLeftToLowerRight(int t, const BoxDrawingCanvas& canvas) {
  diagonal(t, canvas, false);
}

void BoxDrawingRenderer::draw(uint32_t cp, cairo_t* context, ViewPoint cellOrigin, ViewSize cellSize, double scale,
                              const ViewColor& color, int baseThicknessPx) {
  if (cp < 0x2500 || cp > 0x257f || scale <= 0) return;
  int W = std::max(int(std::lround(cellSize.width * scale)), 1);
  int H = std::max(int(std::lround(cellSize.height * scale)), 1);
  BoxDrawingCanvas canvas{context, cellOrigin, W, H, scale, cellSize, std::max(int(std::lround(scale)), 1)};
  int L = std::max(canvas.minThicknessPx, baseThicknessPx);
  cairo_set_source_rgba(context, color.red, color.green, color.blue, color.alpha);
  if (auto lines = linesFor(cp)) {
    linesChar(*lines, canvas, baseThicknessPx);
    return;
  }
  int dashGap = std::max(L, 4);
  switch (cp) {
    case 0x2504:
      dashHorizontal(3, L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x2505:
      dashHorizontal(3, 2 * L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x2506:
      dashVertical(3, L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x2507:
      dashVertical(3, 2 * L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x2508:
      dashHorizontal(4, L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x2509:
      dashHorizontal(4, 2 * L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x250a:
      dashVertical(4, L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x250b:
      dashVertical(4, 2 * L, dashGap, canvas, baseThicknessPx);
      return;
    case 0x254c:
      dashHorizontal(2, L, L, canvas, baseThicknessPx);
      return;
    case 0x254d:
      dashHorizontal(2, 2 * L, 2 * L, canvas, baseThicknessPx);
      return;
    case 0x254e:
      dashVertical(2, L, 2 * L, canvas, baseThicknessPx);
      return;
    case 0x254f:
      dashVertical(2, 2 * L, 2 * L, canvas, baseThicknessPx);
      return;
    case 0x256d:
      arc(3, L, canvas);
      return;
    case 0x256e:
      arc(2, L, canvas);
      return;
    case 0x256f:
      arc(0, L, canvas);
      return;
    case 0x2570:
      arc(1, L, canvas);
      return;
    case 0x2571:
      lightDiagonalUpperRightToLowerLeft(L, canvas);
      return;
    case 0x2572:
      lightDiagonalUpperLeftToLowerRight(L, canvas);
      return;
    case 0x2573:
      lightDiagonalUpperRightToLowerLeft(L, canvas);
      lightDiagonalUpperLeftToLowerRight(L, canvas);
      return;
    default:
      return;
  }
}

}  // namespace vantrelle
