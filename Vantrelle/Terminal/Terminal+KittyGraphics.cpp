// The Kitty graphics protocol's entry: APC strings beginning with G. The protocol itself lives in
// Vantrelle/Graphics.
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::handleKittyGraphics(std::span<const uint8_t> content) { handleKittyGraphicsCommand(*this, content); }

void Terminal::updateKittyRelativePlacementsForCurrentBuffer() {
  vantrelle::updateKittyRelativePlacementsForCurrentBuffer(*this);
}

void Terminal::clearAllKittyImages() { vantrelle::clearAllKittyImages(*this); }

void Terminal::clearKittyImages(Buffer& buffer, bool isAlternateBuffer) {
  vantrelle::clearKittyImages(*this, buffer, isAlternateBuffer);
}

}  // namespace vantrelle
