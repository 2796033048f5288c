#include <gtest/gtest.h>

#include "Vantrelle/Buffer/Color.h"

namespace vantrelle {
namespace {

TEST(Color, FormatsAndParsesXColors) {
  EXPECT_EQ(Color().formatAsXcolor(), "rgb:0000/0000/0000");
  EXPECT_EQ(Color::terminalAppColors[1].formatAsXcolor(), "rgb:c2c2/3636/2121");

  struct Case {
    const char* text;
    std::optional<Color> color;
  };
  const Case cases[] = {
      {"#ffffff", Color(0xffff, 0xffff, 0xffff)},
      {"#fff", Color(0xf0f0, 0xf0f0, 0xf0f0)},
      {"#f00", Color(0xf0f0, 0, 0)},
      {"#fffffffff", Color(0xffff, 0xffff, 0xffff)},
      {"#000000000001", Color(0, 0, 1)},
      {"#zz0000", Color(0, 0, 0)},  // stray characters count as zero digits
      {"#ff", std::nullopt},
      {"#fffff", std::nullopt},
      {"rgb:ff/80/00", Color(0xffff, 0x8080, 0)},
      {"rgb:f/ff/fff", Color(0x00f0, 0x0fff, 0xffff)},
      {"rgb:", std::nullopt},
      {"RGB:ff/ff/ff", std::nullopt},
      {"", std::nullopt},
      {"blue", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(Color::parseColor(std::string_view(c.text)), c.color) << c.text;
}

TEST(Color, RgbFormUsesTheLongestComponentForItsScale) {
  // Scale 3 for all three: a one-digit f is the 12-bit value 0x00f spread to 16 bits.
  auto color = Color::parseColor(std::string_view("rgb:f/ff/fff"));
  ASSERT_TRUE(color);
  EXPECT_EQ(color->red, uint16_t(0x00f << 4 | 0));
  EXPECT_EQ(color->green, uint16_t(0x0ff << 4 | 0x00f));
  EXPECT_EQ(color->blue, 0xffff);
}

TEST(Color, XtermPalette) {
  auto palette = Color::generateXtermPalette(Color::terminalAppColors);
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[1], Color::terminalAppColors[1]);
  EXPECT_EQ(palette[16], Color(0, 0, 0));
  EXPECT_EQ(palette[231], Color(0xffff, 0xffff, 0xffff));
  EXPECT_EQ(palette[16 + 36 * 1 + 6 * 2 + 3], Color(0x5f5f, 0x8787, 0xafaf));
  EXPECT_EQ(palette[232], Color(8 * 257, 8 * 257, 8 * 257));
  EXPECT_EQ(palette[255], Color(238 * 257, 238 * 257, 238 * 257));
}

TEST(Color, LabConversionRoundsExactly) {
  // sRGB white is L 100 with no tint; black is L 0.
  auto white = Color::LabColor::fromColor(Color(0xffff, 0xffff, 0xffff));
  EXPECT_NEAR(white.l, 100.0, 1e-3);
  EXPECT_NEAR(white.a, 0.0, 1e-2);
  EXPECT_NEAR(white.b, 0.0, 1e-2);
  EXPECT_EQ(white.toColor(), Color(0xffff, 0xffff, 0xffff));
  // Every 8-bit grey and every base colour survives the round trip exactly.
  for (int v = 0; v < 256; v++) {
    Color grey(widen8(v), widen8(v), widen8(v));
    EXPECT_EQ(Color::LabColor::fromColor(grey).toColor(), grey) << v;
  }
  for (const Color& base : Color::terminalAppColors) {
    EXPECT_EQ(Color::LabColor::fromColor(base).toColor(), base) << base.formatAsXcolor();
  }
}

TEST(Color, Base16LabPalette) {
  std::span<const Color> base = Color::terminalAppColors;
  auto fewer = Color::generateBase16LabPalette(base.first(7), std::nullopt, std::nullopt, false);
  EXPECT_EQ(fewer, Color::generateXtermPalette(base.first(7)));

  Color background(0, 0, 0), foreground(0xeaea, 0xeaea, 0xeaea);
  auto palette = Color::generateBase16LabPalette(base, background, foreground, false);
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[16], Color::LabColor::fromColor(background).toColor());
  EXPECT_EQ(palette[231], Color::LabColor::fromColor(foreground).toColor());
  // Greys run strictly between the two corners, getting lighter.
  for (int i = 233; i < 256; i++) EXPECT_GT(palette[size_t(i)].red, palette[size_t(i) - 1].red);

  // A light background: the plain strategy swaps so the cube starts dark, the harmonious one
  // keeps the background at the origin.
  Color light(0xffff, 0xffff, 0xffff), dark(0x1010, 0x1010, 0x1010);
  auto swapped = Color::generateBase16LabPalette(base, light, dark, false);
  auto kept = Color::generateBase16LabPalette(base, light, dark, true);
  EXPECT_EQ(swapped[16], Color::LabColor::fromColor(dark).toColor());
  EXPECT_EQ(kept[16], Color::LabColor::fromColor(light).toColor());
  EXPECT_EQ(kept[231], Color::LabColor::fromColor(dark).toColor());
}

}  // namespace
}  // namespace vantrelle
