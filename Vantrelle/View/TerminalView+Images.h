#pragma once
// Painting one slice of an inline image with Cairo.
#include <cairomm/surface.h>

#include <cstdint>
#include <optional>

#include "Vantrelle/Render/InlineImage.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

// Paints one slice in the row whose top is `top`, for cells of the size given.
void drawImage(const TerminalView::AppleImage& image, cairo_t* context, double top, double scale, bool kittyOffsets,
               ViewSize cell);

}  // namespace vantrelle
