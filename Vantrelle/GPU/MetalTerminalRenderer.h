#pragma once
// Draws a terminal view's screen with OpenGL: glyph atlases, cached per-row draw data, one render
// pass per frame in a fixed layer order. The view's GPU drawing path owns it, hands it a snapshot
// of the view for each frame and shows its frames.
#include <cairomm/surface.h>
#include <gdk/gdk.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Vantrelle/Buffer/TerminalImage.h"
#include "Vantrelle/GPU/BufferPool.h"
#include "Vantrelle/GPU/DrawGeometry.h"
#include "Vantrelle/GPU/DrawRecords.h"
#include "Vantrelle/GPU/FrameSnapshot.h"
#include "Vantrelle/GPU/GLDevice.h"
#include "Vantrelle/GPU/GlyphAtlas.h"
#include "Vantrelle/GPU/GlyphRasterizer.h"
#include "Vantrelle/GPU/ShaperCache.h"
#include "platform/CairoPtr.h"
#include "platform/MainLoopTimers.h"

namespace vantrelle {

class BufferLine;
class Buffer;
struct KittyPlacementRecord;
class KittyGraphicsState;

enum class GlyphAtlasKind { grayscale, color };

struct GlyphKey {
  std::string fontName;
  double size = 0;
  uint32_t glyph = 0;
  bool operator==(const GlyphKey&) const = default;
};
// A key over the font's own name, so that looking a glyph up copies no string.
struct GlyphKeyView {
  std::string_view fontName;
  double size = 0;
  uint32_t glyph = 0;
};
struct GlyphKeyHash {
  using is_transparent = void;
  size_t operator()(const GlyphKey& k) const { return (*this)(GlyphKeyView{k.fontName, k.size, k.glyph}); }
  size_t operator()(const GlyphKeyView& k) const;
};
struct GlyphKeyEqual {
  using is_transparent = void;
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return a.glyph == b.glyph && a.size == b.size && std::string_view(a.fontName) == std::string_view(b.fontName);
  }
};

struct GlyphEntry {
  AtlasRegion region;
  double width = 0, height = 0;
  double bearingX = 0, bearingY = 0;
  bool isColor = false;
  GlyphAtlasKind atlasKind = GlyphAtlasKind::grayscale;
};

struct CustomGlyphKey {
  uint32_t codePoint = 0;
  int cellWidthPx = 0;
  int cellHeightPx = 0;
  int baseThicknessPx = 0;
  int scale = 1;
  bool antiAlias = false;
  // Each pixel of the drawn shape repeated this many times across and down (rows of double size).
  int magnifyX = 1;
  int magnifyY = 1;
  bool operator==(const CustomGlyphKey&) const = default;
};
struct CustomGlyphKeyHash {
  size_t operator()(const CustomGlyphKey& k) const;
};

struct CustomGlyphEntry {
  AtlasRegion region;
  double width = 0, height = 0;
};

// A font at device size: the Cairo font the rasteriser draws with, and its cache name and size.
struct ScaledFont {
  std::string name;
  double size = 0;
  platform::CairoScaledFontPtr font;
};

struct KittyCacheStamp {
  size_t imagesCount = 0;
  size_t placementsCount = 0;
  uint32_t nextImageId = 0;
  uint32_t nextPlacementId = 0;
  bool operator==(const KittyCacheStamp&) const = default;
};

struct CacheSignature {
  double scale = 0, cellWidth = 0, cellHeight = 0, viewWidth = 0, viewHeight = 0;
  int yDisp = 0, rows = 0, cols = 0;
  std::string fontName;
  double fontSize = 0;
  bool isAltBuffer = false;
  KittyCacheStamp kittyStamp;
  bool operator==(const CacheSignature&) const = default;
};

struct RowCacheEntry {
  const BufferLine* lineRef = nullptr;
  uint64_t generation = 0;
  std::optional<RowDrawData> data;
  std::optional<RowDrawBuffers> buffers;
};

struct RowLayout;

// Where a block cursor stands: its cell, its box in device pixels, and the cell's left edge (points)
// and baseline.
struct CursorPlace {
  const CharData& cell;
  ClipRect box;
  int span = 1;
  double x = 0;
  double baseline = 0;
};

struct VisibleRowRange {
  int first = 0, last = 0, yDisp = 0;
};

class MetalTerminalRenderer {
 public:
  using Placements = std::unordered_map<uint32_t, std::vector<const KittyPlacementRecord*>>;

  // Needs the GL context current; throws MetalError. `requestRedraw` asks the view for another
  // frame (the cursor blinks, a refused frame). `shaderDirectory` overrides the bundle's.
  MetalTerminalRenderer(std::function<void()> requestRedraw, std::shared_ptr<GpuDevice> device,
                        std::optional<std::string> shaderDirectory = std::nullopt);
  ~MetalTerminalRenderer();

  // One frame into the bound framebuffer of `widthPx` by `heightPx`; false when refused.
  bool draw(const FrameSnapshot& frame, int widthPx, int heightPx, double scale);
  void updateCursorBlinkTimer(bool shouldBlink);

  // Draw data.
  DrawData buildDrawData(const FrameSnapshot& frame, double scale);
  DrawData buildDrawDataPass(const FrameSnapshot& frame, double scale);
  static std::optional<VisibleRowRange> visibleRowRange(Buffer& buffer, int yDisp);
  RowDrawData buildRowDrawData(const FrameSnapshot& frame, int row, Buffer& buffer, int yDisp, double cellWidth,
                               double cellHeight, double yOffset, double viewWidthPx, double scale,
                               const Placements& virtuals);
  RowDrawBuffers makeRowBuffers(const RowDrawData& data);
  // The row's segments with each run shaped; segments without a shaped run are left out.
  std::vector<ShapedSegment> buildShapedSegments(const std::vector<ViewLineSegment>& segments,
                                                 const FrameSnapshot& frame);
  void buildCursorDrawData(const FrameSnapshot& frame, DrawData& out, double scale, double cellWidth, double cellHeight,
                           double lineDescent, double lineLeading, int yDisp, int firstRow, int lastRow);

  // Glyph entries.
  // `widthFactor` stretches the font horizontally, for rows drawn at double width.
  const ScaledFont* scaledFontFor(PangoFont* font, double scale, double widthFactor = 1);
  std::optional<GlyphEntry> glyphEntry(const ScaledFont& font, uint32_t glyph);
  // `magnifyX` and `magnifyY` repeat each pixel of the shape, which is drawn in the given cell, so
  // that a row shown at double size shows the shape's own pixels, doubled, without blurring them.
  std::optional<CustomGlyphEntry> customGlyphEntry(uint32_t codePoint, int cellWidthPx, int cellHeightPx, double scale,
                                                   int baseThicknessPx, bool antiAlias, int magnifyX = 1,
                                                   int magnifyY = 1);
  void handleAtlasChange(GlyphAtlas& atlas, int previousSize);

  // Images.
  std::shared_ptr<GpuTexture> texture(const std::shared_ptr<TerminalImage>& image,
                                      const Cairo::RefPtr<Cairo::ImageSurface>& surface);
  std::shared_ptr<GpuTexture> kittyTexture(const KittyGraphicsState& kitty, uint32_t imageId);
  void pruneKittyTextureCache(const KittyGraphicsState& kitty);
  // Drops the textures of images no longer held by any line.
  void pruneImageTextureCache();
  std::vector<ImageDrawBuffer> makeImageDrawBuffers(const std::vector<ImageDraw>& draws);

  std::function<void()> requestRedraw;
  std::shared_ptr<GpuDevice> device;
  std::unique_ptr<ShaderLibrary> library;
  std::unique_ptr<RenderPipeline> textPipeline, textGrayPipeline, colorPipeline;
  GLuint vertexArray = 0;
  // The triangles of cell quads, bound to the vertex array; enough for `quadIndexCapacity` quads.
  GLuint quadIndexBuffer = 0;
  size_t quadIndexCapacity = 0;
  GLuint sampler = 0;
  std::shared_ptr<BufferPool> bufferPool;
  ShaperCache shaperCache{2048};
  std::unique_ptr<GlyphAtlas> grayscaleAtlas;
  std::unique_ptr<GlyphAtlas> colorAtlas;
  CoreTextGlyphRasterizer rasterizer;
  std::unordered_map<GlyphKey, GlyphEntry, GlyphKeyHash, GlyphKeyEqual> glyphCache;
  // Glyphs drawn without ink (spaces and the like), which have no place in an atlas: known, they
  // are not drawn again on every row that holds them.
  std::unordered_set<GlyphKey, GlyphKeyHash, GlyphKeyEqual> inklessGlyphs;
  std::unordered_map<GlyphKey, std::unique_ptr<ScaledFont>, GlyphKeyHash> scaledFontCache;
  // A number for each font file and face as the font backend draws it, by its description there;
  // the scaled fonts' names carry it.
  std::unordered_map<std::string, int> fontIdentities;
  // The scaled font of each font object and scale, so that a glyph run finds its font without
  // describing and naming it. Holds the fonts, so a pointer here is never a new font's.
  struct FontAtScale {
    const PangoFont* font;
    double scale;
    double widthFactor;
    bool operator==(const FontAtScale&) const = default;
  };
  struct FontAtScaleHash {
    size_t operator()(const FontAtScale& k) const {
      return (std::hash<const void*>()(k.font) * 31 + std::hash<double>()(k.scale)) * 31 +
             std::hash<double>()(k.widthFactor);
    }
  };
  std::unordered_map<FontAtScale, std::pair<FontRef, const ScaledFont*>, FontAtScaleHash> scaledFontsByObject;
  std::unordered_map<CustomGlyphKey, CustomGlyphEntry, CustomGlyphKeyHash> customGlyphCache;
  std::map<const TerminalImage*, std::pair<std::weak_ptr<TerminalImage>, std::shared_ptr<GpuTexture>>>
      imageTextureCache;
  // Each texture keeps the payload it was made from: its bytes stay alive while cached, so a new
  // payload can never come to share their address, and content is compared against them.
  struct KittyTextureEntry {
    KittyGraphicsPayload payload;
    std::shared_ptr<GpuTexture> texture;
  };
  std::unordered_map<uint32_t, KittyTextureEntry> kittyTextureCache;
  std::unordered_map<int, RowCacheEntry> rowCache;
  std::optional<MetalBufferingMode> cacheBufferingMode;
  std::optional<CacheSignature> cacheSignature;
  bool atlasInvalidatedDuringBuild = false;
  platform::RepeatingTimer cursorBlinkTimer;
  bool cursorBlinkOn = true;
  // One frame at a time: taken while a frame is encoded and on the GPU.
  bool frameInFlight = false;
  bool pendingRedraw = false;
  std::mutex redrawLock;
  // How many rows the last build made afresh; for tests of the row cache.
  int rowsBuiltInLastBuild = 0;
  int passesInLastBuild = 0;

 private:
  const ScaledFont* scaledFontByName(PangoFont* font, double scale, double widthFactor);
  bool invalidateRowCache(const FrameSnapshot& frame, double scale, const VisibleRowRange& range);
  // The layers of one row, in the order their records are appended.
  void appendCustomGlyphs(const RowLayout& row, RowDrawData& out);
  void appendBackgrounds(const RowLayout& row, RowDrawData& out);
  void appendLineImages(const RowLayout& row, RowDrawData& out);
  void appendGlyphs(const RowLayout& row, const std::vector<ShapedSegment>& shaped, RowDrawData& out);
  // Where a run's first cell starts: at the row's column `column`, moved by `x` points (the caret's
  // cell, which is no run of a row, has only its `x`).
  struct RunStart {
    double x = 0;
    int column = 0;
  };
  void appendRunGlyphs(const RowLayout& row, const ShaperRun& run, const std::vector<uint32_t>& cellOffsets,
                       RunStart start, int columnWidth, Float4 color, RowDrawData& out);
  void appendMissingGlyphBox(const RowLayout& row, double left, int columnWidth, Float4 color,
                             std::vector<ColorCell>& out);
  // One cell's text under the caret, drawn as its row draws it and clipped to the caret's box.
  RowDrawData cellTextDrawData(const FrameSnapshot& frame, const ShaperRun& run, const CursorPlace& place, double scale,
                               double cellWidth, double cellHeight, Float4 color);
  void appendDecorations(const RowLayout& row, const std::vector<ShapedSegment>& shaped, RowDrawData& out);
  void appendPlaceholderImages(const RowLayout& row, const Placements& virtuals, RowDrawData& out);
  void appendCursorCharacter(const FrameSnapshot& frame, DrawData& out, const CursorPlace& place, double scale,
                             double cellWidth, double cellHeight);
  std::shared_ptr<GpuBuffer> makeBuffer(const void* records, size_t count, size_t recordSize);
  void reserveQuadIndices(size_t vertexCount);
  void encode(const DrawData& data, Float2 viewport);
  void drawFrameData(const FrameDrawData& frame, Float2 viewport);
  void drawRows(const std::vector<RowDrawBuffers>& rows, Float2 viewport);
  void drawImageRows(const std::vector<RowDrawBuffers>& rows, std::vector<ImageDrawBuffer> RowDrawBuffers::*key,
                     Float2 viewport);
  void drawImageBatches(const std::vector<ImageDraw>& draws, Float2 viewport);
  std::shared_ptr<GpuTexture> uploadTexture(const uint8_t* bgra, int width, int height, size_t stride,
                                            GpuPixelFormat format);
  // The vertices of a frame's layer, kept from frame to frame so that a frame allocates none.
  std::vector<ColorVertex> colorScratch;
  std::vector<GlyphVertex> glyphScratch;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

}  // namespace vantrelle
