#include <gtest/gtest.h>

#include <cstdlib>

#include "FakeDevice.h"
#include "Vantrelle/GPU/GlyphAtlas.h"

namespace vantrelle {
namespace {

using test::FakeDevice;

std::unique_ptr<GlyphAtlas> makeAtlas(std::shared_ptr<FakeDevice> device, int size, int maxSize,
                                      GlyphAtlasFormat format = GlyphAtlasFormat::grayscale) {
  return GlyphAtlas::make(device, size, maxSize, format);
}

TEST(GlyphAtlas, PacksGlyphsOnShelvesWithABorderEach) {
  auto atlas = makeAtlas(std::make_shared<FakeDevice>(), 1024, 8192);
  EXPECT_FALSE(atlas->ensureRegion(0, 5));
  EXPECT_FALSE(atlas->ensureRegion(5, 0));
  EXPECT_EQ(atlas->nextX, 0);
  EXPECT_EQ(atlas->ensureRegion(10, 20), (AtlasRegion{1, 1, 10, 20}));
  EXPECT_EQ(atlas->ensureRegion(10, 20), (AtlasRegion{13, 1, 10, 20}));
  EXPECT_EQ(atlas->rowHeight, 22);
  EXPECT_EQ(atlas->nextX, 24);
  // A glyph too wide for the rest of the shelf opens the next one.
  EXPECT_EQ(atlas->ensureRegion(1000, 4), (AtlasRegion{1, 23, 1000, 4}));
}

TEST(GlyphAtlas, SizeIsClampedAndMissingTextureFails) {
  auto device = std::make_shared<FakeDevice>();
  EXPECT_EQ(makeAtlas(device, 100, 8192)->size, 256);
  auto small = makeAtlas(device, 1024, 512);
  EXPECT_EQ(small->size, 512);
  EXPECT_EQ(small->maxSize, 512);
  device->failTextures = true;
  EXPECT_EQ(makeAtlas(device, 1024, 8192), nullptr);
}

TEST(GlyphAtlas, GrowsKeepingPixelsThenResetsAtItsMaximum) {
  auto device = std::make_shared<FakeDevice>();
  auto atlas = makeAtlas(device, 256, 512);
  auto first = atlas->ensureRegion(2, 2);
  std::vector<uint8_t> pixels(2 * 2 * 4, 0xFF);
  atlas->write(*first, pixels.data(), 2, 2);
  // Fill the first texture: 254 rows of shelves, then one more.
  ASSERT_TRUE(atlas->ensureRegion(250, 250));
  auto grown = atlas->ensureRegion(100, 100);
  ASSERT_TRUE(grown);
  EXPECT_EQ(atlas->size, 512);
  EXPECT_FALSE(atlas->didReset);
  EXPECT_EQ(atlas->data[1 * 512 + 1], 0xFF);  // same coordinates after growth
  EXPECT_EQ(atlas->data[300 * 512 + 300], 0);
  EXPECT_EQ(device->textures.back()->uploads.back().w, 512);

  // At the maximum, a glyph that does not fit resets the atlas and lands at the origin.
  ASSERT_TRUE(atlas->ensureRegion(400, 400));
  auto afterReset = atlas->ensureRegion(400, 400);
  EXPECT_TRUE(atlas->didReset);
  EXPECT_EQ(afterReset, (AtlasRegion{1, 1, 400, 400}));
  EXPECT_EQ(atlas->data[1 * 512 + 1], 0);
  // The next call clears the flag.
  atlas->ensureRegion(1, 1);
  EXPECT_FALSE(atlas->didReset);
}

TEST(GlyphAtlas, FrozenOrOversizedRequestsAreRefused) {
  auto atlas = makeAtlas(std::make_shared<FakeDevice>(), 256, 256);
  EXPECT_FALSE(atlas->ensureRegion(255, 10));  // 257 with its border
  ASSERT_TRUE(atlas->ensureRegion(200, 200));
  atlas->frozen = true;
  EXPECT_FALSE(atlas->ensureRegion(200, 200));
  EXPECT_FALSE(atlas->didReset);
  EXPECT_TRUE(atlas->loggedFrozenMiss);
}

TEST(GlyphAtlas, WriteFlipsRowsKeepsCoverageAndRepeatsTheBorder) {
  auto device = std::make_shared<FakeDevice>();
  auto atlas = makeAtlas(device, 256, 256);
  // 3 by 2, top row alpha 10 20 30, bottom row 40 50 60.
  std::vector<uint8_t> px(3 * 2 * 4, 0);
  uint8_t alphas[] = {10, 20, 30, 40, 50, 60};
  for (int i = 0; i < 6; i++) px[i * 4 + 3] = alphas[i];
  atlas->write({5, 7, 3, 2}, px.data(), 3, 2);
  auto at = [&](int x, int y) { return atlas->data[y * 256 + x]; };
  EXPECT_EQ(at(5, 7), 40);  // bottom glyph row first
  EXPECT_EQ(at(7, 8), 30);
  EXPECT_EQ(at(4, 6), 40);  // corner repeats the corner pixel
  EXPECT_EQ(at(8, 9), 30);
  EXPECT_EQ(at(6, 9), 20);
  EXPECT_EQ(at(9, 8), 0);
  auto upload = device->textures.back()->uploads.back();
  EXPECT_EQ(upload.x, 4);
  EXPECT_EQ(upload.y, 6);
  EXPECT_EQ(upload.w, 5);
  EXPECT_EQ(upload.h, 4);
  // A size that is not the region's writes nothing.
  atlas->write({20, 20, 3, 3}, px.data(), 3, 2);
  EXPECT_EQ(at(20, 20), 0);
}

TEST(GlyphAtlas, ColourAtlasKeepsAllFourBytes) {
  auto atlas = makeAtlas(std::make_shared<FakeDevice>(), 256, 256, GlyphAtlasFormat::bgra);
  std::vector<uint8_t> px = {1, 2, 3, 4};
  atlas->write({1, 1, 1, 1}, px.data(), 1, 1);
  size_t at = (1 * 256 + 1) * 4;
  EXPECT_EQ(std::vector<uint8_t>(atlas->data.begin() + at, atlas->data.begin() + at + 4), px);
}

TEST(GlyphAtlas, RecommendedMaximumFollowsTheEnvironment) {
  FakeDevice device;
  unsetenv("VANTRELLE_ATLAS_MAX");
  EXPECT_EQ(GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::grayscale), 8192);
  EXPECT_EQ(GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::bgra), 4096);
  setenv("VANTRELLE_ATLAS_MAX", "100", 1);
  EXPECT_EQ(GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::bgra), 256);
  setenv("VANTRELLE_ATLAS_MAX", "+99999999999999999999", 1);
  EXPECT_EQ(GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::bgra), 8192);
  device.large = true;
  EXPECT_EQ(GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::bgra), 16384);
  for (const char* bad : {"abc", "", "12px", "-"}) {
    setenv("VANTRELLE_ATLAS_MAX", bad, 1);
    EXPECT_EQ(GlyphAtlas::recommendedMaxSize(device, GlyphAtlasFormat::grayscale), 8192) << bad;
  }
  unsetenv("VANTRELLE_ATLAS_MAX");
}

}  // namespace
}  // namespace vantrelle
