// The debug view: an overlay of the terminal's internal state, refreshed after each redraw.
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::updateDebugView() {}

}  // namespace vantrelle
