#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrelle {

// A piece of extracted text: the cells of one buffer row from `location` on, or a line break
// (`location` -1) ending row `line`.
struct LineFragment {
  std::optional<std::string> text;
  int64_t line = 0;
  int64_t location = 0;
  int64_t length = 0;  // characters (grapheme clusters) of `text`
};

// One logical line of extracted text, made of the fragments of its rows.
class Line {
 public:
  std::vector<LineFragment> fragments;
  int64_t length = 0;

  void add(LineFragment fragment) {
    length += fragment.length;
    fragments.push_back(std::move(fragment));
  }

  std::string debugDescription() const {
    if (fragments.empty()) return "[]";
    std::string out = std::to_string(fragments.size()) + "/" + std::to_string(length) + ": [";
    for (const auto& fragment : fragments) {
      const std::string text = fragment.text.value_or("");
      out += text == "\n" ? "\\n" : text;
      out += "][";
    }
    return out;
  }
};

}  // namespace vantrelle
