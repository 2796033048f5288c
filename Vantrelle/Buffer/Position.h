#pragma once

#include <cstdint>
#include <string>

namespace vantrelle {

// A cell coordinate. Whether `row` counts buffer rows or screen rows is up to each operation;
// nothing is clamped here.
struct Position {
  enum class compareResult { before, after, equal };

  int64_t col = 0;
  int64_t row = 0;

  constexpr Position() = default;
  constexpr Position(int64_t col, int64_t row) : col(col), row(row) {}

  // Row-major order.
  static constexpr compareResult compare(const Position& a, const Position& b) {
    if (a.row < b.row) return compareResult::before;
    if (a.row > b.row) return compareResult::after;
    if (a.col < b.col) return compareResult::before;
    if (a.col > b.col) return compareResult::after;
    return compareResult::equal;
  }

  std::string debugDescription() const { return "col=" + std::to_string(col) + " row=" + std::to_string(row); }

  constexpr bool operator==(const Position&) const = default;
};

}  // namespace vantrelle
