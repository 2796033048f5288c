// A row's text segments shaped run by run through the renderer's shaping cache.
#include "Vantrelle/GPU/MetalTerminalRenderer.h"

namespace vantrelle {

std::vector<ShapedSegment> MetalTerminalRenderer::buildShapedSegments(const std::vector<ViewLineSegment>& segments,
                                                                      const FrameSnapshot& frame) {
  std::vector<ShapedSegment> result;
  if (!frame.pango) return result;
  PangoContext* context = frame.pango->gobj();
  for (const auto& segment : segments) {
    ShapedSegment shaped{&segment, {}};
    int cellStart = 0;
    for (const auto& piece : segment.attributedString) {
      const int start = cellStart;
      cellStart += piece.cellCount();
      if (piece.text.empty()) continue;
      auto run = shaperCache.shape(piece.text, context, frame.fonts.face(piece.attributes.font).gobj());
      if (!run) continue;
      bool blank = piece.text.find_first_not_of(' ') == std::string::npos;
      shaped.runs.push_back({piece.attributes, std::move(run), piece.cellOffsets, start, blank});
    }
    if (!shaped.runs.empty()) result.push_back(std::move(shaped));
  }
  return result;
}

}  // namespace vantrelle
