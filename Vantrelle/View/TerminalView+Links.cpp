// Hyperlinks: hover highlighting, the preview and opening links.
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::setupLinks() {}

}  // namespace vantrelle
