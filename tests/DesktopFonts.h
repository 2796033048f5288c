#pragma once
// The fonts a Debian desktop has (tests/desktop-fonts.conf.in), for the views of the tests that
// check drawing as users see it: fallback fonts, symbol fonts put before the monospaced ones, the
// oblique faces of the font's own. Every other test keeps the fixed font set of tests/fonts.conf.in.
#include <fontconfig/fontconfig.h>
#include <gtk/gtk.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <string>
#include <vector>

namespace vantrelle::testing {

inline FcConfig* desktopFontConfig() {
  static FcConfig* config = [] {
    FcConfig* made = FcConfigCreate();
    const auto* file = reinterpret_cast<const FcChar8*>(ZORVEL_TEST_DESKTOP_FONTCONFIG);
    if (!FcConfigParseAndLoad(made, file, FcTrue) || !FcConfigBuildFonts(made)) {
      FcConfigDestroy(made);
      return static_cast<FcConfig*>(nullptr);
    }
    return made;
  }();
  return config;
}

// The faces of the desktop's font packages that the configuration lacks, by family and style:
// scripts/install-deps installs them.
inline std::vector<std::string> missingDesktopFonts() {
  const std::pair<const char*, const char*> faces[] = {{"DejaVu Sans Mono", "Book"},
                                                       {"DejaVu Sans Mono", "Oblique"},
                                                       {"Noto Color Emoji", nullptr},
                                                       {"Noto Sans Mono CJK JP", nullptr},
                                                       {"PowerlineSymbols", nullptr}};
  std::vector<std::string> missing;
  FcConfig* config = desktopFontConfig();
  for (const auto& [family, style] : faces) {
    const std::string name = std::string(family) + (style ? std::string(" ") + style : "");
    if (!config) {
      missing.push_back(name);
      continue;
    }
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    if (style) FcPatternAddString(pattern, FC_STYLE, reinterpret_cast<const FcChar8*>(style));
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    FcFontSet* found = FcFontList(config, pattern, objects);
    if (!found || found->nfont == 0) missing.push_back(name);
    if (found) FcFontSetDestroy(found);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
  }
  return missing;
}

// Gives `widget` a font map of the desktop's fonts. The view measures its cells again once its font
// is set anew.
inline void useDesktopFonts(GtkWidget* widget) {
  PangoFontMap* map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
  pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(map), desktopFontConfig());
  gtk_widget_set_font_map(widget, map);
  g_object_unref(map);
}

}  // namespace vantrelle::testing
