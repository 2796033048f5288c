// One buffer row into GPU records, layer by layer: custom glyphs with their powerline joins,
// backgrounds, the images attached to the line, font glyphs, underline and strikethrough, and
// images shown through placeholders. The row is cut by the same analysis as the Cairo path's, so
// both drawing paths agree on runs, colours, selection and special cells.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/GPU/PowerlineRenderer.h"
#include "Vantrelle/Render/CellGlyphs.h"
#include "Vantrelle/Render/InlineImage.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

// What every record of one row shares: the render-mode transform and the clip.
struct RowFrame {
  RenderLineMode mode = RenderLineMode::single;
  float pivot = 0;
  std::optional<ClipRect> clip;

  std::optional<PlainRect> place(PlainRect r) const { return clipRect(transformRect(r, mode, pivot), clip); }
  std::optional<TexturedRect> place(TexturedRect t) const {
    PlainRect p = transformRect({t.x0, t.y0, t.x1, t.y1}, mode, pivot);
    return clipRect(TexturedRect{p.x0, p.y0, p.x1, p.y1, t.s0, t.t0, t.s1, t.t1}, clip);
  }
};

ColorCell colorCell(const PlainRect& r, Float4 color) { return {{r.x0, r.y0}, {r.x1 - r.x0, r.y1 - r.y0}, color}; }

TextCell textCell(const TexturedRect& r, Float4 color) {
  return {{r.x0, r.y0}, {r.x1 - r.x0, r.y1 - r.y0}, {r.s0, r.t0}, {r.s1 - r.s0, r.t1 - r.t0}, color};
}

int cellAt(const std::vector<uint32_t>& offsets, uint32_t offset) {
  auto it = std::upper_bound(offsets.begin(), offsets.end(), offset);
  return std::max(int(it - offsets.begin()) - 1, 0);
}

TextCell atlasCell(const RowFrame& frame, const AtlasRegion& region, float side, double x, double y, double w, double h,
                   Float4 color, bool& placed) {
  TexturedRect t{float(x),
                 float(y),
                 float(x + w),
                 float(y + h),
                 region.x / side,
                 region.y / side,
                 (region.x + region.width) / side,
                 (region.y + region.height) / side};
  auto p = frame.place(t);
  placed = p.has_value();
  return p ? textCell(*p, color) : TextCell{};
}

// Steps of the sizes at which glyphs shrunk into their slot are rasterised.
constexpr double fitSteps = 64;

// A glyph's ink and advance in points, y up from the baseline.
std::pair<ViewRect, double> glyphExtents(PangoFont* font, uint32_t glyph) {
  PangoRectangle ink, logical;
  pango_font_get_glyph_extents(font, glyph, &ink, &logical);
  ViewRect bounds{double(ink.x) / PANGO_SCALE, -double(ink.y + ink.height) / PANGO_SCALE,
                  double(ink.width) / PANGO_SCALE, double(ink.height) / PANGO_SCALE};
  return {bounds, double(logical.width) / PANGO_SCALE};
}

}  // namespace

GlyphSlotFit FrameSnapshot::cellGlyphFit(PangoFont* font, uint32_t glyph, double clusterAdvance,
                                         int columnWidth) const {
  if (!cellSize) return {};
  const bool overflows = glyphOverflowsSlot(clusterAdvance, columnWidth, cellSize->width);
  if (columnWidth < 2 && !overflows) return {};
  auto [bounds, advance] = glyphExtents(font, glyph);
  return glyphSlotFit(overflows ? clusterAdvance : advance, bounds, columnWidth);
}

// What every layer of one row reads: the frame, the cut row and the row's place in points and
// device pixels.
struct RowLayout {
  RowLayout(const FrameSnapshot& frame, const ViewLineInfo& info) : frame(frame), info(info) {}
  const FrameSnapshot& frame;
  const ViewLineInfo& info;
  int cols = 0;
  double cellWidth = 0, cellHeight = 0, scale = 1, viewWidthPx = 0;
  double rowBottom = 0, rowTop = 0, rowBottomPx = 0, rowTopPx = 0, baseline = 0;
  int cellWidthPx = 1, cellHeightPx = 1;
  // Underline thickness in points, a whole number of device pixels.
  double underlineThickness = 1;
  RowFrame place;
};

RowDrawData MetalTerminalRenderer::buildRowDrawData(const FrameSnapshot& frame, int row, Buffer& buffer, int yDisp,
                                                    double cellWidth, double cellHeight, double yOffset,
                                                    double viewWidthPx, double scale, const Placements& virtuals) {
  RowDrawData out;
  if (!frame.terminal || !frame.rows.style) return out;
  const BufferLine& line = *buffer.lines()[row];
  ViewLineInfo info = frame.rows.cut(row, line, buffer.cols());
  RowLayout layout{frame, info};
  layout.cols = buffer.cols();
  layout.cellWidth = cellWidth, layout.cellHeight = cellHeight, layout.scale = scale;
  layout.viewWidthPx = viewWidthPx;
  layout.rowBottom = frame.bounds.height - cellHeight * (row - yDisp + 1);
  layout.rowTop = layout.rowBottom + cellHeight;
  layout.rowBottomPx = scale * layout.rowBottom;
  layout.rowTopPx = layout.rowBottomPx + scale * cellHeight;
  layout.cellWidthPx = int(std::max(1L, roundHalfAway(cellWidth * scale)));
  layout.cellHeightPx = int(std::max(1L, roundHalfAway(cellHeight * scale)));
  layout.baseline = layout.rowBottom + yOffset;
  layout.underlineThickness = std::max(0.5, double(roundHalfAway(scale * frame.metrics.underlineThickness)) / scale);
  layout.place.mode = line.renderMode;
  if (line.renderMode == RenderLineMode::doubledTop || line.renderMode == RenderLineMode::doubledDown) {
    layout.place.pivot = float(line.renderMode == RenderLineMode::doubledTop ? layout.rowTopPx : layout.rowBottomPx);
    layout.place.clip = ClipRect{0, float(layout.rowBottomPx), float(viewWidthPx), float(layout.rowTopPx)};
  }

  appendCustomGlyphs(layout, out);
  appendBackgrounds(layout, out);
  appendLineImages(layout, out);
  auto shaped = buildShapedSegments(info.segments, frame);
  appendGlyphs(layout, shaped, out);
  appendDecorations(layout, shaped, out);
  appendPlaceholderImages(layout, virtuals, out);
  return out;
}

// Box drawing, block elements and powerline shapes, from the grayscale atlas.
void MetalTerminalRenderer::appendCustomGlyphs(const RowLayout& row, RowDrawData& out) {
  const ViewLineInfo& info = row.info;
  if (info.boxDrawings.empty() && info.blockElements.empty() && info.powerlineGlyphs.empty()) return;
  const double scale = row.scale;
  const int baseThicknessPx =
      int(std::max({1L, roundHalfAway(scale), roundHalfAway(scale * row.frame.metrics.underlineThickness * 1.35)}));
  const double y0 = double(roundHalfAway(row.rowBottomPx));
  const bool aa = row.frame.antiAliasCustomBlockGlyphs;
  // Rows of double size show the shapes as the Cairo path does: box and block shapes, whole
  // pixels, with each pixel doubled, and powerline outlines drawn over the doubled cell. The quads
  // keep their places, and the row's transform shows each bitmap at its own size, not blurred.
  const RenderLineMode mode = row.place.mode;
  const int mx = mode == RenderLineMode::single ? 1 : 2;
  const int my = mode == RenderLineMode::doubledTop || mode == RenderLineMode::doubledDown ? 2 : 1;
  auto emit = [&](const CustomGlyphEntry& e, double x, double y, double w, double h, const ViewColor& color) {
    bool placed = false;
    TextCell cell = atlasCell(row.place, e.region, float(grayscaleAtlas->size), x, y, w, h, colorToSIMD(color), placed);
    if (placed) out.glyphCellsGray.push_back(cell);
  };
  for (const auto& item : info.boxDrawings) {
    int w = row.cellWidthPx * item.columnWidth;
    auto e = customGlyphEntry(item.codePoint, w, row.cellHeightPx, scale, baseThicknessPx, false, mx, my);
    if (e) {
      emit(*e, item.column * row.cellWidthPx, y0, w, aa ? row.cellHeight * scale : row.cellHeightPx,
           item.foregroundColor);
    }
  }
  for (const auto& item : info.blockElements) {
    int w = aa ? int(std::max(1L, roundHalfAway(row.cellWidth * scale * item.columnWidth)))
               : row.cellWidthPx * item.columnWidth;
    auto e = customGlyphEntry(item.codePoint, w, row.cellHeightPx, scale, 0, aa, mx, my);
    if (!e) continue;
    if (aa) {
      emit(*e, item.column * row.cellWidth * scale, row.rowBottomPx, item.columnWidth * row.cellWidth * scale,
           row.cellHeightPx, item.foregroundColor);
    } else {
      emit(*e, item.column * row.cellWidthPx, y0, w, row.cellHeightPx, item.foregroundColor);
    }
  }
  for (const auto& item : info.powerlineGlyphs) {
    int w = row.cellWidthPx * item.columnWidth;
    auto e = customGlyphEntry(item.codePoint, mx * w, my * row.cellHeightPx, my * scale, 0, true);
    if (!e) continue;
    double x = item.column * row.cellWidthPx, width = e->width / mx, height = e->height / my;
    emit(*e, x, y0, width, height, item.foregroundColor);
    PlainRect cell =
        transformRect({float(x), float(y0), float(x + width), float(y0 + height)}, row.place.mode, row.place.pivot);
    auto join = PowerlineRenderer::devicePixelJoinRect(item.codePoint,
                                                       {cell.x0, cell.y0, cell.x1 - cell.x0, cell.y1 - cell.y0});
    if (join) {
      out.powerlineJoinCells.push_back(
          colorCell({float(join->x), float(join->y), float(join->maxX()), float(join->maxY())},
                    colorToSIMD(item.foregroundColor)));
    }
  }
}

// Backgrounds; the run that reaches the last column also settles the strip to the right edge.
// The frame starts cleared to the view's own background, so where that background is opaque a run
// in it, and the strip, would only paint the same pixels again: they get no record, and a screen of
// plain text costs the rasteriser no pass over every pixel.
void MetalTerminalRenderer::appendBackgrounds(const RowLayout& row, RowDrawData& out) {
  const ViewColor& native = row.frame.background;
  const bool clearPaintsNative = native.alpha >= 1;
  const double scale = row.scale;
  for (const auto& segment : row.info.segments) {
    int offset = 0;
    for (const auto& piece : segment.attributedString) {
      int start = segment.column + offset * segment.columnWidth;
      int end = start + piece.cellCount() * segment.columnWidth;
      offset += piece.cellCount();
      const ViewColor& color = piece.attributes.selectionBackgroundColor ? *piece.attributes.selectionBackgroundColor
                                                                         : piece.attributes.background;
      double x0 = start * row.cellWidth * scale, x1 = end * row.cellWidth * scale;
      if (end >= row.cols) {
        if (color == native) {
          x1 = std::max(x1, row.viewWidthPx);
        } else if (x1 < row.viewWidthPx && !clearPaintsNative) {
          PlainRect strip{float(x1), float(row.rowBottomPx), float(row.viewWidthPx), float(row.rowTopPx)};
          if (auto r = row.place.place(strip)) out.backgroundCells.push_back(colorCell(*r, colorToSIMD(native)));
        }
      }
      if (color == native && clearPaintsNative) continue;
      if (auto r = row.place.place(PlainRect{float(x0), float(row.rowBottomPx), float(x1), float(row.rowTopPx)}))
        out.backgroundCells.push_back(colorCell(*r, colorToSIMD(color)));
    }
  }
}

// The slices of images attached to the line: Kitty images below and above the text, then the rest.
void MetalTerminalRenderer::appendLineImages(const RowLayout& row, RowDrawData& out) {
  const auto& images = row.info.images;
  if (!images) return;
  SplitImages split = splitImages(images);
  const double backingScale = row.frame.backingScale;
  auto owner = [&](const TerminalImage* raw) -> std::shared_ptr<TerminalImage> {
    for (const auto& image : *images) {
      if (image.get() == raw) return image;
    }
    return nullptr;
  };
  auto place = [&](const std::vector<InlineImageSlice*>& list, std::vector<ImageDraw>& to, bool kitty) {
    for (const auto* image : list) {
      auto tex = texture(owner(image), image->image);
      if (!tex) continue;
      ViewRect rect = slicePlacement(*image, {row.cellWidth, row.cellHeight}, backingScale, kitty);
      rect.y = row.rowTop - rect.y - rect.height;
      if (auto d = imageDraw(tex, rect, {0, 0, 1, 1}, row.place.mode, row.place.clip, row.place.pivot, row.scale))
        to.push_back(std::move(*d));
    }
  };
  place(split.below, out.underImageDraws, true);
  place(split.above, out.overImageDraws, true);
  place(split.other, out.otherImageDraws, false);
}

// Font glyphs, run by run; spaces have no ink.
void MetalTerminalRenderer::appendGlyphs(const RowLayout& row, const std::vector<ShapedSegment>& shaped,
                                         RowDrawData& out) {
  for (const auto& shapedSegment : shaped) {
    const ViewLineSegment& segment = *shapedSegment.segment;
    for (const auto& run : shapedSegment.runs) {
      if (run.blank) continue;
      const int runStart = segment.column + run.cellStart * segment.columnWidth;
      appendRunGlyphs(row, *run.shaperRun, run.cellOffsets, {0, runStart}, segment.columnWidth,
                      colorToSIMD(run.attributes.foreground), out);
    }
  }
}

// The glyphs of one run, each cell's marks over their base (CellGlyphPlacer); boxes for characters
// that no font has.
void MetalTerminalRenderer::appendRunGlyphs(const RowLayout& row, const ShaperRun& run,
                                            const std::vector<uint32_t>& cellOffsets, RunStart start, int columnWidth,
                                            Float4 color, RowDrawData& out) {
  const double scale = row.scale;
  // A row drawn at double size gets glyphs rasterised at that size, placed so that the row's
  // transform leaves each bitmap at its own size: as sharp as the Cairo path's text, where a
  // bitmap of the plain size, stretched, came out blurred.
  const RenderLineMode mode = row.place.mode;
  const double xFactor = mode == RenderLineMode::single ? 1 : 2;
  const double yFactor = mode == RenderLineMode::doubledTop || mode == RenderLineMode::doubledDown ? 2 : 1;
  // A cell's marks may come in a glyph run of another font than its base, and take its fit.
  CellGlyphPlacer placer;
  GlyphSlotFit fit;
  for (const auto& glyphRun : run.glyphRuns) {
    const ScaledFont* font = scaledFontFor(glyphRun.font.get(), scale * yFactor, xFactor / yFactor);
    if (!font) continue;
    for (size_t i = 0; i < glyphRun.glyphs.size(); i++) {
      const int cell = cellAt(cellOffsets, glyphRun.clusters[i]);
      const double pen = glyphRun.pens[i];
      const double inCell = placer.place(cell, int(glyphRun.clusters[i]), glyphRun.font.get(), glyphRun.glyphs[i], pen,
                                         glyphRun.positions[i].x - pen);
      const double cellLeft = start.x + row.cellWidth * (start.column + cell * columnWidth);
      if (placer.openedCell())
        fit = row.frame.cellGlyphFit(glyphRun.font.get(), glyphRun.glyphs[i], glyphRun.advances[i], columnWidth);
      // A glyph shrunk into its slot (an emoji, mostly) is rasterised at the shrunk size and drawn
      // at its bitmap's own size: shrunk again by the sampler, which has no mipmaps, it came out
      // blurred. The size goes in steps, so that glyphs of many sizes make only a few fonts; the
      // bitmap is then at most a step smaller than the fit.
      const ScaledFont* glyphFont = font;
      if (fit.scale != 1) {
        double fitted = std::max(std::floor(fit.scale * fitSteps) / fitSteps, 1.0 / fitSteps);
        glyphFont = scaledFontFor(glyphRun.font.get(), scale * yFactor * fitted, xFactor / yFactor);
      }
      // Without a font of the shrunk size, the plain bitmap is shrunk by the sampler.
      const double stretch = glyphFont ? 1 : fit.scale;
      if (!glyphFont) glyphFont = font;
      auto entry = glyphEntry(*glyphFont, glyphRun.glyphs[i]);
      if (!entry || entry->width <= 0 || entry->height <= 0) continue;
      const double fx = stretch / xFactor, fy = stretch / yFactor;
      double originX = wholeDevicePixel(scale * (cellLeft + fit.dx + fit.scale * inCell), xFactor);
      double originY = wholeDevicePixel(scale * (row.baseline + fit.scale * glyphRun.positions[i].y + fit.dy), yFactor);
      double x0 = originX + entry->bearingX * fx;
      double y0 = originY + entry->bearingY * fy;
      const bool ownColors = entry->atlasKind == GlyphAtlasKind::color;
      GlyphAtlas& atlas = ownColors ? *colorAtlas : *grayscaleAtlas;
      bool placed = false;
      TextCell record = atlasCell(row.place, entry->region, float(atlas.size), x0, y0, entry->width * fx,
                                  entry->height * fy, ownColors ? Float4{1, 1, 1, 1} : color, placed);
      if (placed) (ownColors ? out.glyphCellsColor : out.glyphCellsGray).push_back(record);
    }
  }
  for (uint32_t cluster : run.missingClusters) {
    appendMissingGlyphBox(row, start.x + row.cellWidth * (start.column + cellAt(cellOffsets, cluster) * columnWidth),
                          columnWidth, color, out.decorationCells);
  }
}

RowDrawData MetalTerminalRenderer::cellTextDrawData(const FrameSnapshot& frame, const ShaperRun& run,
                                                    const CursorPlace& place, double scale, double cellWidth,
                                                    double cellHeight, Float4 color) {
  static const ViewLineInfo noRow;
  RowLayout cell{frame, noRow};
  cell.cellWidth = cellWidth, cell.cellHeight = cellHeight, cell.scale = scale;
  cell.rowTop = double(place.box.maxY) / scale;
  cell.baseline = place.baseline;
  cell.place.clip = place.box;
  RowDrawData out;
  appendRunGlyphs(cell, run, {0}, {place.x, 0}, place.span, color, out);
  return out;
}

// A box over the cells' slot, from `left` (points), for a character that no font has, as the Cairo
// path draws it.
void MetalTerminalRenderer::appendMissingGlyphBox(const RowLayout& row, double left, int columnWidth, Float4 color,
                                                  std::vector<ColorCell>& out) {
  const double topDown = row.frame.bounds.height - row.rowTop;
  const double heightPx = row.scale * row.frame.bounds.height;
  MissingGlyphBox box = missingGlyphBox(left, topDown, row.cellWidth * columnWidth, row.cellHeight,
                                        row.frame.metrics.underlineThickness, row.scale);
  for (const auto& [x0, y0, x1, y1] : box.bars) {
    if (x1 <= x0 || y1 <= y0) continue;
    PlainRect bar{float(x0), float(heightPx - y1), float(x1), float(heightPx - y0)};
    if (auto r = row.place.place(bar)) out.push_back(colorCell(*r, color));
  }
}

// Underline and strikethrough span every cell of a run, at the run's shaped vertical offset.
void MetalTerminalRenderer::appendDecorations(const RowLayout& row, const std::vector<ShapedSegment>& shaped,
                                              RowDrawData& out) {
  const double scale = row.scale, ut = row.underlineThickness;
  const ViewColor& native = row.frame.foreground;
  for (const auto& shapedSegment : shaped) {
    const ViewLineSegment& segment = *shapedSegment.segment;
    for (const auto& run : shapedSegment.runs) {
      const int runStart = segment.column + run.cellStart * segment.columnWidth;
      const int runCells = int(run.cellOffsets.size());
      const RunAttributes& a = run.attributes;
      const ShaperRun& shapedRun = *run.shaperRun;
      const double shapedY = shapedRun.positions.empty() ? 0 : shapedRun.positions.front().y;
      auto decorate = [&](UnderlineStyle style, double yCenterPt, double thickness, Float4 color) {
        for (int i = 0; i < runCells; i++) {
          double col = runStart + i * segment.columnWidth;
          float x0 = float(scale * row.cellWidth * col);
          float x1 = float(scale * (std::ceil(row.cellWidth) + row.cellWidth * col));
          appendUnderlineSegments(x0, x1, float(scale * yCenterPt), float(scale * thickness), color, style,
                                  float(scale), row.place.mode, row.place.clip, row.place.pivot, out.decorationCells);
        }
      };
      if (a.underlineStyle.value_or(0) != 0) {
        UnderlineStyle style = resolveUnderlineStyle(a);
        Float4 color = colorToSIMD(a.underlineColor.value_or(native));
        double yCenter = row.frame.metrics.underlinePosition + row.baseline + shapedY;
        if (style == UnderlineStyle::double_) {
          decorate(UnderlineStyle::single, yCenter, ut, color);
          decorate(UnderlineStyle::single, yCenter - ut - 1, ut, color);
        } else {
          decorate(style, yCenter, ut, color);
        }
      }
      if (int v = a.strikethroughStyle.value_or(0); v != 0) {
        Float4 color = colorToSIMD(a.strikethroughColor.value_or(native));
        UnderlineStyle style = UnderlineStyle::single;
        if (v & 0x600) style = UnderlineStyle::dashed;
        if (v & 0x100) style = UnderlineStyle::dotted;
        double yCenter = (row.frame.metrics.xHeight + ut) * 0.5 + row.baseline + shapedY;
        decorate(style, yCenter, ut, color);
        if ((v & 0x9) == 0x9) decorate(style, yCenter - ut - 1, ut, color);
      }
    }
  }
}

// Images shown through placeholder characters: each cell draws its part of the placement.
void MetalTerminalRenderer::appendPlaceholderImages(const RowLayout& row, const Placements& virtuals,
                                                    RowDrawData& out) {
  const double cellWidth = row.cellWidth, cellHeight = row.cellHeight, scale = row.scale;
  for (const auto& cell : row.info.kittyPlaceholders) {
    auto found = virtuals.find(cell.imageId);
    if (found == virtuals.end()) continue;
    const KittyPlacementRecord* record = nullptr;
    for (const auto* r : found->second) {
      if ((cell.placementId == 0 || r->placementId == cell.placementId) && cell.placeholderCol < r->cols &&
          cell.placeholderRow < r->rows && r->cols >= 1 && r->rows > 0) {
        record = r;
        break;
      }
    }
    if (!record) continue;
    auto tex = kittyTexture(row.frame.terminal->kittyGraphicsState, cell.imageId);
    if (!tex) continue;
    double backingScale = std::max(row.frame.backingScale, 1e-6);
    ViewRect rect{record->pixelOffsetX / backingScale + cellWidth * (cell.col - cell.placeholderCol),
                  -record->pixelOffsetY / backingScale + row.rowBottom + cellHeight * cell.placeholderRow -
                      cellHeight * (record->rows - 1),
                  cellWidth * record->cols, cellHeight * record->rows};
    if (rect.isEmpty()) continue;
    ViewRect fit = kittyAspectFitRect({tex->width() / scale, tex->height() / scale}, rect);
    ViewRect cellRect{cellWidth * cell.col, row.rowBottom, cellWidth, cellHeight};
    double ix0 = std::max(fit.x, cellRect.x), iy0 = std::max(fit.y, cellRect.y);
    double ix1 = std::min(fit.maxX(), cellRect.maxX()), iy1 = std::min(fit.maxY(), cellRect.maxY());
    if (ix1 <= ix0 || iy1 <= iy0 || fit.isEmpty()) continue;
    double u = (ix0 - fit.x) / fit.width, v = (iy0 - fit.y) / fit.height;
    ViewRect uv{u, v, (ix1 - fit.x) / fit.width - u, (iy1 - fit.y) / fit.height - v};
    ViewRect drawn{ix0, iy0, ix1 - ix0, iy1 - iy0};
    if (auto d = imageDraw(tex, drawn, uv, row.place.mode, row.place.clip, row.place.pivot, scale))
      out.placeholderImageDraws.push_back(std::move(*d));
  }
}

RowDrawBuffers MetalTerminalRenderer::makeRowBuffers(const RowDrawData& data) {
  RowDrawBuffers b;
  auto exact = [&](const auto& vertices, std::shared_ptr<GpuBuffer>& buffer, int& n) {
    if (vertices.empty()) return;
    const size_t bytes = vertices.size() * sizeof(vertices.front());
    buffer = device->makeBuffer(bytes);
    if (!buffer) return;
    buffer->write(vertices.data(), bytes);
    n = int(vertices.size());
  };
  auto colors = [&](const std::vector<ColorCell>& cells, std::shared_ptr<GpuBuffer>& buffer, int& n) {
    quadVertices(cells, colorScratch);
    exact(colorScratch, buffer, n);
  };
  auto glyphs = [&](const std::vector<TextCell>& cells, std::shared_ptr<GpuBuffer>& buffer, int& n) {
    quadVertices(cells, glyphScratch);
    exact(glyphScratch, buffer, n);
  };
  colors(data.backgroundCells, b.backgroundBuffer, b.backgroundCount);
  colors(data.powerlineJoinCells, b.powerlineJoinBuffer, b.powerlineJoinCount);
  glyphs(data.glyphCellsGray, b.glyphGrayBuffer, b.glyphGrayCount);
  glyphs(data.glyphCellsColor, b.glyphColorBuffer, b.glyphColorCount);
  colors(data.decorationCells, b.decorationBuffer, b.decorationCount);
  b.underImageBuffers = makeImageDrawBuffers(data.underImageDraws);
  b.placeholderImageBuffers = makeImageDrawBuffers(data.placeholderImageDraws);
  b.overImageBuffers = makeImageDrawBuffers(data.overImageDraws);
  b.otherImageBuffers = makeImageDrawBuffers(data.otherImageDraws);
  return b;
}

}  // namespace vantrelle
