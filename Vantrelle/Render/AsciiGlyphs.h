#pragma once
// Printable ASCII laid out without the shaper. Most of what a terminal shows is plain ASCII in its
// own monospaced font, and finding the font for each character and running the font's tables over
// every newly shown row was a third of the cost of such a row. For a face whose font holds every
// printable ASCII character, and whose tables change nothing in any text made of them (no ligature,
// no kerning, no contextual form, one advance for all), the glyphs the shaper gives are fixed per
// character: they are learnt once by shaping probe texts and then written straight into a glyph
// string, the same string the shaper would have given. A face that fails any check, or text with
// any other byte, keeps the shaper.
#include <pango/pangocairo.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace vantrelle {

class AsciiGlyphs {
 public:
  AsciiGlyphs() = default;
  AsciiGlyphs(const AsciiGlyphs&) = delete;
  AsciiGlyphs& operator=(const AsciiGlyphs&) = delete;
  ~AsciiGlyphs();

  // Whether every byte of `text` is printable ASCII (space to tilde).
  static bool printable(std::string_view text);

  // The font that `text` is laid out in, with `glyphs` filled as pango_shape_full fills them for
  // the one item pango_itemize makes of it; null, with `glyphs` untouched, when the shaper must do
  // it. `text` must be non-empty.
  PangoFont* lay(PangoContext* context, const PangoFontDescription* font, std::string_view text,
                 PangoGlyphString* glyphs);

  // Whether the face can be laid out here (learning it if it was not yet); for tests.
  bool usable(PangoContext* context, const PangoFontDescription* font) { return face(context, font) != nullptr; }

 private:
  struct Face {
    // The context learnt in, held so that no other context takes its address, at its serial.
    PangoContext* context = nullptr;
    unsigned serial = 0;
    // What Cairo keeps on the context outside its serial, which changes advances and glyphs.
    double resolution = 0;
    cairo_font_options_t* options = nullptr;
    PangoFontDescription* description = nullptr;
    PangoFont* font = nullptr;  // null when the face needs the shaper
    // What the shaper gives each character alone, and so in any text of them.
    std::array<PangoGlyphInfo, 128> glyph{};
  };
  const Face* face(PangoContext* context, const PangoFontDescription* font);
  void clear();

  // The faces of the view's fonts at a few sizes, on its one or two contexts; past it the oldest go.
  static constexpr size_t mostFaces = 16;
  void drop(Face& face);
  std::vector<Face> faces;
};

}  // namespace vantrelle
