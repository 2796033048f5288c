// The frame's draw data: visible rows from a cache keyed by line identity and generation, thrown
// away when the geometry, font, buffer or Kitty store changes, and built again when an atlas
// changed under the build.
#include <cmath>

#include "Vantrelle/GPU/GpuLog.h"
#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

constexpr int maxRebuilds = 5;

// The placements shown through placeholder characters on the active screen, by image id.
MetalTerminalRenderer::Placements virtualPlacements(const Terminal& terminal) {
  MetalTerminalRenderer::Placements virtuals;
  const bool alternate = terminal.isCurrentBufferAlternate();
  for (const auto& [key, record] : terminal.kittyGraphicsState.placementsByKey) {
    if (record.isVirtual && record.isAlternateBuffer == alternate) virtuals[record.imageId].push_back(&record);
  }
  return virtuals;
}

}  // namespace

DrawData MetalTerminalRenderer::buildDrawData(const FrameSnapshot& frame, double scale) {
  for (int pass = 0;; pass++) {
    if (pass == maxRebuilds) {
      rendererLog().fault("glyph working set exceeds max atlas capacity; some glyphs will be skipped this frame");
      grayscaleAtlas->frozen = colorAtlas->frozen = true;
    }
    atlasInvalidatedDuringBuild = false;
    DrawData data = buildDrawDataPass(frame, scale);
    if (!atlasInvalidatedDuringBuild || pass >= maxRebuilds) {
      grayscaleAtlas->frozen = colorAtlas->frozen = false;
      passesInLastBuild = pass + 1;
      return data;
    }
    rowCache.clear();
    rendererLog().info("glyph atlas changed during frame build; rebuild pass %ld/%ld", long(pass + 1),
                       long(maxRebuilds));
  }
}

std::optional<VisibleRowRange> MetalTerminalRenderer::visibleRowRange(Buffer& buffer, int yDisp) {
  int count = buffer.lines().count();
  if (count == 0) return std::nullopt;
  int last = std::min(yDisp + buffer.rows() - 1, count - 1);
  if (last < yDisp) return std::nullopt;
  return VisibleRowRange{yDisp, last, yDisp};
}

DrawData MetalTerminalRenderer::buildDrawDataPass(const FrameSnapshot& frame, double scale) {
  DrawData data;
  rowsBuiltInLastBuild = 0;
  if (!frame.terminal) return data;
  Terminal& terminal = *frame.terminal;
  pruneKittyTextureCache(terminal.kittyGraphicsState);
  pruneImageTextureCache();
  if (!frame.cellSize) return data;
  Buffer& buffer = *terminal.buffer;
  const double cellWidth = frame.cellSize->width, cellHeight = frame.cellSize->height;
  const auto& metrics = frame.metrics;
  const ViewSize bounds = frame.bounds;
  auto range = visibleRowRange(buffer, buffer.yDisp);
  if (!range) return data;

  const MetalBufferingMode mode = frame.bufferingMode;
  const bool full = invalidateRowCache(frame, scale, *range);

  int forcedLow = 1, forcedHigh = 0;  // empty
  const auto& dirty = frame.dirtyRows;
  if (full || rowCache.empty()) {
    forcedLow = range->first, forcedHigh = range->last;
  } else if (dirty) {
    forcedLow = std::max(range->first, dirty->first);
    forcedHigh = std::min(range->last, dirty->second);
  }

  const Placements virtuals = virtualPlacements(terminal);

  const double yOffset = std::ceil(metrics.descent + metrics.leading);
  const double viewWidthPx = scale * bounds.width;
  if (mode == MetalBufferingMode::perFrameAggregated) data.frame.emplace();
  for (int row = range->first; row <= range->last; row++) {
    const BufferLine* line = buffer.lines()[row].get();
    auto it = rowCache.find(row);
    bool forced = row >= forcedLow && row <= forcedHigh;
    bool reusable = it != rowCache.end() && it->second.lineRef == line && it->second.generation == line->generation() &&
                    !forced && !full;
    RowCacheEntry* entry = nullptr;
    if (reusable && mode == MetalBufferingMode::perRowPersistent) {
      entry = &it->second;
      if (!entry->buffers && entry->data) entry->buffers = makeRowBuffers(*entry->data);
      if (!entry->buffers) reusable = false;
    } else if (reusable && !it->second.data) {
      reusable = false;
    }
    if (!reusable) {
      rowsBuiltInLastBuild++;
      RowCacheEntry fresh{line, line->generation(), {}, {}};
      fresh.data = buildRowDrawData(frame, row, buffer, range->yDisp, cellWidth, cellHeight, yOffset, viewWidthPx,
                                    scale, virtuals);
      if (mode == MetalBufferingMode::perRowPersistent) fresh.buffers = makeRowBuffers(*fresh.data);
      entry = &(rowCache[row] = std::move(fresh));
    } else {
      entry = &it->second;
    }
    if (mode == MetalBufferingMode::perRowPersistent) {
      data.rows.push_back(*entry->buffers);
    } else {
      data.frame->append(*entry->data);
    }
  }
  buildCursorDrawData(frame, data, scale, cellWidth, cellHeight, metrics.descent, metrics.leading, range->yDisp,
                      range->first, range->last);
  return data;
}

// Drops what a change of buffering mode, geometry, font, screen or Kitty store makes stale, and the
// rows out of sight; true when every row must be built afresh.
bool MetalTerminalRenderer::invalidateRowCache(const FrameSnapshot& frame, double scale, const VisibleRowRange& range) {
  const MetalBufferingMode mode = frame.bufferingMode;
  const Terminal& terminal = *frame.terminal;
  const Buffer& buffer = *terminal.buffer;
  const ViewSize bounds = frame.bounds;
  const double cellWidth = frame.cellSize->width, cellHeight = frame.cellSize->height;
  bool full = false;
  if (cacheBufferingMode != mode && mode == MetalBufferingMode::perFrameAggregated) {
    for (auto& [row, entry] : rowCache) entry.buffers.reset();
  }
  cacheBufferingMode = mode;

  const auto& kitty = terminal.kittyGraphicsState;
  const auto& font = frame.fonts.normal;
  CacheSignature signature{
      scale,
      cellWidth,
      cellHeight,
      bounds.width,
      bounds.height,
      range.yDisp,
      buffer.rows(),
      buffer.cols(),
      font.to_string(),
      double(font.get_size()) / PANGO_SCALE,
      terminal.isCurrentBufferAlternate(),
      {kitty.imagesById.size(), kitty.placementsByKey.size(), kitty.nextImageId, kitty.nextPlacementId}};
  if (!cacheSignature || !(*cacheSignature == signature)) {
    rowCache.clear();
    cacheSignature = signature;
    full = true;
  }
  std::erase_if(rowCache, [&](const auto& entry) { return entry.first < range.first || entry.first > range.last; });

  return full;
}

}  // namespace vantrelle
