// Feeds arbitrary graphics commands to the command parser and the payload decoders. File and
// shared-memory media are left out: the fuzzer must not read or remove files on the machine.
#include <cstddef>
#include <cstdint>
#include <span>

#include "Vantrelle/Graphics/KittyGraphicsControl.h"
#include "Vantrelle/Graphics/KittyGraphicsPayload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  auto command = vantrelle::parseKittyGraphicsControl(bytes);
  command.control.transmission = 'd';
  (void)vantrelle::decodeKittyPayload(command.control, command.payload);
  // The raw bytes also go straight to the decoders that see client data after base64.
  (void)vantrelle::decompressZlib(bytes);
  (void)vantrelle::decodePngToRgba(bytes);
  return 0;
}
