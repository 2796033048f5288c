// The debug view: an overlay of the terminal's internal state, refreshed after each redraw.
#include "Vantrelle/View/DebugView.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::updateDebugView() {
  if (debug) debug->update();
}

}  // namespace vantrelle
