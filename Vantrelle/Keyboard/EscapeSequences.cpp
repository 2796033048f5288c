#include "Vantrelle/Keyboard/EscapeSequences.h"

namespace vantrelle {

const Bytes EscapeSequences::cmdNewLine{0x0A};
const Bytes EscapeSequences::cmdRet{0x0D};
const Bytes EscapeSequences::cmdEsc{0x1B};
const Bytes EscapeSequences::cmdDel{0x7F};
const Bytes EscapeSequences::cmdDelKey{0x1B, '[', '3', '~'};
const Bytes EscapeSequences::moveUpApp{0x1B, 'O', 'A'};
const Bytes EscapeSequences::moveUpNormal{0x1B, '[', 'A'};
const Bytes EscapeSequences::moveDownApp{0x1B, 'O', 'B'};
const Bytes EscapeSequences::moveDownNormal{0x1B, '[', 'B'};
const Bytes EscapeSequences::moveLeftApp{0x1B, 'O', 'D'};
const Bytes EscapeSequences::moveLeftNormal{0x1B, '[', 'D'};
const Bytes EscapeSequences::moveRightApp{0x1B, 'O', 'C'};
const Bytes EscapeSequences::moveRightNormal{0x1B, '[', 'C'};
const Bytes EscapeSequences::moveHomeApp{0x1B, 'O', 'H'};
const Bytes EscapeSequences::moveHomeNormal{0x1B, '[', 'H'};
const Bytes EscapeSequences::moveEndApp{0x1B, 'O', 'F'};
const Bytes EscapeSequences::moveEndNormal{0x1B, '[', 'F'};
const Bytes EscapeSequences::keypadBeginApp{0x1B, 'O', 'E'};
const Bytes EscapeSequences::keypadBeginNormal{0x1B, '[', 'E'};
const Bytes EscapeSequences::cmdTab{0x09};
const Bytes EscapeSequences::cmdBackTab{0x1B, '[', 'Z'};
const Bytes EscapeSequences::cmdPageUp{0x1B, '[', '5', '~'};
const Bytes EscapeSequences::cmdPageDown{0x1B, '[', '6', '~'};
const Bytes EscapeSequences::cmdInsert{0x1B, '[', '2', '~'};
const Bytes EscapeSequences::emacsBack{0x1B, 'b'};
const Bytes EscapeSequences::emacsForward{0x1B, 'f'};
const Bytes EscapeSequences::controlLeft{0x1B, '[', '1', ';', '5', 'D'};
const Bytes EscapeSequences::controlRight{0x1B, '[', '1', ';', '5', 'C'};
// VT220 numbering: 16 and 22 are not function keys.
const std::array<Bytes, 12> EscapeSequences::cmdF{{
    {0x1B, 'O', 'P'},
    {0x1B, 'O', 'Q'},
    {0x1B, 'O', 'R'},
    {0x1B, 'O', 'S'},
    {0x1B, '[', '1', '5', '~'},
    {0x1B, '[', '1', '7', '~'},
    {0x1B, '[', '1', '8', '~'},
    {0x1B, '[', '1', '9', '~'},
    {0x1B, '[', '2', '0', '~'},
    {0x1B, '[', '2', '1', '~'},
    {0x1B, '[', '2', '3', '~'},
    {0x1B, '[', '2', '4', '~'},
}};
Bytes EscapeSequences::bracketedPasteStart{0x1B, '[', '2', '0', '0', '~'};
Bytes EscapeSequences::bracketedPasteEnd{0x1B, '[', '2', '0', '1', '~'};

}  // namespace vantrelle
