// Mouse reports: the button-code arithmetic and the five report encodings (X10, UTF-8, SGR,
// URXVT and SGR-pixel), as xterm defines them.
#include <algorithm>

#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

bool isSgr(MouseProtocolEncoding protocol) {
  return protocol == MouseProtocolEncoding::sgr || protocol == MouseProtocolEncoding::sgrPixel;
}

int baseButtonCode(int button) {
  switch (button) {
    case 1:
      return 1;
    case 2:
      return 2;
    case 4:
      return 64;
    case 5:
      return 65;
    default:
      return 0;
  }
}

}  // namespace

int Terminal::encodeButton(int button, bool release, bool shift, bool meta, bool control) const {
  int code;
  if (!release)
    code = baseButtonCode(button);
  else if (isSgr(mouseProtocol))
    // SGR reports say which button was let go; the release is carried by a flag of our own
    // that sendEvent turns into the final "m".
    code = baseButtonCode(button) | mouseReleaseFlag;
  else
    code = 3;
  if (sendsModifiers(mouseMode())) {
    if (shift) code |= 4;
    if (meta) code |= 8;
    if (control) code |= 16;
  }
  return code;
}

void Terminal::sendEvent(int buttonFlags, int x, int y, int pixelX, int pixelY) {
  const bool flaggedRelease = (buttonFlags & mouseReleaseFlag) != 0;
  int b = buttonFlags & ~mouseReleaseFlag;
  const bool release = flaggedRelease || (b & 35) == 3;
  const bool motion = (b & 32) != 0;
  // X10 compatibility mode reports button presses and nothing else.
  if (mouseMode() == MouseMode::x10 && (release || motion)) return;
  Bytes data = cc.csi();
  switch (mouseProtocol) {
    case MouseProtocolEncoding::x10:
    case MouseProtocolEncoding::utf8:
      if (flaggedRelease) b = 3 | (b & ~(1 | 2 | 64));
      data.push_back('M');
      if (mouseProtocol == MouseProtocolEncoding::x10) {
        for (int v : {b + 32, x + 33, y + 33}) data.push_back(uint8_t(std::clamp(v, 0, 255)));
      } else {
        for (int v : {b + 32, x + 33, y + 33}) encodeMouseUtf(data, v);
      }
      break;
    case MouseProtocolEncoding::sgr:
    case MouseProtocolEncoding::sgrPixel: {
      const int code = flaggedRelease ? b : (release ? b & ~(1 | 2 | 32) : b);
      const bool pixels = mouseProtocol == MouseProtocolEncoding::sgrPixel;
      std::string text =
          concat("<", code, ";", pixels ? pixelX : x + 1, ";", pixels ? pixelY : y + 1, release ? "m" : "M");
      data.insert(data.end(), text.begin(), text.end());
      break;
    }
    case MouseProtocolEncoding::urxvt: {
      if (flaggedRelease) b = 3 | (b & ~(1 | 2 | 64));
      std::string text = concat(b + 32, ";", x + 1, ";", y + 1, "M");
      data.insert(data.end(), text.begin(), text.end());
      break;
    }
  }
  sendResponse({data});
}

void Terminal::sendMotion(int buttonFlags, int x, int y, int pixelX, int pixelY) {
  sendEvent(buttonFlags + 32, x, y, pixelX, pixelY);
}

void Terminal::encodeMouseUtf(Bytes& data, int ch) {
  if (ch < 0) ch = 0;
  if (ch < 128) {
    data.push_back(uint8_t(ch));
    return;
  }
  // Two bytes carry at most 2047; larger values saturate there. (A lone 0 for 2047 would end
  // the report early in programs that read it as a C string.)
  ch = std::min(ch, 2047);
  data.push_back(uint8_t(0xC0 | (ch >> 6)));
  data.push_back(uint8_t(0x80 | (ch & 63)));
}

}  // namespace vantrelle
