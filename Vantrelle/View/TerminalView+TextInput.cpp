// Text input: the input method's preedit and commit, paste and the clipboard.
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::setupTextInput() {}

void TerminalView::selectionChanged() {}

}  // namespace vantrelle
