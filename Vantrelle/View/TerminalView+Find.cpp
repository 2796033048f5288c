// The find bar and moving between matches.
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::setupFindBar() {}

}  // namespace vantrelle
