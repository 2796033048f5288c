#pragma once
// A font map with the tests' own fonts and two colour fonts, for the views of the tests that draw
// colour glyphs: every other test keeps drawing with the fixed font set.
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <string>

namespace vantrelle {

// A colour bitmap font (fonts-noto-color-emoji) and a font of palette layers made for the tests.
constexpr const char* emojiFont = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";
constexpr const char* layeredFont = ZORVEL_SOURCE_DIR "/tests/gpu/fonts/layered-test.ttf";

// Emoji go to the colour emoji font by the rules a stock Debian installation has. The caller owns
// the map.
inline PangoFontMap* fontMapWithColorFonts() {
  static FcConfig* config = [] {
    FcConfig* made = FcConfigCreate();
    const std::string rules = std::string("<fontconfig><include>") + ZORVEL_TEST_FONTCONFIG +
                              "</include>"
                              "<include>/usr/share/fontconfig/conf.avail/10-scale-bitmap-fonts.conf</include>"
                              "<include>/usr/share/fontconfig/conf.avail/45-generic.conf</include>"
                              "<include>/usr/share/fontconfig/conf.avail/60-generic.conf</include></fontconfig>";
    FcConfigParseAndLoadFromMemory(made, reinterpret_cast<const FcChar8*>(rules.c_str()), FcTrue);
    FcConfigBuildFonts(made);
    for (const char* file : {emojiFont, layeredFont})
      FcConfigAppFontAddFile(made, reinterpret_cast<const FcChar8*>(file));
    return made;
  }();
  PangoFontMap* map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
  pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(map), config);
  return map;
}

}  // namespace vantrelle
