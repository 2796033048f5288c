// The renderer object: device objects, shader programs and pipelines, and the frame loop with
// its fixed layer order, one frame at a time, and the cursor blink.
#include "Vantrelle/GPU/MetalTerminalRenderer.h"

#include <cstring>

#include "Vantrelle/GPU/GpuLog.h"
#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

size_t GlyphKeyHash::operator()(const GlyphKeyView& k) const {
  return std::hash<std::string_view>()(k.fontName) * 31 + std::hash<double>()(k.size) * 7 + k.glyph;
}

size_t CustomGlyphKeyHash::operator()(const CustomGlyphKey& k) const {
  size_t h = k.codePoint;
  for (int v : {k.cellWidthPx, k.cellHeightPx, k.baseThicknessPx, k.scale, int(k.antiAlias), k.magnifyX, k.magnifyY}) {
    h = h * 31 + size_t(v);
  }
  return h;
}

MetalTerminalRenderer::MetalTerminalRenderer(std::function<void()> requestRedraw, std::shared_ptr<GpuDevice> gpu,
                                             std::optional<std::string> shaderDirectory)
    : device(std::move(gpu)) {
  if (!device) throw MetalError::deviceUnavailable();
  bufferPool = std::make_shared<BufferPool>(device, 256, 4);
  glGenVertexArrays(1, &vertexArray);
  if (!vertexArray) throw MetalError::commandQueueUnavailable();
  grayscaleAtlas = GlyphAtlas::make(device, 1024, GlyphAtlas::recommendedMaxSize(*device, GlyphAtlasFormat::grayscale),
                                    GlyphAtlasFormat::grayscale);
  colorAtlas = GlyphAtlas::make(device, 1024, GlyphAtlas::recommendedMaxSize(*device, GlyphAtlasFormat::bgra),
                                GlyphAtlasFormat::bgra);
  if (!grayscaleAtlas || !colorAtlas) throw MetalError::atlasUnavailable();
  std::string directory = shaderDirectory.value_or(bundledShaderDirectory());
  library = ShaderLibrary::load(directory);
  textPipeline = RenderPipeline::make(*library, "terminal_text_vertex", "terminal_text_fragment");
  textGrayPipeline = RenderPipeline::make(*library, "terminal_text_vertex", "terminal_text_fragment_gray");
  colorPipeline = RenderPipeline::make(*library, "terminal_color_vertex", "terminal_color_fragment");
  if (!textPipeline || !textGrayPipeline || !colorPipeline) throw MetalError::pipelineCreationFailed("text/color");
  // One sampler for every texture: linear, clamped, so that glyph borders and image edges never
  // wrap around to the opposite side.
  glGenSamplers(1, &sampler);
  if (!sampler) throw MetalError::samplerUnavailable();
  glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  this->requestRedraw = std::move(requestRedraw);
}

MetalTerminalRenderer::~MetalTerminalRenderer() {
  *alive = false;
  if (vertexArray) glDeleteVertexArrays(1, &vertexArray);
  if (quadIndexBuffer) glDeleteBuffers(1, &quadIndexBuffer);
  if (sampler) glDeleteSamplers(1, &sampler);
}

void MetalTerminalRenderer::updateCursorBlinkTimer(bool shouldBlink) {
  if (!shouldBlink) {
    if (cursorBlinkTimer) {
      cursorBlinkTimer.reset();
      cursorBlinkOn = true;
    }
    return;
  }
  if (cursorBlinkTimer) return;
  cursorBlinkOn = true;
  cursorBlinkTimer = platform::RepeatingTimer(std::chrono::milliseconds(700), [this] {
    cursorBlinkOn = !cursorBlinkOn;
    if (requestRedraw) requestRedraw();
  });
}

bool MetalTerminalRenderer::draw(const FrameSnapshot& frame, int widthPx, int heightPx, double scale) {
  ProfileInterval drawInterval("Metal.Draw");
  if (frameInFlight) {
    std::lock_guard guard(redrawLock);
    pendingRedraw = true;
    return false;
  }
  if (!frame.terminal) return false;
  frameInFlight = true;
  rasterizer.fontSmoothing = frame.fontSmoothing;
  Terminal& terminal = *frame.terminal;
  CursorStyle style = terminal.options.cursorStyle;
  bool blinking =
      style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline || style == CursorStyle::blinkBar;
  updateCursorBlinkTimer(blinking && !terminal.cursorHidden && frame.cursorMayBlink);
  if (widthPx <= 0 || heightPx <= 0) {
    std::lock_guard guard(redrawLock);
    pendingRedraw = true;
    frameInFlight = false;
    return false;
  }

  ProfileInterval buildInterval("Metal.BuildDrawData");
  DrawData data = buildDrawData(frame, scale);
  buildInterval.end();
  Float4 clear = colorToSIMD(frame.background);
  ProfileInterval encodeInterval("Metal.Encode");
  glViewport(0, 0, widthPx, heightPx);
  glClearColor(clear.x, clear.y, clear.z, clear.w);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_BLEND);
  glBindVertexArray(vertexArray);
  glBindSampler(0, sampler);
  bufferPool->frameBuffers.clear();
  encode(data, {float(widthPx), float(heightPx)});
  glBindSampler(0, 0);
  glBindVertexArray(0);
  encodeInterval.end();
  ProfileInterval commitInterval("Metal.Commit");

  // The frame's reads finish before its buffers go back to the pool.
  CommandBuffer commandBuffer;
  std::weak_ptr<bool> weakAlive = alive;
  commandBuffer.addCompletedHandler([this, weakAlive] {
    frameInFlight = false;
    if (weakAlive.expired()) return;
    std::lock_guard guard(redrawLock);
    if (pendingRedraw && requestRedraw) {
      pendingRedraw = false;
      requestRedraw();
    }
  });
  bufferPool->commit(commandBuffer);
  glFinish();
  commandBuffer.complete();
  return true;
}

// ---- Encoding ----

namespace {

struct VertexAttribute {
  GLuint index;
  GLint components;
  size_t offset;
};

// Points the vertex attributes at `buffer`.
void bindRecords(const GpuBuffer& buffer, size_t stride, std::initializer_list<VertexAttribute> attributes) {
  glBindBuffer(GL_ARRAY_BUFFER, static_cast<const GLBuffer&>(buffer).name);
  for (GLuint i = 0; i < 5; i++) glDisableVertexAttribArray(i);
  for (const auto& a : attributes) {
    glEnableVertexAttribArray(a.index);
    glVertexAttribPointer(a.index, a.components, GL_FLOAT, GL_FALSE, GLsizei(stride),
                          reinterpret_cast<const void*>(a.offset));
  }
}

void usePipeline(const RenderPipeline& pipeline, Float2 viewport, bool premultiplied) {
  glUseProgram(pipeline.program);
  glUniform2f(pipeline.viewport, viewport.x, viewport.y);
  if (pipeline.atlas >= 0) glUniform1i(pipeline.atlas, 0);
  glBlendFuncSeparate(premultiplied ? GL_ONE : GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
}

void bindTexture(const std::shared_ptr<GpuTexture>& texture) {
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, texture ? static_cast<const GLTexture&>(*texture).name : 0);
}

void drawGlyphVertices(const GpuBuffer& buffer, int count) {
  bindRecords(buffer, 32, {{0, 2, 0}, {1, 2, 8}, {2, 4, 16}});
  glDrawArrays(GL_TRIANGLES, 0, count);
}

void drawColorVertices(const GpuBuffer& buffer, int count) {
  bindRecords(buffer, 32, {{0, 2, 0}, {2, 4, 16}});
  glDrawArrays(GL_TRIANGLES, 0, count);
}

// Quads laid out by `quadVertices`, `count` vertices of them, through the quads' index buffer.
void drawBoundQuads(int count) {
  glDrawElements(GL_TRIANGLES, count / verticesPerQuad * indicesPerQuad, GL_UNSIGNED_INT, nullptr);
}

void drawGlyphQuads(const GpuBuffer& buffer, int count) {
  bindRecords(buffer, 32, {{0, 2, 0}, {1, 2, 8}, {2, 4, 16}});
  drawBoundQuads(count);
}

void drawColorQuads(const GpuBuffer& buffer, int count) {
  bindRecords(buffer, 32, {{0, 2, 0}, {2, 4, 16}});
  drawBoundQuads(count);
}

}  // namespace

std::shared_ptr<GpuBuffer> MetalTerminalRenderer::makeBuffer(const void* records, size_t count, size_t recordSize) {
  size_t bytes = count * recordSize;
  if (bytes == 0) return nullptr;
  auto buffer = bufferPool->dequeue(bufferPool->pooledLength(bytes));
  if (!buffer) return nullptr;
  buffer->write(records, bytes);
  bufferPool->frameBuffers.push_back(buffer);
  return buffer;
}

// The vertex array's index buffer holds the triangles of at least `vertexCount` / 4 quads: made once
// and grown by doubling, so that steady frames upload none.
void MetalTerminalRenderer::reserveQuadIndices(size_t vertexCount) {
  const size_t quads = vertexCount / verticesPerQuad;
  if (quads <= quadIndexCapacity) return;
  size_t capacity = std::max<size_t>(quadIndexCapacity, 1024);
  while (capacity < quads) capacity *= 2;
  if (!quadIndexBuffer) glGenBuffers(1, &quadIndexBuffer);
  std::vector<uint32_t> indices;
  quadIndices(capacity, indices);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, quadIndexBuffer);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * sizeof(uint32_t)), indices.data(), GL_STATIC_DRAW);
  quadIndexCapacity = capacity;
}

void MetalTerminalRenderer::encode(const DrawData& data, Float2 viewport) {
  if (data.frame) {
    drawFrameData(*data.frame, viewport);
  } else {
    drawRows(data.rows, viewport);
  }
  if (auto b = makeBuffer(data.cursorColorVertices.data(), data.cursorColorVertices.size(), 32)) {
    usePipeline(*colorPipeline, viewport, false);
    drawColorVertices(*b, int(data.cursorColorVertices.size()));
  }
  if (auto b = makeBuffer(data.cursorGlyphVerticesGray.data(), data.cursorGlyphVerticesGray.size(), 32)) {
    usePipeline(*textGrayPipeline, viewport, true);
    bindTexture(grayscaleAtlas->texture);
    drawGlyphVertices(*b, int(data.cursorGlyphVerticesGray.size()));
  }
  if (auto b = makeBuffer(data.cursorGlyphVerticesColor.data(), data.cursorGlyphVerticesColor.size(), 32)) {
    usePipeline(*textPipeline, viewport, true);
    bindTexture(colorAtlas->texture);
    drawGlyphVertices(*b, int(data.cursorGlyphVerticesColor.size()));
  }
}

void MetalTerminalRenderer::drawFrameData(const FrameDrawData& f, Float2 viewport) {
  auto colorLayer = [&](const std::vector<ColorCell>& cells) {
    quadVertices(cells, colorScratch);
    reserveQuadIndices(colorScratch.size());
    if (auto b = makeBuffer(colorScratch.data(), colorScratch.size(), sizeof(ColorVertex))) {
      usePipeline(*colorPipeline, viewport, false);
      drawColorQuads(*b, int(colorScratch.size()));
    }
  };
  auto textLayer = [&](const std::vector<TextCell>& cells, const RenderPipeline& pipeline, GlyphAtlas& atlas) {
    quadVertices(cells, glyphScratch);
    reserveQuadIndices(glyphScratch.size());
    if (auto b = makeBuffer(glyphScratch.data(), glyphScratch.size(), sizeof(GlyphVertex))) {
      usePipeline(pipeline, viewport, true);
      bindTexture(atlas.texture);
      drawGlyphQuads(*b, int(glyphScratch.size()));
    }
  };
  colorLayer(f.backgroundCells);
  drawImageBatches(f.underImageDraws, viewport);
  colorLayer(f.powerlineJoinCells);
  textLayer(f.glyphCellsGray, *textGrayPipeline, *grayscaleAtlas);
  textLayer(f.glyphCellsColor, *textPipeline, *colorAtlas);
  colorLayer(f.decorationCells);
  drawImageBatches(f.placeholderImageDraws, viewport);
  drawImageBatches(f.overImageDraws, viewport);
  drawImageBatches(f.otherImageDraws, viewport);
}

void MetalTerminalRenderer::drawRows(const std::vector<RowDrawBuffers>& rows, Float2 viewport) {
  using Member = std::shared_ptr<GpuBuffer> RowDrawBuffers::*;
  using Count = int RowDrawBuffers::*;
  auto layer = [&](Member buffer, Count count, const RenderPipeline& pipeline, GlyphAtlas* atlas, bool text) {
    bool any = false;
    for (const auto& row : rows) any = any || (row.*buffer && row.*count > 0);
    if (!any) return;
    usePipeline(pipeline, viewport, text);
    if (atlas) bindTexture(atlas->texture);
    for (const auto& row : rows) {
      if (!(row.*buffer) || row.*count == 0) continue;
      reserveQuadIndices(size_t(row.*count));
      text ? drawGlyphQuads(*(row.*buffer), row.*count) : drawColorQuads(*(row.*buffer), row.*count);
    }
  };
  layer(&RowDrawBuffers::backgroundBuffer, &RowDrawBuffers::backgroundCount, *colorPipeline, nullptr, false);
  drawImageRows(rows, &RowDrawBuffers::underImageBuffers, viewport);
  layer(&RowDrawBuffers::powerlineJoinBuffer, &RowDrawBuffers::powerlineJoinCount, *colorPipeline, nullptr, false);
  layer(&RowDrawBuffers::glyphGrayBuffer, &RowDrawBuffers::glyphGrayCount, *textGrayPipeline, grayscaleAtlas.get(),
        true);
  layer(&RowDrawBuffers::glyphColorBuffer, &RowDrawBuffers::glyphColorCount, *textPipeline, colorAtlas.get(), true);
  layer(&RowDrawBuffers::decorationBuffer, &RowDrawBuffers::decorationCount, *colorPipeline, nullptr, false);
  drawImageRows(rows, &RowDrawBuffers::placeholderImageBuffers, viewport);
  drawImageRows(rows, &RowDrawBuffers::overImageBuffers, viewport);
  drawImageRows(rows, &RowDrawBuffers::otherImageBuffers, viewport);
}

void MetalTerminalRenderer::drawImageRows(const std::vector<RowDrawBuffers>& rows,
                                          std::vector<ImageDrawBuffer> RowDrawBuffers::*key, Float2 viewport) {
  bool any = false;
  for (const auto& row : rows) any = any || !(row.*key).empty();
  if (!any) return;
  usePipeline(*textPipeline, viewport, true);
  for (const auto& row : rows) {
    for (const auto& image : row.*key) {
      bindTexture(image.texture);
      drawGlyphVertices(*image.buffer, image.vertexCount);
    }
  }
}

void MetalTerminalRenderer::drawImageBatches(const std::vector<ImageDraw>& draws, Float2 viewport) {
  if (draws.empty()) return;
  usePipeline(*textPipeline, viewport, true);
  for (const auto& draw : draws) {
    auto buffer = makeBuffer(draw.vertices.data(), draw.vertices.size(), sizeof(GlyphVertex));
    if (!buffer) continue;
    bindTexture(draw.texture);
    drawGlyphVertices(*buffer, int(draw.vertices.size()));
  }
}

}  // namespace vantrelle
