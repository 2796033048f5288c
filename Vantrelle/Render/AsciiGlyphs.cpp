#include "Vantrelle/Render/AsciiGlyphs.h"

#include <hb-ot.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/PangoPtr.h"

namespace vantrelle {

namespace {

constexpr char firstPrintable = ' ';
constexpr char lastPrintable = '~';

// A text holding every ordered pair of the given characters once (each character followed by
// every character), so that shaping it shows any pair the font's tables join, move or change.
std::string everyPair(std::string_view set) {
  std::string text;
  for (char a : set) {
    for (char b : set) {
      text += a;
      text += b;
    }
  }
  return text;
}

// Whether a lookup of the font's joining features that the shaper applies by default (ligatures,
// contextual forms) may start at a
// glyph of `ascii`: one that cannot takes no part in a text of those glyphs alone. Such joins may
// take three characters or more, which no probe of pairs would show, so any face that has one is
// left to the shaper.
bool joinsAscii(PangoFont* font, const std::array<PangoGlyphInfo, 128>& ascii) {
  hb_font_t* hbFont = pango_font_get_hb_font(font);
  if (!hbFont) return true;
  hb_face_t* face = hb_font_get_face(hbFont);
  const hb_tag_t features[] = {HB_TAG('l', 'i', 'g', 'a'), HB_TAG('c', 'l', 'i', 'g'), HB_TAG('c', 'a', 'l', 't'),
                               HB_TAG('r', 'l', 'i', 'g'), HB_TAG('r', 'c', 'l', 't'), HB_TAG_NONE};
  std::unique_ptr<hb_set_t, decltype(&hb_set_destroy)> lookups(hb_set_create(), hb_set_destroy),
      glyphs(hb_set_create(), hb_set_destroy), input(hb_set_create(), hb_set_destroy);
  hb_ot_layout_collect_lookups(face, HB_OT_TAG_GSUB, nullptr, nullptr, features, lookups.get());
  for (char c = firstPrintable; c <= lastPrintable; c++) hb_set_add(glyphs.get(), ascii[size_t(c)].glyph);
  for (hb_codepoint_t lookup = HB_SET_VALUE_INVALID; hb_set_next(lookups.get(), &lookup);) {
    hb_set_clear(input.get());
    hb_ot_layout_lookup_collect_glyphs(face, HB_OT_TAG_GSUB, lookup, nullptr, input.get(), nullptr, nullptr);
    hb_set_intersect(input.get(), glyphs.get());
    if (!hb_set_is_empty(input.get())) return true;
  }
  return false;
}

// Shapes `text` the way the drawing paths do: one item, in `font`, or false.
bool shapeWhole(PangoContext* context, const PangoFontDescription* description, const std::string& text,
                PangoFont* font, PangoGlyphString* glyphs) {
  platform::PangoAttrListPtr attrs(pango_attr_list_new());
  pango_attr_list_insert(attrs.get(), pango_attr_font_desc_new(description));
  platform::PangoItemListPtr items(pango_itemize(context, text.c_str(), 0, int(text.size()), attrs.get(), nullptr));
  if (!items || items->next) return false;
  auto* item = static_cast<PangoItem*>(items->data);
  if (item->offset != 0 || item->length != int(text.size()) || item->analysis.font != font) return false;
  if (item->analysis.level != 0 || item->analysis.extra_attrs) return false;
  pango_shape_full(text.c_str(), int(text.size()), text.c_str(), int(text.size()), &item->analysis, glyphs);
  return glyphs->num_glyphs == int(text.size());
}

}  // namespace

AsciiGlyphs::~AsciiGlyphs() { clear(); }

void AsciiGlyphs::drop(Face& f) {
  pango_font_description_free(f.description);
  if (f.font) g_object_unref(f.font);
  g_object_unref(f.context);
  if (f.options) cairo_font_options_destroy(f.options);
}

void AsciiGlyphs::clear() {
  for (auto& f : faces) drop(f);
  faces.clear();
}

bool AsciiGlyphs::printable(std::string_view text) {
  for (char c : text) {
    if (c < firstPrintable || c > lastPrintable) return false;
  }
  return true;
}

const AsciiGlyphs::Face* AsciiGlyphs::face(PangoContext* ctx, const PangoFontDescription* description) {
  // A context's serial moves on with anything that changes how it lays text out (its font map,
  // options, language, resolution).
  // Cairo's resolution and font options are not counted in it.
  const unsigned serial = pango_context_get_serial(ctx);
  const double resolution = pango_cairo_context_get_resolution(ctx);
  const cairo_font_options_t* options = pango_cairo_context_get_font_options(ctx);
  auto sameOptions = [options](const cairo_font_options_t* kept) {
    return !options || !kept ? options == kept : bool(cairo_font_options_equal(options, kept));
  };
  for (auto it = faces.begin(); it != faces.end(); ++it) {
    if (it->context != ctx || !pango_font_description_equal(it->description, description)) continue;
    if (it->serial == serial && it->resolution == resolution && sameOptions(it->options))
      return it->font ? &*it : nullptr;
    drop(*it);
    faces.erase(it);
    break;
  }
  if (faces.size() >= mostFaces) {
    drop(faces.front());
    faces.erase(faces.begin());
  }
  Face& f = faces.emplace_back();
  f.context = PANGO_CONTEXT(g_object_ref(ctx));
  f.serial = serial;
  f.resolution = resolution;
  f.options = options ? cairo_font_options_copy(options) : nullptr;
  f.description = pango_font_description_copy(description);

  // The font the shaper picks for the characters, found as it finds it.
  std::string all;
  for (char c = firstPrintable; c <= lastPrintable; c++) all += c;
  PangoFont* font = nullptr;
  {
    platform::PangoAttrListPtr attrs(pango_attr_list_new());
    pango_attr_list_insert(attrs.get(), pango_attr_font_desc_new(description));
    platform::PangoItemListPtr items(pango_itemize(ctx, all.c_str(), 0, int(all.size()), attrs.get(), nullptr));
    if (!items || items->next) return nullptr;
    font = static_cast<PangoItem*>(items->data)->analysis.font;
    if (!font) return nullptr;
    g_object_ref(font);
  }
  platform::PangoGlyphStringPtr shaped(pango_glyph_string_new());
  PangoGlyphString* glyphs = shaped.get();
  auto fail = [&] {
    g_object_unref(font);
    return nullptr;
  };
  // Each character alone: one glyph of its own, none unknown, all of one advance and unmoved.
  if (!shapeWhole(ctx, description, all, font, glyphs)) return fail();
  const int width = glyphs->glyphs[0].geometry.width;
  for (int i = 0; i < glyphs->num_glyphs; i++) {
    const PangoGlyphInfo& info = glyphs->glyphs[i];
    if (info.glyph & PANGO_GLYPH_UNKNOWN_FLAG || glyphs->log_clusters[i] != i || info.geometry.x_offset != 0 ||
        info.geometry.y_offset != 0)
      return fail();
    f.glyph[size_t(uint8_t(all[size_t(i)]))] = info;
  }
  if (width <= 0) return fail();
  // Every pair of characters must come out as the characters alone: no kerning, no contextual
  // form of two, no mark positioning.
  auto matches = [&](const std::string& text) {
    if (!shapeWhole(ctx, description, text, font, glyphs)) return false;
    for (int i = 0; i < glyphs->num_glyphs; i++) {
      const PangoGlyphInfo& info = glyphs->glyphs[i];
      const PangoGlyphInfo& alone = f.glyph[size_t(uint8_t(text[size_t(i)]))];
      if (info.glyph != alone.glyph || info.geometry.width != width || alone.geometry.width != width ||
          info.attr.is_cluster_start != alone.attr.is_cluster_start || info.attr.is_color != alone.attr.is_color ||
          info.geometry.x_offset != 0 || info.geometry.y_offset != 0 || glyphs->log_clusters[i] != i)
        return false;
    }
    return true;
  };
  if (!matches(everyPair(all))) return fail();
  if (joinsAscii(font, f.glyph)) return fail();
  f.font = font;
  return &f;
}

PangoFont* AsciiGlyphs::lay(PangoContext* ctx, const PangoFontDescription* description, std::string_view text,
                            PangoGlyphString* glyphs) {
  if (!ctx || !description || text.empty() || !printable(text)) return nullptr;
  const Face* f = face(ctx, description);
  if (!f) return nullptr;
  const int count = int(text.size());
  pango_glyph_string_set_size(glyphs, count);
  for (int i = 0; i < count; i++) {
    glyphs->glyphs[i] = f->glyph[size_t(uint8_t(text[size_t(i)]))];
    glyphs->log_clusters[i] = i;
  }
  return f->font;
}

}  // namespace vantrelle
