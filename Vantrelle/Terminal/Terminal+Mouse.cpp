// Mouse report encoding (X10, UTF-8, SGR, URXVT, SGR pixels).
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

int Terminal::encodeButton(int button, bool release, bool shift, bool meta, bool control) const { return 0; }
void Terminal::sendEvent(int buttonFlags, int x, int y, int pixelX, int pixelY) {}
void Terminal::sendMotion(int buttonFlags, int x, int y, int pixelX, int pixelY) {}

}  // namespace vantrelle
