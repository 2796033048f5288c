// OSC 4, 10, 11, 12 and 104: palette entries and the default colours, set or queried.
#include <string>

#include "Vantrelle/Terminal/OscText.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

// Queries are always answered with ST, whatever ended the request.
void Terminal::sendColorReply(const std::string& text) {
  const Bytes introducer = cc.osc();
  const Bytes terminator = cc.st();
  sendResponse({introducer, osc::bytes(text), terminator});
}

void Terminal::oscSetColors(std::span<const uint8_t> data, int startIndex) {
  std::vector<std::span<const uint8_t>> pieces;
  size_t from = 0;
  while (from <= data.size()) {
    size_t at = from;
    while (at < data.size() && data[at] != ';') ++at;
    if (at > from) pieces.push_back(data.subspan(from, at - from));
    from = at + 1;
  }
  if (pieces.empty()) return;
  const auto [referenceFg, referenceBg] =
      tdel ? tdel->getColors(*this) : std::pair<Color, Color>{foregroundColor, backgroundColor};
  for (size_t i = 0; i < pieces.size(); ++i) {
    const int slot = startIndex + static_cast<int>(i);
    if (slot > 2) break;
    const auto piece = pieces[i];
    if (piece[0] == '?') {
      const Color& color = slot == 0 ? referenceFg : slot == 1 ? referenceBg : cursorColor.value_or(referenceFg);
      sendColorReply(std::to_string(10 + slot) + ";" + color.formatAsXcolor());
      continue;
    }
    const auto color = Color::parseColor(piece);
    if (!color) continue;
    if (slot == 0) {
      setForegroundColor(*color);
      if (tdel) tdel->setForegroundColor(*this, *color);
    } else if (slot == 1) {
      setBackgroundColor(*color);
      if (tdel) tdel->setBackgroundColor(*this, *color);
    } else {
      setCursorColor(*color);
      if (tdel) tdel->setCursorColor(*this, *color);
    }
  }
}

// OSC 4 ; index ; colour [; index ; colour ...], where a colour of "?" asks for the entry.
void Terminal::oscChangeOrQueryColorIndex(std::span<const uint8_t> data) {
  size_t at = 0;
  while (at < data.size()) {
    size_t separator = at;
    while (separator < data.size() && data[separator] != ';') ++separator;
    if (separator >= data.size() || separator == at) return;
    int index = 0;
    for (size_t k = at; k < separator; ++k) {
      if (data[k] < '0' || data[k] > '9') return;
      index = index * 10 + (data[k] - '0');
      if (index > 255) return;
    }
    at = separator + 1;
    if (at < data.size() && data[at] == '?') {
      sendColorReply("4;" + std::to_string(index) + ";" + ansiColors[static_cast<size_t>(index)].formatAsXcolor());
      at += 1;
      if (at < data.size() && data[at] == ';') at += 1;
      continue;
    }
    size_t specEnd = at;
    while (specEnd < data.size() && data[specEnd] != ';') ++specEnd;
    if (const auto color = Color::parseColor(data.subspan(at, specEnd - at))) {
      ansiColors[static_cast<size_t>(index)] = *color;
      if (tdel) tdel->colorChanged(*this, index);
    }
    if (specEnd >= data.size()) return;
    at = specEnd + 1;
  }
}

void Terminal::oscResetColor(std::span<const uint8_t> data) {
  if (data.empty()) return resetAllColors();
  const auto text = osc::ascii(data);
  if (!text) return;
  for (std::string_view piece : osc::split(*text, ';')) {
    if (piece.empty()) continue;
    const int64_t index = osc::parseInteger(piece).value_or(0);
    if (index < 0 || index > 255) continue;
    ansiColors[static_cast<size_t>(index)] = defaultAnsiColors[static_cast<size_t>(index)];
    if (tdel) tdel->colorChanged(*this, static_cast<int>(index));
  }
}

}  // namespace vantrelle
