// The Kitty graphics protocol's entry: APC strings beginning with G.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::handleKittyGraphics(std::span<const uint8_t> content) {}

void Terminal::updateKittyRelativePlacementsForCurrentBuffer() {}

}  // namespace vantrelle
