#pragma once
// Finding the Kitty image cells a screen's lines hold, for the bookkeeping that must see which
// images and placements are still on screen or in the history, without reading the lines that
// hold none.
#include <climits>
#include <utility>
#include <vector>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphicsState.h"

namespace vantrelle {

class Terminal;

// The lines of one of the terminal's screens that hold images, as (index, line) counted from the
// oldest line held, in order, limited to the indexes from `start` up to `end`.
std::vector<std::pair<int, BufferLine*>> kittyImageLines(Terminal& terminal, Buffer& buffer, int start = 0,
                                                         int end = INT_MAX);

// Calls visit(lineIndex, cell) for each Kitty image cell, lines in order from the oldest held.
template <typename Visit>
void forEachKittyImageCell(Terminal& terminal, Buffer& buffer, Visit&& visit) {
  if (buffer.linesWithImagesCount <= 0) return;
  for (auto [index, line] : kittyImageLines(terminal, buffer)) {
    for (const auto& entry : *line->images()) {
      if (auto* kitty = dynamic_cast<const KittyPlacementImage*>(entry.get())) visit(index, *kitty);
    }
  }
}

}  // namespace vantrelle
