#pragma once

#include <compare>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Vantrelle/Buffer/TerminalImage.h"
#include "Vantrelle/Graphics/KittyGraphicsControl.h"
#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Terminal/TerminalTypes.h"
#include "Vantrelle/Text/Base64.h"

namespace vantrelle {

struct LineImagesAnchor;

// What the store spends on each image besides its data: the entry in the store, its place in the
// access order, its number, and the payload's shared block, with the allocator's headers.
inline constexpr int64_t kKittyImageOverheadBytes = 256;

// What one placement record costs the store: the record in its tree node, with the allocator's
// header. Records count in the cache budget like images, so placements cannot grow without bound.
inline constexpr int64_t kKittyPlacementOverheadBytes = 160;

// A stored image. `byteSize` is what the cache budget counts for it: its pixels once decoded
// (width x height x 4 for PNG as well as for raw pixels) or the data held, whichever is larger,
// plus the fixed overhead, so that a flood of tiny images is bounded like a few large ones.
struct KittyGraphicsImage {
  KittyGraphicsPayload payload;
  int64_t byteSize = 0;
  uint64_t lastAccessTick = 0;
  std::optional<uint32_t> number;  // the image number last given to it, if any
  bool shownSinceScan = false;     // placed since the last look for what the screens use
};

// A chunked transfer in progress: the first chunk's control and its payload, decoded a chunk at a
// time as the chunks arrive. Text that cannot decode, or that would pass the size limit, fails the
// decoder at once, which then holds nothing more; the transfer completes as a bad payload.
struct KittyGraphicsPending {
  KittyGraphicsControl control;
  Base64Decoder payload{size_t(kKittySizeLimit)};
};

// Ordered by image first, so the records of one image lie together.
struct KittyPlacementKey {
  uint32_t imageId = 0;
  uint32_t placementId = 0;
  auto operator<=>(const KittyPlacementKey&) const = default;
};

struct KittyPlacementKeyHash {
  size_t operator()(const KittyPlacementKey& key) const noexcept {
    return std::hash<uint64_t>()(uint64_t(key.imageId) << 32 | key.placementId);
  }
};

using KittyPlacementKeySet = std::unordered_set<KittyPlacementKey, KittyPlacementKeyHash>;

// One placement. `row` is an absolute line index of its buffer, as it was when the buffer had
// dropped `rowLinesDropped` lines from the top of its ring (read it with `kittyRecordRow`); `col`
// a 0-based column.
struct KittyPlacementRecord {
  uint32_t imageId = 0;
  uint32_t placementId = 0;
  std::optional<uint32_t> parentImageId;
  std::optional<uint32_t> parentPlacementId;
  int64_t parentOffsetH = 0;
  int64_t parentOffsetV = 0;
  int64_t pixelOffsetX = 0;
  int64_t pixelOffsetY = 0;
  int64_t col = 0;
  int64_t row = 0;
  int64_t cols = 0;
  int64_t rows = 0;
  int64_t zIndex = 0;
  bool isVirtual = false;
  bool isAlternateBuffer = false;
  uint64_t rowLinesDropped = 0;

  bool isRelative() const { return parentImageId && parentPlacementId; }
  KittyPlacementKey key() const { return {imageId, placementId}; }
};

// What the host reads while it turns a displayed image into cells.
struct KittyPlacementContext {
  std::optional<uint32_t> imageId;
  std::optional<uint32_t> imageNumber;
  std::optional<uint32_t> placementId;
  std::optional<uint32_t> parentImageId;
  std::optional<uint32_t> parentPlacementId;
  int64_t parentOffsetH = 0;
  int64_t parentOffsetV = 0;
  int64_t zIndex = 0;
  ImageSizeRequest widthRequest;
  ImageSizeRequest heightRequest;
  bool preserveAspectRatio = false;
  int64_t cursorPolicy = 0;
  bool isRelative = false;
  int64_t pixelOffsetX = 0;
  int64_t pixelOffsetY = 0;
  // The lines the active buffer had dropped when the placement began: the cursor's absolute line
  // then, the row the host gives the placement, counts against it.
  uint64_t linesDropped = 0;
};

// An image cell: the host's image type derives from this. Cells of Kitty placements set
// `kittyIsKitty`, and every cell of a placement carries the whole placement's origin (absolute
// line, column) and size in cells; images of the other protocols leave them unset. The origin's
// line is where the placement began; lines move up the ring as it drops its oldest, and reflow
// and scrolling regions move them about, so where the placement is now is read from the line
// the cell is on: `kittyRowInPlacement` says which of the placement's rows the cell shows, and
// the engine fills it in as the cell is attached.
class KittyPlacementImage : public TerminalImage {
 public:
  bool kittyIsKitty = false;
  std::optional<uint32_t> kittyImageId;
  std::optional<uint32_t> kittyImageNumber;
  std::optional<uint32_t> kittyPlacementId;
  int64_t kittyZIndex = 0;
  int64_t kittyCol = 0;
  int64_t kittyRow = 0;
  int64_t kittyCols = 0;
  int64_t kittyRows = 0;
  int64_t kittyPixelOffsetX = 0;
  int64_t kittyPixelOffsetY = 0;
  int64_t kittyRowInPlacement = 0;

  // The index of the line at the placement's top, for a cell on the line of index `lineIndex`.
  int64_t kittyTop(int64_t lineIndex) const { return lineIndex - kittyRowInPlacement; }

  std::optional<KittyPlacementKey> kittyKey() const {
    if (!kittyImageId || !kittyPlacementId) return std::nullopt;
    return KittyPlacementKey{*kittyImageId, *kittyPlacementId};
  }
};

// What the last look through the screens for the images and placements their cells use found,
// kept so that a store over budget need not look again at every image: the images nothing used
// then, oldest first, and what the look cost against what the stores since have paid for.
struct KittyReferenceScan {
  std::deque<std::pair<uint64_t, uint32_t>> unused;  // (access tick then, id)
  uint64_t firstTickAfter = 1;                       // the first tick handed out after the look
  uint64_t cost = 0;
  uint64_t credit = 0;
  uint64_t count = 0;  // looks taken, for tests and benchmarks
};

// The lines of one screen that hold image cells, noted as the cells are attached, so what looks
// for image cells reads those lines rather than every line of the history. Each is kept with where
// it stood (its index plus the screen's count of lines dropped then): a line of the history stays
// there, one of the screen may move within it, and a line found nowhere near (after a reflow)
// sends the next look through every line, which notes them afresh.
struct KittyImageLines {
  struct Line {
    std::weak_ptr<LineImagesAnchor> anchor;
    uint32_t place = 0;
  };
  std::vector<Line> lines;
  size_t pruneAt = 4096;  // notes of lines that lost their images go once the notes reach this
  // The screen's count of lines that joined it holding images, when these notes last covered it.
  uint64_t joined = 0;
  uint64_t fullWalks = 0;  // looks that had to read every line, for tests and benchmarks
};

// The lines that took cells of each placement with a placement id, in either screen, kept as the
// cells are attached: replacing a placement reads the lines its cells went to, not every line of
// both screens. An entry whose line has lost its images has expired; one whose line kept other
// images but not this placement's is stale, and both go when the entries have doubled.
struct KittyPlacementCellLines {
  struct Line {
    std::weak_ptr<LineImagesAnchor> anchor;
    bool alternate = false;
  };
  std::unordered_map<KittyPlacementKey, std::vector<Line>, KittyPlacementKeyHash> linesByKey;
  size_t entries = 0;
  size_t pruneAt = 4096;
  uint64_t linesRead = 0;  // lines looked at to replace placements, for tests and benchmarks
  KittyImageLines normal;
  KittyImageLines alternate;
};

// The terminal's image store, shared by its two screens.
class KittyGraphicsState {
 public:
  std::unordered_map<uint32_t, KittyGraphicsImage> imagesById;
  std::unordered_map<uint32_t, uint32_t> imageNumbers;
  uint32_t nextImageId = 1;
  uint32_t nextPlacementId = 1;
  std::optional<KittyGraphicsPending> pending;
  std::map<KittyPlacementKey, KittyPlacementRecord> placementsByKey;
  int64_t totalImageBytes = 0;  // the images' own cost; the records' is added by `storeBytes`
  uint64_t nextImageAccessTick = 1;
  // Stored image ids by their last access tick (ticks are never shared): eviction takes the
  // oldest without sorting the store.
  std::map<uint64_t, uint32_t> idsByAccess;
  KittyReferenceScan referenceScan;
  KittyPlacementCellLines cellLines;
  // The keys of placements made relative to a parent, so that the upkeep after every scroll
  // looks at those records alone; a key whose record is gone or no longer relative is dropped
  // when next met.
  std::set<KittyPlacementKey> relativeKeys;
  // The same for virtual placements, which every command asks after.
  KittyPlacementKeySet virtualKeys;

  // What the cache budget holds the store to: its images and its placement records.
  int64_t storeBytes() const {
    return totalImageBytes + int64_t(placementsByKey.size()) * kKittyPlacementOverheadBytes;
  }
};

}  // namespace vantrelle
