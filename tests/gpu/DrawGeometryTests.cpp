#include <gtest/gtest.h>

#include "Vantrelle/GPU/DrawGeometry.h"
#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/GPU/PowerlineRenderer.h"

namespace vantrelle {
namespace {

TEST(PowerlineRenderer, ClassifiesSolidShapesAndTheirJoinStrip) {
  EXPECT_FALSE(PowerlineRenderer::glyph(0xE0B1));
  EXPECT_FALSE(PowerlineRenderer::glyph(0xE0B5));
  EXPECT_EQ(PowerlineRenderer::glyph(0xE0B6), (PowerlineRenderer::Glyph{false, true}));
  EXPECT_EQ(PowerlineRenderer::glyph(0xE0B0), (PowerlineRenderer::Glyph{true, false}));
  PixelRect cell{10, 20, 8, 16};
  EXPECT_EQ(PowerlineRenderer::devicePixelJoinRect(0xE0B0, cell), (PixelRect{9, 20, 1, 16}));
  EXPECT_EQ(PowerlineRenderer::devicePixelJoinRect(0xE0B2, cell), (PixelRect{18, 20, 1, 16}));
  EXPECT_FALSE(PowerlineRenderer::devicePixelJoinRect(0xE0B1, cell));
}

TEST(DrawGeometry, ClippingTrimsTextureCoordinatesInProportion) {
  TexturedRect r{0, 0, 10, 10, 0, 0, 1, 1};
  EXPECT_EQ(clipRect(r, std::nullopt)->x1, 10);
  auto c = clipRect(r, ClipRect{5, 0, 20, 4});
  ASSERT_TRUE(c);
  EXPECT_FLOAT_EQ(c->x0, 5);
  EXPECT_FLOAT_EQ(c->s0, 0.5f);
  EXPECT_FLOAT_EQ(c->s1, 1);
  EXPECT_FLOAT_EQ(c->t1, 0.4f);
  EXPECT_FALSE(clipRect(r, ClipRect{10, 0, 20, 20}));
  EXPECT_FALSE(clipRect(TexturedRect{0, 0, 0, 5, 0, 0, 1, 1}, ClipRect{0, 0, 9, 9}));
  EXPECT_FALSE(clipRect(PlainRect{0, 0, 4, 4}, ClipRect{4, 4, 8, 8}));
}

TEST(DrawGeometry, RenderModesDoubleAboutThePivot) {
  PlainRect r{1, 10, 3, 14};
  auto wide = transformRect(r, RenderLineMode::doubleWidth, 12);
  EXPECT_EQ(wide.x0, 2);
  EXPECT_EQ(wide.y0, 10);
  auto top = transformRect(r, RenderLineMode::doubledTop, 14);
  EXPECT_EQ(top.y0, 6);
  EXPECT_EQ(top.y1, 14);
  EXPECT_EQ(top.x1, 6);
  auto image =
      imageDraw(nullptr, {0, 0, 10, 10}, {0, 0, 1, 1}, RenderLineMode::doubledDown, ClipRect{0, 0, 100, 10}, 0, 1);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->vertices.size(), 6u);
  EXPECT_FLOAT_EQ(image->vertices[4].position.x, 20);
  EXPECT_FLOAT_EQ(image->vertices[4].position.y, 10);
  EXPECT_FLOAT_EQ(image->vertices[4].texCoord.y, 0.5f);
}

TEST(DrawGeometry, UnderlineStylesAndPatterns) {
  RunAttributes a;
  EXPECT_EQ(resolveUnderlineStyle(a), UnderlineStyle::none);
  a.underlineStyle = 9;
  EXPECT_EQ(resolveUnderlineStyle(a), UnderlineStyle::double_);
  a.underlineStyle = 0x101;
  EXPECT_EQ(resolveUnderlineStyle(a), UnderlineStyle::dotted);
  a.underlineStyle = 0x201;
  EXPECT_EQ(resolveUnderlineStyle(a), UnderlineStyle::dashed);
  a.vantrelleUnderlineStyle = 3;
  EXPECT_EQ(resolveUnderlineStyle(a), UnderlineStyle::curly);

  std::vector<ColorCell> out;
  auto draw = [&](UnderlineStyle s, float x0, float x1, float thickness = 1, float pattern = 2) {
    out.clear();
    appendUnderlineSegments(x0, x1, 5, thickness, {1, 0, 0, 1}, s, pattern, RenderLineMode::single, std::nullopt, 0,
                            out);
    return out.size();
  };
  EXPECT_EQ(draw(UnderlineStyle::single, 10, 0), 1u);  // reversed ends still give the span
  EXPECT_FLOAT_EQ(out[0].position.x, 0);
  EXPECT_FLOAT_EQ(out[0].size.x, 10);
  EXPECT_FLOAT_EQ(out[0].position.y, 4.5f);
  EXPECT_EQ(draw(UnderlineStyle::dotted, 0, 12), 2u);  // at 0 and 6
  EXPECT_EQ(draw(UnderlineStyle::dashed, 0, 16), 2u);  // at 0 and 8
  EXPECT_EQ(draw(UnderlineStyle::curly, 0, 8), 4u);
  // A wave taller than its line is thick stays one unbroken line: each step meets the one before.
  for (size_t i = 1; i < out.size(); i++) {
    EXPECT_LE(out[i].position.y, out[i - 1].position.y + out[i - 1].size.y) << i;
    EXPECT_LE(out[i - 1].position.y, out[i].position.y + out[i].size.y) << i;
  }
  draw(UnderlineStyle::curly, 0, 8, 1, 1);  // steps one line apart already touch
  for (const auto& step : out) EXPECT_FLOAT_EQ(step.size.y, 1);
  EXPECT_EQ(draw(UnderlineStyle::curly, 8, 0), 0u);
  // A pattern with no extent at all must end rather than loop forever.
  EXPECT_EQ(draw(UnderlineStyle::dotted, 0, 8, 0, 0), 0u);
  EXPECT_EQ(draw(UnderlineStyle::curly, 0, 8, 0, 0), 0u);
  EXPECT_EQ(draw(UnderlineStyle::dashed, 0, 8, 0, 0), 0u);
}

TEST(DrawGeometry, AspectFitAndImageSignatures) {
  auto fit = kittyAspectFitRect({200, 100}, {0, 0, 100, 100});
  EXPECT_EQ(fit, (ViewRect{0, 25, 100, 50}));
  EXPECT_EQ(kittyAspectFitRect({0, 100}, {1, 2, 3, 4}), (ViewRect{1, 2, 3, 4}));

  EXPECT_EQ(hashBytes({}, 64), 0u);
  std::vector<uint8_t> a = {'a'};
  EXPECT_EQ(hashBytes(a, 64), 0xe40c292cu);
  std::vector<uint8_t> bytes(16, 7);
  auto s1 = kittySignature(KittyGraphicsPayload::rgba(bytes, 2, 2));
  auto s2 = kittySignature(KittyGraphicsPayload::rgba(bytes, 4, 1));
  EXPECT_EQ(s1.kind, 2);
  EXPECT_NE(s1, s2);
  EXPECT_EQ(s1, kittySignature(KittyGraphicsPayload::rgba(bytes, 2, 2)));
  EXPECT_EQ(kittySignature(KittyGraphicsPayload::png(bytes)).kind, 1);
}

TEST(MetalError, DescriptionsNameTheFailure) {
  EXPECT_EQ(MetalError::shaderSourceMissing("shaders/x").description(),
            "Failed to load Metal shader source: shaders/x");
  EXPECT_STREQ(MetalError::deviceUnavailable().what(), "No Metal device is available.");
  EXPECT_EQ(MetalError::pipelineCreationFailed("text/color/cell").description(),
            "Failed to create Metal pipeline: text/color/cell");
}

}  // namespace
}  // namespace vantrelle
