#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vantrelle {

using Bytes = std::vector<uint8_t>;

// The fixed byte sequences a host sends for keys when the Kitty keyboard protocol is not in
// force. The App/Normal pairs follow the terminal's application-cursor mode.
struct EscapeSequences {
  static const Bytes cmdNewLine, cmdRet, cmdEsc, cmdDel, cmdDelKey;
  static const Bytes moveUpApp, moveUpNormal, moveDownApp, moveDownNormal;
  static const Bytes moveLeftApp, moveLeftNormal, moveRightApp, moveRightNormal;
  static const Bytes moveHomeApp, moveHomeNormal, moveEndApp, moveEndNormal;
  // The keypad's centre key (5 with Num Lock off).
  static const Bytes keypadBeginApp, keypadBeginNormal;
  static const Bytes cmdTab, cmdBackTab, cmdPageUp, cmdPageDown, cmdInsert;
  static const Bytes emacsBack, emacsForward, controlLeft, controlRight;
  // F1 at index 0.
  static const std::array<Bytes, 12> cmdF;
  // Wrapped around pasted text in bracketed-paste mode. Process-wide and replaceable (an empty
  // marker sends pastes bare); read on the thread that handles input.
  static Bytes bracketedPasteStart;
  static Bytes bracketedPasteEnd;
};

// Whether replies use 8-bit C1 introducers or their 7-bit ESC forms.
struct CC {
  bool send8bit = false;

  Bytes csi() const { return introducer(0x9B); }
  Bytes osc() const { return introducer(0x9D); }
  Bytes dcs() const { return introducer(0x90); }
  Bytes apc() const { return introducer(0x9F); }
  Bytes st() const { return introducer(0x9C); }

  // The 7-bit form is ESC followed by the C1 code minus 0x40.
  Bytes introducer(uint8_t c1) const { return send8bit ? Bytes{c1} : Bytes{0x1B, static_cast<uint8_t>(c1 - 0x40)}; }
};

}  // namespace vantrelle
