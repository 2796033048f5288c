// Feeds arbitrary graphics commands to the command parser, the payload decoders and a terminal's
// image store, with a host that shows placements as cells. Commands are split at 0x00 bytes; those
// that name a file or shared-memory medium are left out, so the fuzzer never reads or removes files
// on the machine.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyGraphicsControl.h"
#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace {

// Shows placements as the view does: a cell a line from the cursor, and a record for those with a
// placement id, so the bookkeeping of image cells and records is fuzzed along with the commands.
class FuzzHost : public vantrelle::TerminalDelegate {
 public:
  struct Cell : vantrelle::KittyPlacementImage {
    int column = 0;
    int pixelWidth() const override { return 9; }
    int pixelHeight() const override { return 17; }
    int col() const override { return column; }
    void setCol(int c) override { column = c; }
  };

  void send(vantrelle::Terminal&, std::span<const uint8_t>) override {}
  std::optional<vantrelle::CellSize> cellSizeInPixels(vantrelle::Terminal&) override {
    return vantrelle::CellSize{9, 17};
  }
  void createImageFromBitmap(vantrelle::Terminal& terminal, std::vector<uint8_t>&, int, int height) override {
    place(terminal, height);
  }
  void createImage(vantrelle::Terminal& terminal, std::span<const uint8_t>, vantrelle::ImageSizeRequest,
                   vantrelle::ImageSizeRequest heightRequest, bool) override {
    place(terminal,
          heightRequest.kind == vantrelle::ImageSizeRequest::Kind::cells ? int(heightRequest.value) * 17 : 17);
  }

 private:
  void place(vantrelle::Terminal& terminal, int height) {
    const auto& context = terminal.kittyPlacementContext;
    vantrelle::Buffer& buffer = *terminal.buffer;
    const int rows = std::clamp((height + 16) / 17, 1, 8);
    const int64_t top = int64_t(buffer.y) + buffer.yBase;
    for (int i = 0; i < rows; ++i) {
      auto cell = std::make_shared<Cell>();
      cell->column = buffer.x;
      if (context) {
        cell->kittyIsKitty = true;
        cell->kittyImageId = context->imageId;
        cell->kittyPlacementId = context->placementId;
        cell->kittyZIndex = context->zIndex;
        cell->kittyCol = buffer.x;
        cell->kittyRow = top;
        cell->kittyCols = 1;
        cell->kittyRows = rows;
      }
      vantrelle::attachImage(terminal, buffer, cell, int(top + i));
    }
    if (context) vantrelle::recordKittyPlacement(terminal, *context, buffer.x, top, 1, rows);
  }
};

// Between commands: text, scrolling within a region, switches of screen and resizes, which move
// the lines the image cells are on.
constexpr std::string_view kBetween[] = {
    "ab\n", "\x1b[2;4r\x1b[4H\n\n\x1b[r", "\x1b[?1049h", "\x1b[?1049l", "\x1b[2L\x1b[M", "x\r\n\r\n\r\n",
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
    const uint8_t pick = command.empty() ? 0 : command.back();
    terminal.feed(kBetween[pick % std::size(kBetween)]);
    if (pick % 11 == 0) terminal.resize(pick % 2 ? 12 : 20, pick % 3 ? 6 : 5);
  }
  terminal.clearAllKittyImages();
  return 0;
}
