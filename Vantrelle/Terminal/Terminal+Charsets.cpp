// Designation (ESC ( ... ) and invocation (SO, SI, LS2, LS3, ...) of the G0-G3 character sets.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::setgLevel(uint8_t v) {
  gLevel = v;
  charset = v < gCharsets.size() ? gCharsets[v] : std::nullopt;
}

void Terminal::setgCharset(uint8_t v, std::optional<CharsetMap> map) {
  if (v >= gCharsets.size()) return;
  gCharsets[v] = map;
  if (v == gLevel) charset = std::move(map);
}

void Terminal::selectCharset(std::span<const uint8_t> p) {
  if (p.size() != 2) {
    setgLevel(0);
    setgCharset(0, std::nullopt);
    return;
  }
  std::optional<CharsetMap> map;
  if (const CharsetMap* found = CharSets::all(p[1])) map = *found;
  switch (p[0]) {
    case '(':
      return setgCharset(0, map);
    case ')':
    case '-':
      return setgCharset(1, map);
    case '*':
    case '.':
      return setgCharset(2, map);
    case '+':
    case '/':
      return setgCharset(3, map);
    default:
      return;
  }
}

}  // namespace vantrelle
