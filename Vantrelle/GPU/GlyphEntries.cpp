// Where each glyph sits in an atlas: font glyphs rasterised once per (font, size, glyph), the
// renderer's own box, block and powerline shapes once per cell size, and what an atlas growth or
// reset makes stale.
#include <cairo-ft.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-font.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/GPU/PowerlineRenderer.h"
#include "Vantrelle/Render/BoxDrawing.h"
#include "platform/CairoPtr.h"
#include "platform/PangoPtr.h"

namespace vantrelle {

namespace {

// The font's face without subpixel rendering. A desktop that asks for subpixel text has that baked
// into the font's pattern, and the font backend then renders every glyph with colour fringes,
// whatever the drawing context says, which the grayscale atlas's one coverage value per pixel
// cannot hold. None when the font is not a fontconfig font.
platform::CairoFontFacePtr coverageFace(PangoFont* font) {
  if (!PANGO_IS_FC_FONT(font)) return nullptr;
  FcPattern* resolved = pango_fc_font_get_pattern(PANGO_FC_FONT(font));
  if (!resolved) return nullptr;
  std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternDuplicate(resolved), &FcPatternDestroy);
  if (!pattern) return nullptr;
  FcPatternDel(pattern.get(), FC_RGBA);
  FcPatternAddInteger(pattern.get(), FC_RGBA, FC_RGBA_NONE);
  platform::CairoFontFacePtr face(cairo_ft_font_face_create_for_pattern(pattern.get()));
  if (cairo_font_face_status(face.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return face;
}

// What tells one font's glyphs from another's: the file and face it is drawn from, and what the
// font backend makes of it (a synthesised slant or emboldening, variations, hinting). A family
// and style do not: the backend gives a face it synthesises from another file the style it
// imitates, so a regular file emboldened carries the bold file's name, with other glyph indices.
// Empty when the font is not a fontconfig font, whose description then tells it.
std::string fontIdentity(PangoFont* font) {
  if (!PANGO_IS_FC_FONT(font)) return {};
  FcPattern* pattern = pango_fc_font_get_pattern(PANGO_FC_FONT(font));
  if (!pattern) return {};
  std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> drawn(
      FcObjectSetBuild(FC_FILE, FC_INDEX, FC_MATRIX, FC_EMBOLDEN, FC_FONT_VARIATIONS, FC_HINTING, FC_HINT_STYLE,
                       FC_AUTOHINT, FC_ANTIALIAS, FC_EMBEDDED_BITMAP, FC_LCD_FILTER, nullptr),
      &FcObjectSetDestroy);
  if (!drawn) return {};
  std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> kept(FcPatternFilter(pattern, drawn.get()),
                                                               &FcPatternDestroy);
  if (!kept) return {};
  std::unique_ptr<FcChar8, decltype(&free)> text(FcNameUnparse(kept.get()), &free);
  return text ? reinterpret_cast<const char*>(text.get()) : std::string();
}

}  // namespace

const ScaledFont* MetalTerminalRenderer::scaledFontFor(PangoFont* font, double scale, double widthFactor) {
  if (!font) return nullptr;
  FontAtScale key{font, scale, widthFactor};
  if (auto it = scaledFontsByObject.find(key); it != scaledFontsByObject.end()) return it->second.second;
  const ScaledFont* scaled = scaledFontByName(font, scale, widthFactor);
  // Font objects come from Pango's font map, which keeps handing out the same few; a bound keeps a
  // font map that does not from pinning every font it ever made.
  if (scaledFontsByObject.size() >= 256) scaledFontsByObject.clear();
  if (scaled) scaledFontsByObject.emplace(key, std::pair{retainFont(font), scaled});
  return scaled;
}

const ScaledFont* MetalTerminalRenderer::scaledFontByName(PangoFont* font, double scale, double widthFactor) {
  platform::PangoFontDescriptionPtr description(pango_font_describe_with_absolute_size(font));
  double size = double(pango_font_description_get_size(description.get())) / PANGO_SCALE;
  // The family and style, for reading, and the number of the font's identity, short to hash for
  // every glyph looked up.
  std::string name = fontName(description.get());
  if (std::string identity = fontIdentity(font); !identity.empty()) {
    auto known = fontIdentities.try_emplace(std::move(identity), int(fontIdentities.size()) + 1).first;
    name += " #" + std::to_string(known->second);
  }
  // A stretched font draws other bitmaps than the plain one of its size: a name of its own keeps
  // their glyphs apart.
  if (widthFactor != 1) name += " stretched " + std::to_string(widthFactor);
  GlyphKey key{name, scale * size, 0};
  description.reset();
  if (auto it = scaledFontCache.find(key); it != scaledFontCache.end()) return it->second.get();

  cairo_scaled_font_t* base = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(font));
  if (!base) return nullptr;
  cairo_matrix_t fontMatrix, ctm;
  cairo_scaled_font_get_font_matrix(base, &fontMatrix);
  cairo_scaled_font_get_ctm(base, &ctm);
  cairo_matrix_scale(&fontMatrix, scale * widthFactor, scale);
  platform::CairoFontOptionsPtr options(cairo_font_options_create());
  cairo_scaled_font_get_font_options(base, options.get());
  // Glyphs land on whole-pixel positions of the grid; hinted metrics would move them.
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  auto scaled = std::make_unique<ScaledFont>();
  scaled->name = key.fontName;
  scaled->size = key.size;
  platform::CairoFontFacePtr face = coverageFace(font);
  scaled->font.reset(cairo_scaled_font_create(face ? face.get() : cairo_scaled_font_get_font_face(base), &fontMatrix,
                                              &ctm, options.get()));
  face.reset();
  options.reset();
  if (cairo_scaled_font_status(scaled->font.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return scaledFontCache.emplace(key, std::move(scaled)).first->second.get();
}

std::optional<GlyphEntry> MetalTerminalRenderer::glyphEntry(const ScaledFont& font, uint32_t glyph) {
  const GlyphKeyView key{font.name, font.size, glyph};
  if (auto it = glyphCache.find(key); it != glyphCache.end()) return it->second;
  if (inklessGlyphs.find(key) != inklessGlyphs.end()) return std::nullopt;
  bool inkless = false;
  auto bitmap = rasterizer.rasterize(font.font.get(), glyph, &inkless);
  if (!bitmap) {
    if (inkless) inklessGlyphs.emplace(GlyphKey{font.name, font.size, glyph});
    return std::nullopt;
  }
  GlyphAtlas& atlas = bitmap->isColor ? *colorAtlas : *grayscaleAtlas;
  int previousSize = atlas.size;
  auto region = atlas.ensureRegion(bitmap->width, bitmap->height);
  handleAtlasChange(atlas, previousSize);
  if (!region) return std::nullopt;
  atlas.write(*region, bitmap->pixels.data(), bitmap->width, bitmap->height);
  GlyphEntry entry{*region,
                   double(bitmap->width),
                   double(bitmap->height),
                   bitmap->bearingX,
                   bitmap->bearingY,
                   bitmap->isColor,
                   bitmap->isColor ? GlyphAtlasKind::color : GlyphAtlasKind::grayscale};
  glyphCache.emplace(GlyphKey{font.name, font.size, glyph}, entry);
  return entry;
}

namespace {

// Fills the shape of one custom glyph in white into `cr`, scaled to points; false for code points
// the renderer does not draw itself.
bool drawCustomGlyph(cairo_t* cr, uint32_t codePoint, double scale, double w, double h, int baseThicknessPx,
                     bool antiAlias) {
  if (auto shape = PowerlineRenderer::glyph(codePoint)) {
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    double left = std::floor(scale * 0) / scale, right = std::ceil(scale * w) / scale;
    // Cairo's y grows downward: the cell's bottom edge is at h.
    double bottom = h - std::floor(scale * 0) / scale, top = h - std::ceil(scale * h) / scale;
    double base = shape->pointsRight ? left : right, tip = shape->pointsRight ? right : left;
    if (!shape->rounded) {
      double midY = h - double(roundHalfAway(scale * (0 + std::ceil(scale * h) / scale) * 0.5)) / scale;
      cairo_move_to(cr, base, bottom);
      cairo_line_to(cr, tip, midY);
      cairo_line_to(cr, base, top);
    } else {
      double k = (shape->pointsRight ? 1 : -1) * (4.0 / 3.0) * (right - left);
      cairo_move_to(cr, base, bottom);
      cairo_curve_to(cr, base + k, bottom, base + k, top, base, top);
    }
    cairo_close_path(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr);
    return true;
  }
  if (codePoint >= 0x2500 && codePoint <= 0x257F) {
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    BoxDrawingRenderer::draw(codePoint, cr, {0, 0}, {w, h}, scale, ViewColor::white(), baseThicknessPx);
    return true;
  }
  if (codePoint >= 0x2580 && codePoint <= 0x259F) {
    const auto* rects = BlockElementMapping::rects(codePoint);
    if (!rects || rects->empty()) return false;
    cairo_set_antialias(cr, antiAlias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    for (const auto& r : *rects) {
      // Eighths measured from the top, which is Cairo's own direction.
      double x = w / 8 * r.x0, width = w / 8 * (r.x1 - r.x0);
      double y = h / 8 * r.y0, height = h / 8 * (r.y1 - r.y0);
      if (!antiAlias) {
        double x0 = std::floor(x * scale) / scale, x1 = std::ceil((x + width) * scale) / scale;
        double y0 = std::floor(y * scale) / scale, y1 = std::ceil((y + height) * scale) / scale;
        x = x0, y = y0, width = std::max(0.0, x1 - x0), height = std::max(0.0, y1 - y0);
      }
      if (width <= 0 || height <= 0) continue;
      cairo_set_source_rgba(cr, 1, 1, 1, std::min(1.0, rawValue(r.alpha)));
      cairo_rectangle(cr, x, y, width, height);
      cairo_fill(cr);
    }
    return true;
  }
  return false;
}

}  // namespace

std::optional<CustomGlyphEntry> MetalTerminalRenderer::customGlyphEntry(uint32_t codePoint, int cellWidthPx,
                                                                        int cellHeightPx, double scale,
                                                                        int baseThicknessPx, bool antiAlias,
                                                                        int magnifyX, int magnifyY) {
  int scaleKey = int(std::max(1L, roundHalfAway(scale)));
  CustomGlyphKey key{codePoint, cellWidthPx, cellHeightPx, baseThicknessPx, scaleKey, antiAlias, magnifyX, magnifyY};
  if (auto it = customGlyphCache.find(key); it != customGlyphCache.end()) return it->second;
  if (cellWidthPx < 1 || cellHeightPx < 1 || !(scale > 0) || magnifyX < 1 || magnifyY < 1) return std::nullopt;

  std::vector<uint8_t> pixels(size_t(cellWidthPx) * cellHeightPx * 4, 0);
  platform::CairoSurfacePtr surface(cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_ARGB32, cellWidthPx,
                                                                        cellHeightPx, cellWidthPx * 4));
  platform::CairoPtr cr(cairo_create(surface.get()));
  cairo_scale(cr.get(), scale, scale);
  cairo_set_source_rgba(cr.get(), 1, 1, 1, 1);
  bool drawn = drawCustomGlyph(cr.get(), codePoint, scale, cellWidthPx / scale, cellHeightPx / scale, baseThicknessPx,
                               antiAlias);
  cr.reset();
  cairo_surface_flush(surface.get());
  surface.reset();
  if (!drawn) return std::nullopt;
  const int width = cellWidthPx * magnifyX, height = cellHeightPx * magnifyY;
  if (magnifyX > 1 || magnifyY > 1) {
    std::vector<uint8_t> magnified(size_t(width) * height * 4);
    for (int y = 0; y < height; y++) {
      const uint8_t* from = &pixels[size_t(y / magnifyY) * cellWidthPx * 4];
      uint8_t* to = &magnified[size_t(y) * width * 4];
      for (int x = 0; x < width; x++) std::memcpy(to + size_t(x) * 4, from + size_t(x / magnifyX) * 4, 4);
    }
    pixels = std::move(magnified);
  }

  int previousSize = grayscaleAtlas->size;
  auto region = grayscaleAtlas->ensureRegion(width, height);
  handleAtlasChange(*grayscaleAtlas, previousSize);
  if (!region) return std::nullopt;
  grayscaleAtlas->write(*region, pixels.data(), width, height);
  CustomGlyphEntry entry{*region, double(width), double(height)};
  customGlyphCache[key] = entry;
  return entry;
}

void MetalTerminalRenderer::handleAtlasChange(GlyphAtlas& atlas, int previousSize) {
  if (atlas.didReset) {
    glyphCache.clear();
    inklessGlyphs.clear();
    customGlyphCache.clear();
    rowCache.clear();
    atlasInvalidatedDuringBuild = true;
  } else if (atlas.size != previousSize) {
    // Regions keep their pixels on growth, but normalised coordinates change.
    rowCache.clear();
    atlasInvalidatedDuringBuild = true;
  }
}

}  // namespace vantrelle
