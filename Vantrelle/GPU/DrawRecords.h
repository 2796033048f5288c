#pragma once
// The records the renderer hands to the GPU. Positions are drawable pixels, origin bottom-left,
// y up; colours are RGBA floats. Layouts match the shaders' vertex inputs byte for byte.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Vantrelle/GPU/GpuResources.h"

namespace vantrelle {

struct Float2 {
  float x = 0, y = 0;
  bool operator==(const Float2&) const = default;
};
struct Float4 {
  float x = 0, y = 0, z = 0, w = 0;
  bool operator==(const Float4&) const = default;
};

struct ColorCell {
  Float2 position;  // the corner with the smaller x and y
  Float2 size;
  Float4 color;
  bool operator==(const ColorCell&) const = default;
};
struct TextCell {
  Float2 position;
  Float2 size;
  Float2 texOrigin;  // normalised atlas coordinates
  Float2 texSize;
  Float4 color;
  bool operator==(const TextCell&) const = default;
};
struct ColorVertex {
  Float2 position;
  Float2 padding;  // keeps the colour 16-byte aligned, as the GPU reads it
  Float4 color;
};
struct GlyphVertex {
  Float2 position;
  Float2 texCoord;
  Float4 color;
};
static_assert(sizeof(ColorCell) == 32 && sizeof(TextCell) == 48);
static_assert(sizeof(ColorVertex) == 32 && sizeof(GlyphVertex) == 32);

struct ImageDraw {
  std::shared_ptr<GpuTexture> texture;
  std::vector<GlyphVertex> vertices;  // six per quad
};

struct ImageDrawBuffer {
  std::shared_ptr<GpuTexture> texture;
  std::shared_ptr<GpuBuffer> buffer;
  int vertexCount = 0;
};

struct RowDrawData {
  std::vector<ColorCell> backgroundCells;
  std::vector<ColorCell> powerlineJoinCells;
  std::vector<TextCell> glyphCellsGray;
  std::vector<TextCell> glyphCellsColor;
  std::vector<ColorCell> decorationCells;
  std::vector<ImageDraw> underImageDraws;
  std::vector<ImageDraw> placeholderImageDraws;
  std::vector<ImageDraw> overImageDraws;
  std::vector<ImageDraw> otherImageDraws;

  void append(const RowDrawData& row);
};
using FrameDrawData = RowDrawData;

// A cell record drawn as its quad's four corners, in two triangles of six indices.
constexpr int verticesPerQuad = 4;
constexpr int indicesPerQuad = 6;
void quadVertices(const std::vector<ColorCell>& cells, std::vector<ColorVertex>& out);
void quadVertices(const std::vector<TextCell>& cells, std::vector<GlyphVertex>& out);
// The indices of `quads` quads' triangles, over their vertices as `quadVertices` lays them out.
void quadIndices(size_t quads, std::vector<uint32_t>& out);

// A row's layers on the GPU as the corners of their quads; each count is of vertices.
struct RowDrawBuffers {
  std::shared_ptr<GpuBuffer> backgroundBuffer;
  int backgroundCount = 0;
  std::shared_ptr<GpuBuffer> powerlineJoinBuffer;
  int powerlineJoinCount = 0;
  std::shared_ptr<GpuBuffer> glyphGrayBuffer;
  int glyphGrayCount = 0;
  std::shared_ptr<GpuBuffer> glyphColorBuffer;
  int glyphColorCount = 0;
  std::shared_ptr<GpuBuffer> decorationBuffer;
  int decorationCount = 0;
  std::vector<ImageDrawBuffer> underImageBuffers;
  std::vector<ImageDrawBuffer> placeholderImageBuffers;
  std::vector<ImageDrawBuffer> overImageBuffers;
  std::vector<ImageDrawBuffer> otherImageBuffers;
};

struct DrawData {
  std::vector<RowDrawBuffers> rows;
  std::optional<FrameDrawData> frame;
  std::vector<ColorVertex> cursorColorVertices;
  std::vector<GlyphVertex> cursorGlyphVerticesGray;
  std::vector<GlyphVertex> cursorGlyphVerticesColor;
};

enum class MetalBufferingMode { perRowPersistent, perFrameAggregated };

}  // namespace vantrelle
