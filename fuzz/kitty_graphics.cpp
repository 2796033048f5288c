// Feeds arbitrary graphics commands to the command parser, the payload decoders and a terminal's
// image store. Commands are split at 0x00 bytes; those that name a file or shared-memory medium are
// left out, so the fuzzer never reads or removes files on the machine.
#include <cstddef>
#include <cstdint>
#include <span>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyGraphicsControl.h"
#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace {

class FuzzHost : public vantrelle::TerminalDelegate {
 public:
  void send(vantrelle::Terminal&, std::span<const uint8_t>) override {}
  std::optional<vantrelle::CellSize> cellSizeInPixels(vantrelle::Terminal&) override {
    return vantrelle::CellSize{9, 17};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  (void)vantrelle::decompressZlib(bytes);
  (void)vantrelle::decodePngToRgba(bytes);

  FuzzHost host;
  vantrelle::TerminalOptions options;
  options.cols = 20;
  options.rows = 6;
  options.scrollback = 10;
  options.kittyImageCacheLimitBytes = 1 << 20;
  vantrelle::Terminal terminal(&host, options);
  size_t start = 0;
  while (start <= size) {
    size_t end = start;
    while (end < size && data[end] != 0) ++end;
    auto command = bytes.subspan(start, end - start);
    start = end + 1;
    auto parsed = vantrelle::parseKittyGraphicsControl(command);
    (void)vantrelle::decodeKittyPayload(parsed.control, parsed.payload);
    if (parsed.control.transmission != 'd') continue;
    terminal.handleKittyGraphics(command);
    terminal.feed(std::string_view("ab\n"));
  }
  terminal.clearAllKittyImages();
  return 0;
}
