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

}  // namespace vantrelle
