#pragma once
// Painting one slice of an inline image with Cairo.
#include <cairomm/surface.h>

#include <cstdint>
#include <optional>

#include "Vantrelle/Render/InlineImage.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

// Paints one slice attached to the row whose top is `top`, for cells of the size given, only where
// it falls in the row band starting at `bandTop`: a slice moved down by its placement's offset
// reaches into the row below, whose painter draws that part, so that a row repainted alone
// shows it too and no pixel is painted twice.
void drawImage(const TerminalView::AppleImage& image, cairo_t* context, double top, double scale, bool kittyOffsets,
               ViewSize cell, double bandTop);

}  // namespace vantrelle
