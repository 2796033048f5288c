#pragma once
// Walking the Kitty image cells a buffer's lines hold, for the bookkeeping that must see which
// images and placements are still on screen or in the history.
#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphicsState.h"

namespace vantrelle {

// Calls visit(lineIndex, cell) for each Kitty image cell, lines counted from the oldest held.
template <typename Visit>
void forEachKittyImageCell(Buffer& buffer, Visit&& visit) {
  if (buffer.linesWithImagesCount <= 0) return;
  auto& lines = buffer.lines();
  for (int index = 0; index < lines.count(); ++index) {
    const auto& images = lines[index]->images();
    if (!images) continue;
    for (const auto& entry : *images) {
      if (auto* kitty = dynamic_cast<const KittyPlacementImage*>(entry.get())) visit(index, *kitty);
    }
  }
}

}  // namespace vantrelle
