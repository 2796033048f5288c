#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "Vantrelle/Buffer/Attribute.h"

namespace vantrelle::sgr {

// SGR (ECMA-48 8.3.117) applied to a rendition, with the colon sub-parameters of ITU T.416.
// `separators[k]` is the separator after parameter k.

// Applies the parameters from `start` on. Parameters that mean nothing are added to `unknown`
// when it is given.
void apply(Attribute& rendition, std::span<const int> pars, std::span<const uint8_t> separators, size_t start,
           std::vector<int>* unknown);

// Applies the leading parameters of the forms programs send with every cell (styles, palette
// and direct colours, without sub-parameters) and returns the index of the first parameter left
// for `apply`. Together the two give the same rendition as `apply` from the start.
size_t applyCommon(Attribute& rendition, std::span<const int> pars, std::span<const uint8_t> separators);

}  // namespace vantrelle::sgr
