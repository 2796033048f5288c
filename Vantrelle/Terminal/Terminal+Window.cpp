// Window operations and reports (CSI t).
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::cmdWindowOptions(std::span<const int> pars) {}

}  // namespace vantrelle
