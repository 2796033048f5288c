// Operating system commands: titles, directory, hyperlinks, colours, clipboard, notifications.
#include <string>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

// The text as UTF-8, or empty when it is not valid UTF-8.
std::string validUtf8(std::span<const uint8_t> data) {
  size_t i = 0;
  while (i < data.size()) {
    const uint8_t lead = data[i];
    int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                  : lead >= 0xF0 && lead <= 0xF4                                  ? 4
                                                                                                  : 0;
    if (length == 0 || i + static_cast<size_t>(length) > data.size()) return {};
    for (int k = 1; k < length; ++k) {
      uint8_t low = 0x80, high = 0xBF;
      if (k == 1 && lead == 0xE0) low = 0xA0;
      if (k == 1 && lead == 0xED) high = 0x9F;
      if (k == 1 && lead == 0xF0) low = 0x90;
      if (k == 1 && lead == 0xF4) high = 0x8F;
      const uint8_t b = data[i + static_cast<size_t>(k)];
      if (b < low || b > high) return {};
    }
    i += static_cast<size_t>(length);
  }
  return {data.begin(), data.end()};
}

}  // namespace

void Terminal::dispatchOscCommand(int64_t code, std::span<const uint8_t> data) {
  switch (code) {
    case 0:
    case 2:
      terminalTitle = validUtf8(data);
      if (tdel) tdel->setTerminalTitle(*this, terminalTitle);
      break;
    case 1:
      iconTitle = validUtf8(data);
      if (tdel) tdel->setTerminalIconTitle(*this, iconTitle);
      break;
    case 112:
      if (tdel) tdel->setCursorColor(*this, std::nullopt);
      break;
    default:
      oscFallback(code, data);
      break;
  }
}

}  // namespace vantrelle
