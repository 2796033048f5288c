// Feeds one script to a terminal whose scrollback it soon fills and to one with room to spare,
// and aborts on the first difference in what both still hold (see ScrollbackParity.h).
//
// Input: columns, rows and the smaller scrollback, then the script's tokens.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzReader.h"
#include "fuzz/ScrollbackParity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::Reader in(data, size);
  const int cols = in.byte() % 24 + 10, rows = in.byte() % 6 + 3;
  const uint8_t ring = in.byte();
  const int scrollback = ring < 64 ? ring % 4 : ring % 20 + 40;
  parity::ScrollbackParity parity(cols, rows, scrollback);
  if (auto difference = parity.run(in, 300)) {
    std::fprintf(stderr, "%dx%d, scrollback %d: %s\n", cols, rows, scrollback, difference->c_str());
    std::abort();
  }
  return 0;
}
