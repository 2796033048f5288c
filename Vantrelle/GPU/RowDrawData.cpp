// One buffer row into GPU records: backgrounds, custom glyphs with their powerline joins, font
// glyphs, underline and strikethrough, and images. The row analysis is the view's own, so both
// drawing paths agree on runs, colours, selection and special cells.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/GPU/PowerlineRenderer.h"
#include "Vantrelle/View/TerminalView+Images.h"
#include "Vantrelle/View/TerminalView.h"

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

}  // namespace

RowDrawData MetalTerminalRenderer::buildRowDrawData(
    int row, Buffer& buffer, int yDisp, double cellWidth, double cellHeight, double yOffset, double viewWidthPx,
    double scale, const std::unordered_map<uint32_t, std::vector<const KittyPlacementRecord*>>& virtuals) {
  RowDrawData out;
  if (!terminalView) return out;
  TerminalView& view = *terminalView;
  const BufferLine& line = *buffer.lines()[row];
  const double viewHeight = view.frame().height;
  const double rowBottom = viewHeight - cellHeight * (row - yDisp + 1);
  const double rowTop = rowBottom + cellHeight;
  const double rowBottomPx = scale * rowBottom, rowTopPx = rowBottomPx + scale * cellHeight;
  const int cellWidthPx = int(std::max(1L, roundHalfAway(cellWidth * scale)));
  const int cellHeightPx = int(std::max(1L, roundHalfAway(cellHeight * scale)));
  const double baseline = rowBottom + yOffset;
  const auto& metrics = view.fontMetrics();

  RowFrame frame;
  frame.mode = line.renderMode;
  if (frame.mode == RenderLineMode::doubledTop || frame.mode == RenderLineMode::doubledDown) {
    frame.pivot = float(frame.mode == RenderLineMode::doubledTop ? rowTopPx : rowBottomPx);
    frame.clip = ClipRect{0, float(rowBottomPx), float(viewWidthPx), float(rowTopPx)};
  }

  ViewLineInfo info = view.buildAttributedString(row, line, buffer.cols());
  const double ut = std::max(0.5, double(roundHalfAway(scale * metrics.underlineThickness)) / scale);

  // Custom glyphs: box drawing, block elements and powerline shapes, from the grayscale atlas.
  if (!info.boxDrawings.empty() || !info.blockElements.empty() || !info.powerlineGlyphs.empty()) {
    const int baseThicknessPx =
        int(std::max({1L, roundHalfAway(scale), roundHalfAway(scale * metrics.underlineThickness * 1.35)}));
    const double y0 = double(roundHalfAway(rowBottomPx));
    const bool aa = view.getAntiAliasCustomBlockGlyphs();
    auto emit = [&](const CustomGlyphEntry& e, double x, double y, double w, double h, const ViewColor& color) {
      float side = float(grayscaleAtlas->size);
      TexturedRect t{float(x),
                     float(y),
                     float(x + w),
                     float(y + h),
                     e.region.x / side,
                     e.region.y / side,
                     (e.region.x + e.region.width) / side,
                     (e.region.y + e.region.height) / side};
      if (auto placed = frame.place(t)) out.glyphCellsGray.push_back(textCell(*placed, colorToSIMD(color)));
    };
    for (const auto& item : info.boxDrawings) {
      int w = cellWidthPx * item.columnWidth;
      auto e = customGlyphEntry(item.codePoint, w, cellHeightPx, scale, baseThicknessPx, false);
      if (e) emit(*e, item.column * cellWidthPx, y0, w, aa ? cellHeight * scale : cellHeightPx, item.foregroundColor);
    }
    for (const auto& item : info.blockElements) {
      int w =
          aa ? int(std::max(1L, roundHalfAway(cellWidth * scale * item.columnWidth))) : cellWidthPx * item.columnWidth;
      auto e = customGlyphEntry(item.codePoint, w, cellHeightPx, scale, 0, aa);
      if (!e) continue;
      if (aa) {
        emit(*e, item.column * cellWidth * scale, rowBottomPx, item.columnWidth * cellWidth * scale, cellHeightPx,
             item.foregroundColor);
      } else {
        emit(*e, item.column * cellWidthPx, y0, w, cellHeightPx, item.foregroundColor);
      }
    }
    for (const auto& item : info.powerlineGlyphs) {
      int w = cellWidthPx * item.columnWidth;
      auto e = customGlyphEntry(item.codePoint, w, cellHeightPx, scale, 0, true);
      if (!e) continue;
      double x = item.column * cellWidthPx;
      emit(*e, x, y0, e->width, e->height, item.foregroundColor);
      PlainRect cell =
          transformRect({float(x), float(y0), float(x + e->width), float(y0 + e->height)}, frame.mode, frame.pivot);
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
  const int cols = buffer.cols();
  for (const auto& segment : info.segments) {
    int offset = 0;
    for (const auto& piece : segment.attributedString) {
      int start = segment.column + offset * segment.columnWidth;
      int end = start + piece.cellCount() * segment.columnWidth;
      offset += piece.cellCount();
      const ViewColor& color = piece.attributes.selectionBackgroundColor ? *piece.attributes.selectionBackgroundColor
                                                                         : piece.attributes.background;
      double x0 = start * cellWidth * scale, x1 = end * cellWidth * scale;
      if (end >= cols) {
        if (color == view.nativeBackgroundColor()) {
          x1 = std::max(x1, viewWidthPx);
        } else if (x1 < viewWidthPx) {
          if (auto r = frame.place(PlainRect{float(x1), float(rowBottomPx), float(viewWidthPx), float(rowTopPx)}))
            out.backgroundCells.push_back(colorCell(*r, colorToSIMD(view.nativeBackgroundColor())));
        }
      }
      if (auto r = frame.place(PlainRect{float(x0), float(rowBottomPx), float(x1), float(rowTopPx)}))
        out.backgroundCells.push_back(colorCell(*r, colorToSIMD(color)));
    }
  }

  // Images attached to the line.
  if (info.images) {
    SplitImages images = splitImages(info.images);
    double backingScale = view.backingScaleFactor();
    auto owner = [&](const TerminalImage* raw) -> std::shared_ptr<TerminalImage> {
      for (const auto& image : *info.images) {
        if (image.get() == raw) return image;
      }
      return nullptr;
    };
    auto place = [&](const std::vector<TerminalView::AppleImage*>& list, std::vector<ImageDraw>& to, bool kitty) {
      for (const auto* image : list) {
        auto tex = texture(owner(image), image->image);
        if (!tex) continue;
        double x = cellWidth * image->column, yDown = 0;
        if (kitty && image->kittyIsKitty && backingScale > 0) {
          x += image->kittyPixelOffsetX / backingScale;
          yDown = image->kittyPixelOffsetY / backingScale;
        }
        ViewRect rect{x, rowTop - yDown - image->height, double(image->width), double(image->height)};
        if (auto d = imageDraw(tex, rect, {0, 0, 1, 1}, frame.mode, frame.clip, frame.pivot, scale))
          to.push_back(std::move(*d));
      }
    };
    place(images.below, out.underImageDraws, true);
    place(images.above, out.overImageDraws, true);
    place(images.other, out.otherImageDraws, false);
  }

  // Glyphs, underline and strikethrough, run by run.
  for (const auto& shapedSegment : buildShapedSegments(info.segments, view)) {
    const ViewLineSegment& segment = *shapedSegment.segment;
    for (const auto& run : shapedSegment.runs) {
      const int runStart = segment.column + run.cellStart * segment.columnWidth;
      const int runCells = int(run.cellOffsets.size());
      const RunAttributes& a = run.attributes;
      const Float4 runColor = colorToSIMD(a.foreground);
      const ShaperRun& shaped = *run.shaperRun;
      for (const auto& glyphRun : shaped.glyphRuns) {
        if (run.blank) break;  // spaces have no ink
        const ScaledFont* font = scaledFontFor(glyphRun.font.get(), scale);
        if (!font) continue;
        double clusterX = 0;
        uint32_t lastCluster = UINT32_MAX;
        for (size_t i = 0; i < glyphRun.glyphs.size(); i++) {
          if (glyphRun.clusters[i] != lastCluster) {
            lastCluster = glyphRun.clusters[i];
            clusterX = glyphRun.positions[i].x;
          }
          auto entry = glyphEntry(*font, glyphRun.glyphs[i]);
          if (!entry || entry->width <= 0 || entry->height <= 0) continue;
          int column = runStart + cellAt(run.cellOffsets, glyphRun.clusters[i]) * segment.columnWidth;
          TerminalView::GlyphSlotFit fit;
          if (segment.columnWidth >= 2) {
            PangoRectangle ink, logical;
            pango_font_get_glyph_extents(glyphRun.font.get(), glyphRun.glyphs[i], &ink, &logical);
            ViewRect bounds{double(ink.x) / PANGO_SCALE, -double(ink.y + ink.height) / PANGO_SCALE,
                            double(ink.width) / PANGO_SCALE, double(ink.height) / PANGO_SCALE};
            fit = view.glyphSlotFit(double(logical.width) / PANGO_SCALE, bounds, segment.columnWidth);
          }
          // Marks of a cluster keep their offset from its first glyph.
          double inCluster = glyphRun.positions[i].x - clusterX;
          double x0 = scale * (cellWidth * column + inCluster + fit.dx) + entry->bearingX * fit.scale;
          double y0 = scale * (baseline + glyphRun.positions[i].y + fit.dy) + entry->bearingY * fit.scale;
          GlyphAtlas& atlas = entry->atlasKind == GlyphAtlasKind::color ? *colorAtlas : *grayscaleAtlas;
          float side = float(atlas.size);
          TexturedRect t{float(x0),
                         float(y0),
                         float(x0 + entry->width * fit.scale),
                         float(y0 + entry->height * fit.scale),
                         entry->region.x / side,
                         entry->region.y / side,
                         (entry->region.x + entry->region.width) / side,
                         (entry->region.y + entry->region.height) / side};
          auto placed = frame.place(t);
          if (!placed) continue;
          if (entry->atlasKind == GlyphAtlasKind::color) {
            out.glyphCellsColor.push_back(textCell(*placed, {1, 1, 1, 1}));
          } else {
            out.glyphCellsGray.push_back(textCell(*placed, runColor));
          }
        }
      }

      // Decorations span every cell of the run, at the run's shaped vertical offset.
      const double shapedY = shaped.positions.empty() ? 0 : shaped.positions.front().y;
      auto decorate = [&](UnderlineStyle style, double yCenterPt, double thickness, Float4 color) {
        for (int i = 0; i < runCells; i++) {
          double col = runStart + i * segment.columnWidth;
          float x0 = float(scale * cellWidth * col);
          float x1 = float(scale * (std::ceil(cellWidth) + cellWidth * col));
          appendUnderlineSegments(x0, x1, float(scale * yCenterPt), float(scale * thickness), color, style,
                                  float(scale), frame.mode, frame.clip, frame.pivot, out.decorationCells);
        }
      };
      if (a.underlineStyle.value_or(0) != 0) {
        UnderlineStyle style = resolveUnderlineStyle(a);
        Float4 color = colorToSIMD(a.underlineColor.value_or(view.nativeForegroundColor()));
        double yCenter = metrics.underlinePosition + baseline + shapedY;
        if (style == UnderlineStyle::double_) {
          decorate(UnderlineStyle::single, yCenter, ut, color);
          decorate(UnderlineStyle::single, yCenter - ut - 1, ut, color);
        } else {
          decorate(style, yCenter, ut, color);
        }
      }
      if (int v = a.strikethroughStyle.value_or(0); v != 0) {
        Float4 color = colorToSIMD(a.strikethroughColor.value_or(view.nativeForegroundColor()));
        UnderlineStyle style = UnderlineStyle::single;
        if (v & 0x600) style = UnderlineStyle::dashed;
        if (v & 0x100) style = UnderlineStyle::dotted;
        double thickness = ut;
        double yCenter = (metrics.xHeight + thickness) * 0.5 + baseline + shapedY;
        decorate(style, yCenter, thickness, color);
        if ((v & 0x9) == 0x9) decorate(style, yCenter - thickness - 1, thickness, color);
      }
    }
  }

  // Images shown through placeholder characters.
  for (const auto& cell : info.kittyPlaceholders) {
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
    auto tex = kittyTexture(cell.imageId);
    if (!tex) continue;
    double backingScale = std::max(view.backingScaleFactor(), 1e-6);
    ViewRect rect{record->pixelOffsetX / backingScale + cellWidth * (cell.col - cell.placeholderCol),
                  -record->pixelOffsetY / backingScale + rowBottom + cellHeight * cell.placeholderRow -
                      cellHeight * (record->rows - 1),
                  cellWidth * record->cols, cellHeight * record->rows};
    if (rect.isEmpty()) continue;
    ViewRect fit = kittyAspectFitRect({tex->width() / scale, tex->height() / scale}, rect);
    ViewRect cellRect{cellWidth * cell.col, rowBottom, cellWidth, cellHeight};
    double ix0 = std::max(fit.x, cellRect.x), iy0 = std::max(fit.y, cellRect.y);
    double ix1 = std::min(fit.maxX(), cellRect.maxX()), iy1 = std::min(fit.maxY(), cellRect.maxY());
    if (ix1 <= ix0 || iy1 <= iy0 || fit.isEmpty()) continue;
    double u = (ix0 - fit.x) / fit.width, v = (iy0 - fit.y) / fit.height;
    ViewRect uv{u, v, (ix1 - fit.x) / fit.width - u, (iy1 - fit.y) / fit.height - v};
    if (auto d = imageDraw(tex, {ix0, iy0, ix1 - ix0, iy1 - iy0}, uv, frame.mode, frame.clip, frame.pivot, scale))
      out.placeholderImageDraws.push_back(std::move(*d));
  }
  return out;
}

RowDrawBuffers MetalTerminalRenderer::makeRowBuffers(const RowDrawData& data) {
  RowDrawBuffers b;
  auto exact = [&](const void* records, size_t count, size_t size, std::shared_ptr<GpuBuffer>& buffer, int& n) {
    if (count == 0) return;
    buffer = device->makeBuffer(count * size);
    if (!buffer) return;
    buffer->write(records, count * size);
    n = int(count);
  };
  exact(data.backgroundCells.data(), data.backgroundCells.size(), 32, b.backgroundBuffer, b.backgroundCount);
  exact(data.powerlineJoinCells.data(), data.powerlineJoinCells.size(), 32, b.powerlineJoinBuffer,
        b.powerlineJoinCount);
  exact(data.glyphCellsGray.data(), data.glyphCellsGray.size(), 48, b.glyphGrayBuffer, b.glyphGrayCount);
  exact(data.glyphCellsColor.data(), data.glyphCellsColor.size(), 48, b.glyphColorBuffer, b.glyphColorCount);
  exact(data.decorationCells.data(), data.decorationCells.size(), 32, b.decorationBuffer, b.decorationCount);
  b.underImageBuffers = makeImageDrawBuffers(data.underImageDraws);
  b.placeholderImageBuffers = makeImageDrawBuffers(data.placeholderImageDraws);
  b.overImageBuffers = makeImageDrawBuffers(data.overImageDraws);
  b.otherImageBuffers = makeImageDrawBuffers(data.otherImageDraws);
  return b;
}

}  // namespace vantrelle
