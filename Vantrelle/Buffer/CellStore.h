#pragma once

#include <bit>
#include <cstring>

#include "Vantrelle/Buffer/BufferLine.h"
#include "Vantrelle/Buffer/CharData.h"

namespace vantrelle {

// BufferLine::set for a cell that was just built, given as its two machine words: they go to
// the line straight from registers. Copying a cell whose fields were just written to memory as
// one wide load stalls that load on store forwarding, and the print path does it for every cell.
inline void storeCell(BufferLine& line, int index, CellWords words) {
  if (unsigned(index) >= unsigned(line.count())) return line.set(index, std::bit_cast<CharData>(words));
  auto* destination = reinterpret_cast<unsigned char*>(line.cellsBelow(index + 1) + index);
  std::memcpy(destination, &words.low, sizeof words.low);
  std::memcpy(destination + sizeof words.low, &words.high, sizeof words.high);
  line.touch();
}

}  // namespace vantrelle
