// Sixel images: DCS q strings.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

std::unique_ptr<DcsHandler> Terminal::makeSixelHandler(std::span<const int> pars) { return nullptr; }

}  // namespace vantrelle
