#pragma once
// Cells whose ink the drawing tests of both paths place: a character with combining marks in every
// face, and characters that no font of the tests has.
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

}  // namespace vantrelle::testing
