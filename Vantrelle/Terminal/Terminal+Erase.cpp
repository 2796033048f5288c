// Erasing, insertion and deletion of characters, lines and columns; line render modes; DECALN.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::cmdInsertChars(std::span<const int> pars) {}
void Terminal::cmdEraseInDisplay(std::span<const int> pars) {}
void Terminal::cmdEraseInLine(std::span<const int> pars) {}
void Terminal::cmdInsertLines(std::span<const int> pars) {}
void Terminal::cmdDeleteLines(std::span<const int> pars) {}
void Terminal::cmdDeleteChars(std::span<const int> pars) {}
void Terminal::cmdScrollUp(std::span<const int> pars) {}
void Terminal::cmdScrollDown(std::span<const int> pars) {}
void Terminal::cmdEraseChars(std::span<const int> pars) {}
void Terminal::cmdRepeatPrecedingCharacter(std::span<const int> pars) {}
void Terminal::csiCloseBrace(std::span<const int> pars, std::span<const uint8_t> collect) {}
void Terminal::cmdDeleteColumns(std::span<const int> pars, std::span<const uint8_t> collect) {}
void Terminal::setLineRenderMode(BufferLine::RenderLineMode mode) {}
void Terminal::cmdScreenAlignmentPattern() {}

}  // namespace vantrelle
