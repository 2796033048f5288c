// Rectangular-area operations (DECCRA, DECFRA, DECERA, DECSERA, DECCARA, DECRARA, DECRQCRA).
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::csiCopyRectangularArea(std::span<const int> pars, std::span<const uint8_t> collect) {}
void Terminal::csiX(std::span<const int> pars, std::span<const uint8_t> collect) {}
void Terminal::cmdDECRQCRA(std::span<const int> pars, std::span<const uint8_t> collect) {}
void Terminal::csiZ(std::span<const int> pars, std::span<const uint8_t> collect) {}
void Terminal::csiOpenBrace(std::span<const int> pars, std::span<const uint8_t> collect) {}

}  // namespace vantrelle
