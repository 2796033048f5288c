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
    case 4:
      oscChangeOrQueryColorIndex(data);
      break;
    case 6:
      oscSetCurrentDocument(data);
      break;
    case 7:
      oscSetCurrentDirectory(data);
      break;
    case 8:
      oscHyperlink(data);
      break;
    case 9:
      if (auto report = parseProgressReport(data)) {
        if (tdel) tdel->progressReport(*this, *report);
      } else {
        oscFallback(code, data);
      }
      break;
    case 10:
    case 11:
    case 12:
      oscSetColors(data, static_cast<int>(code - 10));
      break;
    case 52:
      oscClipboard(data);
      break;
    case 104:
      oscResetColor(data);
      break;
    case 112:
      if (tdel) tdel->setCursorColor(*this, std::nullopt);
      break;
    case 777:
      oscNotification(data);
      break;
    case 1337:
      osciTerm2(data);
      break;
    default:
      oscFallback(code, data);
      break;
  }
}

// Not carried out yet: each of these ignores its data.
void Terminal::oscChangeOrQueryColorIndex(std::span<const uint8_t> data) {}
void Terminal::oscSetCurrentDocument(std::span<const uint8_t> data) {}
void Terminal::oscSetCurrentDirectory(std::span<const uint8_t> data) {}
void Terminal::oscHyperlink(std::span<const uint8_t> data) {}
std::optional<ProgressReport> Terminal::parseProgressReport(std::span<const uint8_t> data) { return std::nullopt; }
void Terminal::oscSetColors(std::span<const uint8_t> data, int startIndex) {}
void Terminal::oscClipboard(std::span<const uint8_t> data) {}
void Terminal::oscResetColor(std::span<const uint8_t> data) {}
void Terminal::oscNotification(std::span<const uint8_t> data) {}
void Terminal::osciTerm2(std::span<const uint8_t> data) {}

}  // namespace vantrelle
