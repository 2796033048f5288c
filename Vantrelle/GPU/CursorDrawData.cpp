// The cursor of one frame as plain vertex lists, apart from the cached rows, so that blinking and
// focus changes never invalidate a row.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "Vantrelle/Buffer/UnicodeUtil.h"
#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/GPU/PowerlineRenderer.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

// A frame `t` pixels wide just inside `r`, of four quads that do not overlap: a translucent caret
// colour laid twice at the corners showed there as brighter squares.
void appendRing(std::vector<ColorVertex>& out, const PlainRect& r, float t, Float4 color) {
  t = std::min({t, (r.x1 - r.x0) / 2, (r.y1 - r.y0) / 2});
  if (!(t > 0)) return;
  appendQuad(out, {r.x0, r.y0, r.x1, r.y0 + t}, color);
  appendQuad(out, {r.x0, r.y1 - t, r.x1, r.y1}, color);
  appendQuad(out, {r.x0, r.y0 + t, r.x0 + t, r.y1 - t}, color);
  appendQuad(out, {r.x1 - t, r.y0 + t, r.x1, r.y1 - t}, color);
}

// The hollow box of an unfocused cursor as the caret widget shows it on the Cairo path: a line of
// 3 points along the cell's edge, clipped to the cell, leaves a band of 1.5 points inside it. The
// band's whole device pixels are drawn in the caret colour, and a pixel it covers in part with
// that share of the colour, as Cairo's antialiasing has it. A band of 3 pixels at scale 1 all
// but filled a narrow cell and read as a focused block cursor.
void appendHollowBox(std::vector<ColorVertex>& out, const PlainRect& box, double scale, Float4 color) {
  const double band = std::max(1.0, 1.5 * scale);
  const float whole = float(std::floor(band)), part = float(band - std::floor(band));
  appendRing(out, box, whole, color);
  if (part <= 0) return;
  Float4 partial = color;
  partial.w *= part;
  appendRing(out, {box.x0 + whole, box.y0 + whole, box.x1 - whole, box.y1 - whole}, 1, partial);
}

}  // namespace

void MetalTerminalRenderer::buildCursorDrawData(const FrameSnapshot& frame, DrawData& out, double scale,
                                                double cellWidth, double cellHeight, double lineDescent,
                                                double lineLeading, int yDisp, int firstRow, int lastRow) {
  if (!frame.terminal) return;
  Terminal& terminal = *frame.terminal;
  Buffer& buffer = *terminal.buffer;
  const int line = buffer.yBase + buffer.y, column = buffer.x;
  CursorStyle style = terminal.options.cursorStyle;
  bool blinking =
      style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline || style == CursorStyle::blinkBar;
  if (terminal.cursorHidden || line < 0 || line < firstRow || line > lastRow || line >= buffer.lines().count() ||
      column < 0 || column >= buffer.cols() || (blinking && !cursorBlinkOn)) {
    return;
  }
  const BufferLine& bufferLine = *buffer.lines()[line];
  const double rowBottom = frame.bounds.height - cellHeight * (line - yDisp + 1);
  const double widthFactor = bufferLine.renderMode == RenderLineMode::single ? 1 : 2;
  const CharData& cell = bufferLine[std::min(column, std::max(bufferLine.count() - 1, 0))];
  const int span = std::max(1, int(cell.width));
  const float yB = float(scale * rowBottom), yT = float(yB + scale * cellHeight);
  const float x0 = float(scale * widthFactor * cellWidth * column);
  const float x1 = float(x0 + scale * cellWidth * widthFactor * span);
  const bool focused = frame.caretFocused;
  const Float4 caret = colorToSIMD(frame.caretColor);
  auto& shape = out.cursorColorVertices;
  if (!focused) {
    appendHollowBox(shape, {x0, yB, x1, yT}, scale, caret);
    return;
  }
  float t = float(std::max(1.0, 2 * scale));
  switch (style) {
    case CursorStyle::blinkUnderline:
    case CursorStyle::steadyUnderline:
      appendQuad(shape, {x0, yB, x1, yB + t}, caret);
      return;
    case CursorStyle::blinkBar:
    case CursorStyle::steadyBar:
      appendQuad(shape, {x0, yB, x0 + t, yT}, caret);
      return;
    default:
      appendQuad(shape, {x0, yB, x1, yT}, caret);
      break;
  }

  const double baseline = rowBottom + std::ceil(lineDescent + lineLeading);
  appendCursorCharacter(frame, out, {cell, {x0, yB, x1, yT}, span, widthFactor * cellWidth * column, baseline}, scale,
                        cellWidth, cellHeight);
}

// The character under a block cursor, in the caret's text colour, clipped to the cursor.
void MetalTerminalRenderer::appendCursorCharacter(const FrameSnapshot& frame, DrawData& out, const CursorPlace& place,
                                                  double scale, double cellWidth, double cellHeight) {
  const CharData& cell = place.cell;
  // Hidden text (SGR 8) stays hidden under the caret too.
  if (cell.attribute().style.contains(CharacterStyle::invisible)) return;
  const ClipRect& clip = place.box;
  const float x0 = clip.minX, yB = clip.minY;
  const Float4 textColor = colorToSIMD(frame.caretTextColor);
  uint32_t code = cell.code > 0 ? uint32_t(cell.getCharacter()) : 0;
  if (frame.customBlockGlyphs && PowerlineRenderer::glyph(code)) {
    int w = int(std::max(1L, roundHalfAway(clip.maxX - x0))), h = int(std::max(1L, roundHalfAway(scale * cellHeight)));
    auto e = customGlyphEntry(code, w, h, scale, 0, true);
    if (!e) return;
    float side = float(grayscaleAtlas->size);
    TexturedRect r{x0,
                   yB,
                   x0 + float(w),
                   yB + float(h),
                   e->region.x / side,
                   e->region.y / side,
                   (e->region.x + e->region.width) / side,
                   (e->region.y + e->region.height) / side};
    if (auto c = clipRect(r, clip)) appendQuad(out.cursorGlyphVerticesGray, *c, textColor);
    return;
  }
  if (cell.code == 0) return;
  // As the caret view does: a character that may turn into an emoji keeps its text form, as in
  // the row beneath the cursor.
  std::string text = UnicodeUtil::textPresentationAdjusted(frame.terminal->character(cell.code));
  if (text.empty() || text == " ") return;
  if (!frame.rows.style || !frame.pango) return;
  RunAttributes attributes =
      frame.rows.style->attributedValue(cell.attribute(), frame.caretColor, frame.caretTextColor);
  auto shaped = shaperCache.shape(text, frame.pango->gobj(), frame.fonts.face(attributes.font).gobj());
  if (!shaped) return;
  // Drawn by the row's own code, so the character shows as in its row: its marks over it with its
  // fit, a box for a character no font has, and nothing for one without ink.
  RowDrawData drawn = cellTextDrawData(frame, *shaped, place, scale, cellWidth, cellHeight, textColor);
  auto quad = [](const TextCell& c) {
    return TexturedRect{c.position.x,  c.position.y,  c.position.x + c.size.x,     c.position.y + c.size.y,
                        c.texOrigin.x, c.texOrigin.y, c.texOrigin.x + c.texSize.x, c.texOrigin.y + c.texSize.y};
  };
  for (const TextCell& c : drawn.glyphCellsGray) appendQuad(out.cursorGlyphVerticesGray, quad(c), c.color);
  for (const TextCell& c : drawn.glyphCellsColor) appendQuad(out.cursorGlyphVerticesColor, quad(c), c.color);
  for (const ColorCell& c : drawn.decorationCells) {
    appendQuad(out.cursorColorVertices, {c.position.x, c.position.y, c.position.x + c.size.x, c.position.y + c.size.y},
               c.color);
  }
}

}  // namespace vantrelle
