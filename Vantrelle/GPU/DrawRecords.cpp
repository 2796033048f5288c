#include "Vantrelle/GPU/DrawRecords.h"

namespace vantrelle {

namespace {
template <typename T>
void add(std::vector<T>& to, const std::vector<T>& from) {
  to.insert(to.end(), from.begin(), from.end());
}
}  // namespace

void RowDrawData::append(const RowDrawData& row) {
  add(backgroundCells, row.backgroundCells);
  add(powerlineJoinCells, row.powerlineJoinCells);
  add(glyphCellsGray, row.glyphCellsGray);
  add(glyphCellsColor, row.glyphCellsColor);
  add(decorationCells, row.decorationCells);
  add(underImageDraws, row.underImageDraws);
  add(placeholderImageDraws, row.placeholderImageDraws);
  add(overImageDraws, row.overImageDraws);
  add(otherImageDraws, row.otherImageDraws);
}

// Each cell record becomes the four corners of its quad, each as (origin + corner * size), in the
// order of a strip of them; `quadIndices` makes the strip's two triangles of them, so that every edge
// and every interpolated value comes out as it would from the record itself. Plain vertices rather
// than one instance per record: a software rasteriser spends more on instances than on vertices.
void quadVertices(const std::vector<ColorCell>& cells, std::vector<ColorVertex>& out) {
  out.clear();
  out.reserve(cells.size() * verticesPerQuad);
  for (const auto& c : cells) {
    const Float2 p0 = c.position, p3{c.position.x + c.size.x, c.position.y + c.size.y};
    out.insert(out.end(),
               {{p0, {}, c.color}, {{p3.x, p0.y}, {}, c.color}, {{p0.x, p3.y}, {}, c.color}, {p3, {}, c.color}});
  }
}

void quadVertices(const std::vector<TextCell>& cells, std::vector<GlyphVertex>& out) {
  out.clear();
  out.reserve(cells.size() * verticesPerQuad);
  for (const auto& c : cells) {
    const Float2 p0 = c.position, p3{c.position.x + c.size.x, c.position.y + c.size.y};
    const Float2 t0 = c.texOrigin, t3{c.texOrigin.x + c.texSize.x, c.texOrigin.y + c.texSize.y};
    out.insert(out.end(), {{p0, t0, c.color},
                           {{p3.x, p0.y}, {t3.x, t0.y}, c.color},
                           {{p0.x, p3.y}, {t0.x, t3.y}, c.color},
                           {p3, t3, c.color}});
  }
}

void quadIndices(size_t quads, std::vector<uint32_t>& out) {
  out.clear();
  out.reserve(quads * indicesPerQuad);
  for (uint32_t q = 0; q < quads; q++) {
    const uint32_t v = q * verticesPerQuad;
    out.insert(out.end(), {v, v + 1, v + 2, v + 2, v + 1, v + 3});
  }
}

}  // namespace vantrelle
