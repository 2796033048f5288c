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

// Each cell record becomes the two triangles of its quad, corner by corner as (origin + corner *
// size), in the order a strip of the four corners gives them, so that every edge and every
// interpolated value comes out as it would from the record itself. Plain triangles rather than one
// instance per record: a software rasteriser spends more on instances than on the vertices.
void quadVertices(const std::vector<ColorCell>& cells, std::vector<ColorVertex>& out) {
  out.clear();
  out.reserve(cells.size() * verticesPerQuad);
  for (const auto& c : cells) {
    const Float2 p0 = c.position, p3{c.position.x + c.size.x, c.position.y + c.size.y};
    const Float2 p1{p3.x, p0.y}, p2{p0.x, p3.y};
    for (const Float2& p : {p0, p1, p2, p2, p1, p3}) out.push_back({p, {}, c.color});
  }
}

void quadVertices(const std::vector<TextCell>& cells, std::vector<GlyphVertex>& out) {
  out.clear();
  out.reserve(cells.size() * verticesPerQuad);
  for (const auto& c : cells) {
    const Float2 p0 = c.position, p3{c.position.x + c.size.x, c.position.y + c.size.y};
    const Float2 p1{p3.x, p0.y}, p2{p0.x, p3.y};
    const Float2 t0 = c.texOrigin, t3{c.texOrigin.x + c.texSize.x, c.texOrigin.y + c.texSize.y};
    const Float2 t1{t3.x, t0.y}, t2{t0.x, t3.y};
    out.insert(out.end(), {{p0, t0, c.color},
                           {p1, t1, c.color},
                           {p2, t2, c.color},
                           {p2, t2, c.color},
                           {p1, t1, c.color},
                           {p3, t3, c.color}});
  }
}

}  // namespace vantrelle
