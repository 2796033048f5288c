// The Kitty keyboard protocol's flag sequences: CSI = u, CSI > u, CSI < u and CSI ? u.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

bool Terminal::handleKittyKeyboardProtocol(std::span<const int> pars, std::span<const uint8_t> collect) {
  return false;
}

}  // namespace vantrelle
