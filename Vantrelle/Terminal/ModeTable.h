#pragma once

namespace vantrelle {

class Terminal;

// One mode a program sets with SM/RM or DECSET/DECRST and asks about with DECRQM. Setting and
// reporting both read these entries, so a mode cannot be set through one list and reported
// through another.
struct ModeEntry {
  int number;
  const char* name;
  // The field the mode is, where setting it only stores the field.
  bool Terminal::*flag = nullptr;
  // What setting or resetting does where it is more than storing the field. With neither, the
  // terminal does not act on the mode and a set is logged as unhandled.
  void (*set)(Terminal&, bool on) = nullptr;
  // The answer to a request where the field does not give it.
  int (*report)(const Terminal&) = nullptr;
  // The answer for a mode that never changes: 1 set, 2 reset, 4 permanently reset.
  int fixed = 0;
};

// The entry of a DEC private or an ANSI mode, or null for one the terminal does not know.
const ModeEntry* findDecMode(int number);
const ModeEntry* findAnsiMode(int number);

// The DECRQM answer for a mode: 0 for one the terminal does not know.
int modeStatus(const Terminal& terminal, const ModeEntry* mode);

}  // namespace vantrelle
