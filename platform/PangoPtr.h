#pragma once
// Owning holders for what Pango hands out that is not a GObject, so no free or unref appears in
// ordinary text code. Fonts, layouts and contexts are GObjects and go in GObjectPtr; where
// pangomm is used, its Glib::RefPtr and value types hold them instead. Header-only: Pango comes
// with the toolkit of whoever includes it, and the platform library itself shapes no text.
#include <pango/pango.h>

#include <memory>

namespace platform {

template <class T, void (*release)(T*)>
struct PangoRelease {
  void operator()(T* object) const {
    if (object) release(object);
  }
};

using PangoAttrListPtr = std::unique_ptr<PangoAttrList, PangoRelease<PangoAttrList, pango_attr_list_unref>>;
using PangoGlyphStringPtr = std::unique_ptr<PangoGlyphString, PangoRelease<PangoGlyphString, pango_glyph_string_free>>;
using PangoFontDescriptionPtr =
    std::unique_ptr<PangoFontDescription, PangoRelease<PangoFontDescription, pango_font_description_free>>;

// The list pango_itemize returns: the items and the list that links them go together.
struct PangoItemListFree {
  void operator()(GList* items) const {
    g_list_free_full(items, [](gpointer item) { pango_item_free(static_cast<PangoItem*>(item)); });
  }
};
using PangoItemListPtr = std::unique_ptr<GList, PangoItemListFree>;

}  // namespace platform
