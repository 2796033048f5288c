// Mouse input: reports to the program, selection by dragging, and the scroll wheel.
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::setupMouseInput() {}

void TerminalView::startMouseMoveTracking() {}

void TerminalView::stopMouseMoveTracking() {}

}  // namespace vantrelle
