// The Kitty keyboard protocol's flag sequences: CSI = u, CSI > u, CSI < u and CSI ? u.
#include <string>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

bool Terminal::handleKittyKeyboardProtocol(std::span<const int> pars, std::span<const uint8_t> collect) {
  KeyboardModeState& state = isCurrentBufferAlternate() ? keyboardModeAlt : keyboardModeNormal;
  const KittyKeyboardCommandResult result = applyKittyKeyboardSequence(state, pars, collect);
  if (result.report) {
    const Bytes introducer = cc.csi();
    std::string text = "?";
    text.append(std::to_string(result.report->rawValue));
    text.push_back('u');
    sendResponse({introducer, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())});
  }
  return result.handled;
}

}  // namespace vantrelle
