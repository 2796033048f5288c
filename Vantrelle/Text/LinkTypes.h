#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Vantrelle/Buffer/Position.h"

namespace vantrelle {

enum class LinkLookupMode { explicitOnly, explicitAndImplicit };

// A cell to look up: in buffer rows (0 = oldest line kept) or in rows of the visible screen.
struct LinkLookupLocation {
  enum class Kind { buffer, screen };
  Kind kind = Kind::buffer;
  Position position;

  static LinkLookupLocation buffer(Position at) { return {Kind::buffer, at}; }
  static LinkLookupLocation screen(Position at) { return {Kind::screen, at}; }
};

struct LinkMatch {
  // Half-open column range.
  struct Range {
    int64_t lowerBound = 0;
    int64_t upperBound = 0;
    bool isEmpty() const { return upperBound <= lowerBound; }
    bool operator==(const Range&) const = default;
  };
  struct RowRange {
    int64_t row = 0;
    Range range;
    bool operator==(const RowRange&) const = default;
  };

  std::string text;  // the URL of an explicit link, the matched characters of an implicit one
  int64_t row = 0;   // the buffer row asked about
  Range range;       // the columns the link covers on that row
  bool isExplicit = false;
  std::vector<RowRange> rowRanges;  // every row the link covers, in order
};

// The cell one character of joined link text came from.
struct ImplicitCellRef {
  int64_t row = 0;
  int64_t col = 0;
  int64_t width = 1;
};

// A row and the rows it continues into, as one text with the cell of every character.
struct ImplicitLineMap {
  std::string text;
  std::vector<ImplicitCellRef> cells;
  int64_t row = 0;
  int64_t col = 0;
  // The index in `cells` of the asked cell.
  int64_t askedIndex = 0;
};

struct LinkRowEdgeInfo {
  int64_t firstCol = 0;
  std::u32string firstCharacter;
  int64_t lastCol = 0;
  std::u32string lastCharacter;
};

}  // namespace vantrelle
