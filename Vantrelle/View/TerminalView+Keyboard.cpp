// Keyboard input: key events become the legacy sequences or the Kitty keyboard encoding.
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::setupKeyboardInput() {}

}  // namespace vantrelle
