#include "Vantrelle/Terminal/GraphemeJoin.h"

#include <unicode/uchar.h>

namespace vantrelle::grapheme {
namespace {

int breakClass(char32_t c) { return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_GRAPHEME_CLUSTER_BREAK); }

bool isPictographic(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_EXTENDED_PICTOGRAPHIC); }

bool isControlClass(int gcb) { return gcb == U_GCB_CONTROL || gcb == U_GCB_CR || gcb == U_GCB_LF; }

bool hangulJoins(int before, int after) {
  if (before == U_GCB_L) return after == U_GCB_L || after == U_GCB_V || after == U_GCB_LV || after == U_GCB_LVT;
  if (before == U_GCB_LV || before == U_GCB_V) return after == U_GCB_V || after == U_GCB_T;
  if (before == U_GCB_LVT || before == U_GCB_T) return after == U_GCB_T;
  return false;
}

// An emoji ZWJ sequence: Extended_Pictographic Extend* ZWJ before the next pictograph.
bool endsInPictographicZwj(std::u32string_view cluster) {
  if (cluster.empty() || !isZeroWidthJoiner(cluster.back())) return false;
  for (size_t i = cluster.size() - 1; i-- > 0;) {
    if (isPictographic(cluster[i])) return true;
    if (breakClass(cluster[i]) != U_GCB_EXTEND) return false;
  }
  return false;
}

size_t trailingRegionalIndicators(std::u32string_view cluster) {
  size_t n = 0;
  for (size_t i = cluster.size(); i-- > 0 && isRegionalIndicator(cluster[i]);) ++n;
  return n;
}

}  // namespace

// Nothing below U+0300 combines canonically.
bool hasCombiningClass(char32_t c) { return c >= 0x300 && u_getCombiningClass(static_cast<UChar32>(c)) != 0; }

bool isVariationSelectorBase(char32_t c) {
  // Text-default emoji (keycap bases, arrows, symbols) and the emoji of the Basic Multilingual
  // Plane take presentation selectors.
  const auto u = static_cast<UChar32>(c);
  if (!u_hasBinaryProperty(u, UCHAR_EMOJI) || isRegionalIndicator(c)) return false;
  return c < 0x10000 || !u_hasBinaryProperty(u, UCHAR_EMOJI_PRESENTATION);
}

bool extendsCluster(std::u32string_view cluster, char32_t next) {
  if (cluster.empty()) return false;
  const char32_t last = cluster.back();
  const int before = breakClass(last);
  const int after = breakClass(next);
  if (before == U_GCB_CR && after == U_GCB_LF) return cluster.size() == 1;
  if (isControlClass(before) || isControlClass(after)) return false;
  if (hangulJoins(before, after)) return true;
  if (after == U_GCB_EXTEND || after == U_GCB_ZWJ || after == U_GCB_SPACING_MARK) return true;
  if (before == U_GCB_PREPEND) return true;
  if (isPictographic(next) && endsInPictographicZwj(cluster)) return true;
  if (after == U_GCB_REGIONAL_INDICATOR && before == U_GCB_REGIONAL_INDICATOR)
    return trailingRegionalIndicators(cluster) % 2 == 1;
  return false;
}

}  // namespace vantrelle::grapheme
