// Feeds arbitrary bytes to the engine.
#include <cstddef>
#include <cstdint>

#include "Vantrelle/Engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)data;
  (void)size;
  (void)vantrelle::engineVersion();
  return 0;
}
