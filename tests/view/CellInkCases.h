#pragma once
// Cells whose ink the drawing tests of both paths place: a character with combining marks in every
// face, and characters that no font of the tests has.
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace vantrelle::testing {

struct Case {
  const char* name;
  const char* rendition;
  const char* text;
  // What the cell shows without the marks, or instead of the missing character.
  const char* plain;
  int width;
  // The least share of the ink that stays over the cell: an enclosing mark is wider than it.
  double inside;
};

inline const Case markCases[] = {
    {"dots below and above", "", "q\u0323\u0307", "q", 1, 1},
    {"two accents above", "", "x\u0301\u0300", "x", 1, 1},
    {"line below", "", "n\u0329", "n", 1, 1},
    {"bold", "1", "q\u0323\u0307", "q", 1, 1},
    {"italic", "3", "x\u0301\u0300", "x", 1, 1},
    {"bold italic", "1;3", "n\u0329", "n", 1, 1},
    {"on a space", "", " \u0301", " ", 1, 1},
    {"enclosing", "", "a\u20dd", "a", 1, 0.5},
    {"on a wide base", "", "\u26a1\u0301", "\u26a1", 2, 1},
    {"on a fallback font's wide glyph fitted into one cell", "", "\u213b\u0301", "\u213b", 1, 1},
};

inline const Case missingCases[] = {
    {"devanagari", "", "\u0915", " ", 1, 1},  {"thai", "", "\u0e01", " ", 1, 1},
    {"private use", "", "\ue000", " ", 1, 1}, {"bold private use", "1", "\ue000", " ", 1, 1},
    {"wide", "", "\u4e00", "  ", 2, 1},
};

// The share of `xs` inside [x0, x1), and whether their mean lies there.
struct Placement {
  double inside = 0;
  bool centred = false;
  double mean = 0;
};
inline Placement placement(const std::vector<int>& xs, double x0, double x1) {
  if (xs.empty()) return {};
  double in = 0;
  for (int x : xs) in += x >= x0 && x < x1;
  double mean = std::accumulate(xs.begin(), xs.end(), 0.0) / double(xs.size());
  return {in / double(xs.size()), mean >= x0 && mean < x1, mean};
}

// The x of every pixel (four bytes, `stride` bytes a row) with a byte that differs by more than
// `tolerance` between two frames of one size.
inline std::vector<int> differingColumns(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                                         int stride, int tolerance) {
  std::vector<int> xs;
  for (size_t row = 0; row + size_t(stride) <= a.size() && row + size_t(stride) <= b.size(); row += size_t(stride)) {
    for (int x = 0; x < width; x++) {
      bool differs = false;
      for (size_t k = 0; k < 4; k++) {
        size_t i = row + size_t(x) * 4 + k;
        differs |= std::abs(int(a[i]) - int(b[i])) > tolerance;
      }
      if (differs) xs.push_back(x);
    }
  }
  return xs;
}

}  // namespace vantrelle::testing
