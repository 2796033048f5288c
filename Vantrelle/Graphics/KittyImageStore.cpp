#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyGraphicsReplies.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

// What the budget counts for an image: its pixels once decoded (the view holds PNG images as
// pixels too) or the data the store holds, whichever is larger, and the store's own overhead.
int64_t imageCost(const KittyGraphicsPayload& payload) {
  const int64_t held = int64_t(payload.bytes().size());
  int64_t decoded = held;
  if (payload.isPng()) {
    if (auto size = kittyPngPixelSize(payload.bytes())) decoded = int64_t(size->width) * size->height * 4;
  }
  return std::max(held, decoded) + kKittyImageOverheadBytes;
}

std::optional<KittyPixelSize> pixelSizeOf(const KittyGraphicsPayload& payload) {
  if (payload.isPng()) return kittyPngPixelSize(payload.bytes());
  return KittyPixelSize{payload.width(), payload.height()};
}

// The crop rectangle of x, y, w, h applied to an image: the payload to show, or an error.
struct CropResult {
  std::optional<KittyGraphicsPayload> payload;
  std::optional<std::string_view> errorMessage;
};

CropResult cropKittyImage(const KittyGraphicsPayload& payload, const KittyGraphicsControl& control) {
  if (control.cropX == 0 && control.cropY == 0 && control.cropWidth == 0 && control.cropHeight == 0) {
    return {payload, std::nullopt};
  }
  KittyRgbaPixels pixels;
  if (payload.isPng()) {
    auto decoded = decodePngToRgba(payload.bytes());
    if (!decoded) return {std::nullopt, KittyMessage::cannotCropPng};
    pixels = std::move(*decoded);
  } else {
    pixels.width = payload.width();
    pixels.height = payload.height();
  }
  int64_t w = pixels.width, h = pixels.height;
  int64_t x0 = std::clamp<int64_t>(control.cropX, 0, w);
  int64_t y0 = std::clamp<int64_t>(control.cropY, 0, h);
  int64_t width = control.cropWidth < 1 ? w - x0 : std::min(control.cropWidth, w - x0);
  int64_t height = control.cropHeight < 1 ? h - y0 : std::min(control.cropHeight, h - y0);
  if (control.cropX <= 0 && control.cropY <= 0 && width == w && height == h) {
    if (!payload.isPng()) return {payload, std::nullopt};
    return {KittyGraphicsPayload::rgba(std::move(pixels.bytes), int(w), int(h)), std::nullopt};
  }
  if (width < 1 || height < 1) return {std::nullopt, KittyMessage::badCrop};
  std::span<const uint8_t> source = payload.isPng() ? std::span<const uint8_t>(pixels.bytes) : payload.bytes();
  std::vector<uint8_t> out(size_t(width * height * 4));
  for (int64_t row = 0; row < height; ++row) {
    auto from = source.begin() + ((y0 + row) * w + x0) * 4;
    std::copy(from, from + width * 4, out.begin() + row * width * 4);
  }
  return {KittyGraphicsPayload::rgba(std::move(out), int(width), int(height)), std::nullopt};
}

// Placements for Unicode placeholders: a record only, no cells, the cursor stays.
bool displayVirtualPlacement(Terminal& terminal, const KittyGraphicsControl& control, std::optional<uint32_t> imageId,
                             int64_t pixelOffsetX, int64_t pixelOffsetY) {
  auto& state = terminal.kittyGraphicsState;
  if (!imageId) return true;
  markKittyImageShown(state, *imageId);
  uint32_t placementId;
  if (control.placementId) {
    placementId = *control.placementId;
  } else {
    // An id chosen for the client never takes over a placement the client named itself.
    do {
      placementId = state.nextPlacementId <= 1 ? 1 : state.nextPlacementId;
      state.nextPlacementId = placementId + 1 == 0 ? 1 : placementId + 1;
    } while (state.placementsByKey.contains({*imageId, placementId}) && state.placementsByKey.size() < UINT32_MAX - 1);
  }
  removeKittyPlacement(terminal, *imageId, placementId);
  KittyPlacementRecord record;
  record.imageId = *imageId;
  record.placementId = placementId;
  record.pixelOffsetX = pixelOffsetX;
  record.pixelOffsetY = pixelOffsetY;
  record.col = terminal.cursorColumn();
  record.isAlternateBuffer = terminal.isCurrentBufferAlternate();
  setKittyRecordRow(terminal, record, int64_t(terminal.buffer->y) + terminal.buffer->yBase);
  record.cols = std::max<int64_t>(control.columns, 0);
  record.rows = std::max<int64_t>(control.rows, 0);
  record.zIndex = control.zIndex;
  record.isVirtual = true;
  state.placementsByKey[record.key()] = record;
  state.virtualKeys.insert(record.key());
  enforceKittyImageCacheLimit(terminal);
  return true;
}

// Pixel offsets inside the first cell: at least 0, and less than a cell when its size is known.
std::pair<int64_t, int64_t> clampPixelOffsets(const KittyGraphicsControl& control, std::optional<CellSize> cell) {
  if (control.pixelOffsetX < 1 && control.pixelOffsetY < 1) return {0, 0};
  int64_t x = std::max<int64_t>(control.pixelOffsetX, 0);
  int64_t y = std::max<int64_t>(control.pixelOffsetY, 0);
  if (cell) {
    x = std::min<int64_t>(x, std::max<int64_t>(cell->width - 1, 0));
    y = std::min<int64_t>(y, std::max<int64_t>(cell->height - 1, 0));
  }
  return {x, y};
}

// The placement's size in cells, when it can be known.
std::optional<std::pair<int64_t, int64_t>> placementCells(const KittyGraphicsControl& control,
                                                          const KittyGraphicsPayload& payload,
                                                          std::optional<CellSize> cell, bool preserveAspectRatio,
                                                          int64_t pixelOffsetX, int64_t pixelOffsetY) {
  int64_t c = control.columns, r = control.rows;
  if (c >= 1 && r >= 1) return std::pair{c, r};
  if (!cell || cell->width <= 0 || cell->height <= 0) return std::nullopt;
  auto size = pixelSizeOf(payload);
  if (!size || size->width <= 0 || size->height <= 0) return std::nullopt;
  double cw = double(cell->width), ch = double(cell->height);
  double w = double(size->width), h = double(size->height);
  double pixelWidth = c >= 1 ? double(c) * cw : w;
  double pixelHeight = r >= 1 ? double(r) * ch : h;
  if (preserveAspectRatio) {
    if (c < 1 && r >= 1) pixelWidth = pixelHeight * w / h;
    if (c >= 1 && r < 1) pixelHeight = pixelWidth * h / w;
  }
  auto cells = [](double pixels, double offset, double cellSize) {
    return std::max<int64_t>(int64_t(std::ceil((pixels + offset) / cellSize)), 1);
  };
  return std::pair{cells(pixelWidth, double(pixelOffsetX), cw), cells(pixelHeight, double(pixelOffsetY), ch)};
}

void setCursor(Buffer& buffer, int64_t x, int64_t y) {
  if (x >= 0) buffer.x = int(std::min<int64_t>(x, INT32_MAX));
  if (y >= 0) buffer.y = int(std::min<int64_t>(y, INT32_MAX));
}

// Where the cursor goes once the image is shown: past the image, or back where it was.
void moveCursorAfterPlacement(Terminal& terminal, const KittyGraphicsControl& control,
                              const KittyGraphicsPayload& payload, const KittyPlacementContext& context,
                              std::pair<int, int> remembered, std::pair<int64_t, int64_t> anchor,
                              std::optional<CellSize> cell) {
  Buffer& buffer = *terminal.buffer;
  if (context.isRelative || control.cursorPolicy == 1) {
    setCursor(buffer, remembered.first, remembered.second);
    return;
  }
  auto size =
      placementCells(control, payload, cell, context.preserveAspectRatio, context.pixelOffsetX, context.pixelOffsetY);
  if (!size) return;
  auto [columns, rows] = *size;
  if (cell) {
    setCursor(buffer, anchor.first + columns, anchor.second + rows - buffer.yBase);
  } else {
    setCursor(buffer, anchor.first, anchor.second - buffer.yBase);
    // Scrolls at the bottom margin like line feeds; more than a screen of them adds nothing.
    int64_t steps = std::min<int64_t>(rows, terminal.rows);
    for (int64_t i = 0; i < steps; ++i) terminal.cmdIndex();
    setCursor(buffer, anchor.first + columns, -1);
  }
  terminal.restrictCursor();
}

}  // namespace

void markKittyImageShown(KittyGraphicsState& state, uint32_t imageId) {
  if (auto found = state.imagesById.find(imageId); found != state.imagesById.end()) found->second.shownSinceScan = true;
}

void storeKittyImage(Terminal& terminal, KittyGraphicsPayload payload, uint32_t imageId,
                     std::optional<uint32_t> imageNumber) {
  auto& state = terminal.kittyGraphicsState;
  int64_t byteSize = imageCost(payload);
  uint64_t tick = state.nextImageAccessTick++;
  std::optional<uint32_t> number = imageNumber;
  if (auto old = state.imagesById.find(imageId); old != state.imagesById.end()) {
    // A number that named the old image now names the new one.
    if (!number) number = old->second.number;
    state.totalImageBytes = std::max<int64_t>(state.totalImageBytes - old->second.byteSize, 0);
    state.idsByAccess.erase(old->second.lastAccessTick);
    state.imagesById.erase(old);
  }
  state.imagesById.emplace(imageId, KittyGraphicsImage{std::move(payload), byteSize, tick, number});
  state.idsByAccess[tick] = imageId;
  state.totalImageBytes += byteSize;
  if (imageNumber) state.imageNumbers[*imageNumber] = imageId;
  enforceKittyImageCacheLimit(terminal);
}

std::optional<KittyGraphicsImage> updateKittyImageAccess(Terminal& terminal, uint32_t imageId) {
  auto& state = terminal.kittyGraphicsState;
  auto found = state.imagesById.find(imageId);
  if (found == state.imagesById.end()) return std::nullopt;
  state.idsByAccess.erase(found->second.lastAccessTick);
  found->second.lastAccessTick = state.nextImageAccessTick++;
  state.idsByAccess[found->second.lastAccessTick] = imageId;
  return found->second;
}

void handleKittyPut(Terminal& terminal, const KittyGraphicsControl& control) {
  auto& state = terminal.kittyGraphicsState;
  std::optional<uint32_t> id, number;
  std::optional<KittyGraphicsImage> image;
  if (control.imageNumber) {
    if (auto mapped = state.imageNumbers.find(*control.imageNumber); mapped != state.imageNumbers.end()) {
      if ((image = updateKittyImageAccess(terminal, mapped->second))) {
        id = mapped->second;
        number = control.imageNumber;
      }
    }
  }
  if (!image && control.imageId && (image = updateKittyImageAccess(terminal, *control.imageId))) {
    id = control.imageId;
  }
  if (!image) {
    sendKittyError(terminal, control, KittyMessage::imageNotFound);
    return;
  }
  if (displayKittyImage(terminal, image->payload, control, id, number)) {
    sendKittyOk(terminal, control, id, number, control.placementId);
  }
}

bool displayKittyImage(Terminal& terminal, const KittyGraphicsPayload& payload, const KittyGraphicsControl& control,
                       std::optional<uint32_t> imageId, std::optional<uint32_t> imageNumber) {
  TerminalDelegate* delegate = terminal.tdel;
  std::optional<CellSize> cell = delegate ? delegate->cellSizeInPixels(terminal) : std::nullopt;
  if (control.unicodePlaceholder == 1) {
    if (control.parentImageId || control.parentPlacementId) {
      sendKittyError(terminal, control, KittyMessage::virtualWithParent);
      return false;
    }
    auto [offsetX, offsetY] = clampPixelOffsets(control, cell);
    return displayVirtualPlacement(terminal, control, imageId ? imageId : control.imageId, offsetX, offsetY);
  }

  KittyPlacementContext context;
  auto request = [](int64_t cells) {
    return cells > 0 ? ImageSizeRequest{ImageSizeRequest::Kind::cells, cells} : ImageSizeRequest{};
  };
  context.widthRequest = request(control.columns);
  context.heightRequest = request(control.rows);
  context.preserveAspectRatio = control.columns == 0 || control.rows == 0;

  auto origin = resolveKittyPlacementOrigin(terminal, control);
  if (origin.errorMessage) {
    sendKittyError(terminal, control, *origin.errorMessage);
    return false;
  }
  auto cropped = cropKittyImage(payload, control);
  if (!cropped.payload) {
    sendKittyError(terminal, control, *cropped.errorMessage);
    return false;
  }
  std::tie(context.pixelOffsetX, context.pixelOffsetY) = clampPixelOffsets(control, cell);
  context.imageId = imageId ? imageId : control.imageId;
  context.imageNumber = imageNumber ? imageNumber : control.imageNumber;
  context.placementId = control.placementId;
  context.parentImageId = control.parentImageId;
  context.parentPlacementId = control.parentPlacementId;
  context.parentOffsetH = control.offsetH;
  context.parentOffsetV = control.offsetV;
  context.zIndex = control.zIndex;
  context.cursorPolicy = control.cursorPolicy;
  context.isRelative = origin.isRelative;
  context.linesDropped = terminal.buffer->linesDropped;
  terminal.kittyPlacementContext = context;
  if (context.imageId) markKittyImageShown(terminal.kittyGraphicsState, *context.imageId);

  // The image starts in the column the cursor is shown in, never past the edge.
  terminal.endPendingWrap();
  Buffer& buffer = *terminal.buffer;
  std::pair<int, int> remembered{buffer.x, buffer.y};
  if (context.imageId && control.placementId) removeKittyPlacement(terminal, *context.imageId, *control.placementId);
  if (origin.col && origin.row) {
    // The anchor must be a row of the screen, so the cursor never leaves it.
    int64_t screenRow = *origin.row - buffer.yBase;
    if (screenRow < 0 || screenRow >= terminal.rows) {
      terminal.kittyPlacementContext.reset();
      sendKittyError(terminal, control, KittyMessage::placementOutOfRange);
      return false;
    }
    buffer.y = int(screenRow);
    buffer.x = int(std::clamp<int64_t>(*origin.col, 0, std::max(terminal.cols - 1, 0)));
  }
  std::pair<int64_t, int64_t> anchor{buffer.x, int64_t(buffer.y) + buffer.yBase};

  const KittyGraphicsPayload& shown = *cropped.payload;
  const std::pair<int, uint64_t> drawnAt{buffer.yBase, buffer.linesDropped};
  if (delegate) {
    if (shown.isPng()) {
      delegate->createImage(terminal, shown.bytes(), context.widthRequest, context.heightRequest,
                            context.preserveAspectRatio);
    } else {
      std::vector<uint8_t> bytes(shown.bytes().begin(), shown.bytes().end());
      delegate->createImageFromBitmap(terminal, bytes, shown.width(), shown.height());
    }
  }
  if (context.isRelative && context.imageId && context.placementId) {
    terminal.kittyGraphicsState.relativeKeys.insert({*context.imageId, *context.placementId});
    // The host's line feeds between the rows scroll a region whose bottom the placement reaches,
    // and the rows drawn so far go up with it: the placement goes where its parent puts it.
    if (buffer.yBase != drawnAt.first || buffer.linesDropped != drawnAt.second)
      updateKittyRelativePlacementsForCurrentBuffer(terminal);
  }
  // The host's line feeds between the image's rows may have scrolled a full ring, which moves the
  // anchor's line up as many indexes as lines left the top.
  anchor.second -= int64_t(buffer.linesDropped - context.linesDropped);
  moveCursorAfterPlacement(terminal, control, shown, context, remembered, anchor, cell);
  terminal.kittyPlacementContext.reset();
  // The host may have recorded the placement: the record counts in the budget.
  enforceKittyImageCacheLimit(terminal);
  return true;
}

void recordKittyPlacement(Terminal& terminal, const KittyPlacementContext& context, int64_t col, int64_t row,
                          int64_t cols, int64_t rows) {
  if (!context.imageId || !context.placementId) return;
  KittyPlacementRecord record{.imageId = *context.imageId,
                              .placementId = *context.placementId,
                              .parentImageId = context.parentImageId,
                              .parentPlacementId = context.parentPlacementId,
                              .parentOffsetH = context.parentOffsetH,
                              .parentOffsetV = context.parentOffsetV,
                              .pixelOffsetX = context.pixelOffsetX,
                              .pixelOffsetY = context.pixelOffsetY,
                              .col = col,
                              .row = row,
                              .cols = cols,
                              .rows = rows,
                              .zIndex = context.zIndex,
                              .isAlternateBuffer = terminal.isCurrentBufferAlternate(),
                              .rowLinesDropped = context.linesDropped};
  terminal.kittyGraphicsState.placementsByKey[record.key()] = record;
}

int64_t kittyRecordRow(const Terminal& terminal, const KittyPlacementRecord& record) {
  const Buffer& buffer = record.isAlternateBuffer ? *terminal.altBuffer : *terminal.normalBuffer;
  return record.row - int64_t(buffer.linesDropped - record.rowLinesDropped);
}

void setKittyRecordRow(const Terminal& terminal, KittyPlacementRecord& record, int64_t row) {
  const Buffer& buffer = record.isAlternateBuffer ? *terminal.altBuffer : *terminal.normalBuffer;
  record.row = row;
  record.rowLinesDropped = buffer.linesDropped;
}

KittyRecordPlaces kittyRecordPlaces(Terminal& terminal) {
  KittyRecordPlaces taken;
  Buffer& buffer = *terminal.normalBuffer;
  for (const auto& [key, record] : terminal.kittyGraphicsState.placementsByKey) {
    if (record.isAlternateBuffer) continue;
    const int64_t row = kittyRecordRow(terminal, record);
    taken.keys.push_back(key);
    taken.places.push_back(buffer.textPlace(row, record.col));
    taken.rows.push_back(row);
    // One below the last line (a relative placement pushed past it) keeps its distance from it.
    taken.pastEnd.push_back(row - buffer.lines().count());
  }
  taken.belowFrom = int64_t(buffer.yBase) + buffer.y + 1;
  if (std::any_of(taken.rows.begin(), taken.rows.end(), [&](int64_t row) { return row >= taken.belowFrom; })) {
    for (int64_t row = taken.belowFrom; row < buffer.lines().count(); ++row)
      taken.below.push_back(buffer.lines()[int(row)]);
  }
  return taken;
}

void placeKittyRecords(Terminal& terminal, const KittyRecordPlaces& taken) {
  if (taken.keys.empty()) return;
  auto& records = terminal.kittyGraphicsState.placementsByKey;
  const int64_t count = terminal.normalBuffer->lines().count();
  const auto found = terminal.normalBuffer->findTextPlaces(taken.places);
  // The first of the lines below the cursor from which the ring holds none: those went off the
  // bottom.
  int64_t trimmedFrom = taken.belowFrom + int64_t(taken.below.size());
  if (!taken.below.empty()) {
    std::unordered_set<const BufferLine*> held;
    auto& lines = terminal.normalBuffer->lines();
    for (int row = std::max(terminal.normalBuffer->yBase, 0); row < lines.count(); ++row) held.insert(lines[row].get());
    auto gone = [&](int64_t row) {
      auto line = taken.below[size_t(row - taken.belowFrom)].lock();
      return !line || !held.contains(line.get());
    };
    while (trimmedFrom > taken.belowFrom && gone(trimmedFrom - 1)) trimmedFrom--;
  }
  for (size_t i = 0; i < taken.keys.size(); i++) {
    auto record = records.find(taken.keys[i]);
    if (record == records.end()) continue;
    if (taken.pastEnd[i] >= 0) {
      setKittyRecordRow(terminal, record->second, count + taken.pastEnd[i]);
      continue;
    }
    if (!taken.places[i]) continue;
    if (!found[i]) {
      if (const int64_t row = taken.rows[i]; row >= taken.belowFrom && row >= trimmedFrom) {
        // Its line went off the bottom with the blank rows below it: it stays as far below the
        // last line the ring keeps, as the rows between went too.
        setKittyRecordRow(terminal, record->second, count + row - trimmedFrom);
        continue;
      }
      // The ring dropped its line: it lies above all the ring holds, as far above as the lines
      // dropped moved it, so the placements made relative to it keep their distance from the
      // screen that a roomier scrollback gives them.
      setKittyRecordRow(terminal, record->second, std::min<int64_t>(kittyRecordRow(terminal, record->second), -1));
      continue;
    }
    // The row follows the text; the column stays, as placing an image moves no text.
    setKittyRecordRow(terminal, record->second, found[i]->row);
  }
  syncKittyPlacementRecords(terminal);
}

}  // namespace vantrelle
