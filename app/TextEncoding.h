#pragma once

#include <string_view>

#include "Vantrelle/Text/Utf8.h"

namespace zorvel {

// Well-formed UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing past U+10FFFF.
// The engine's rule, under the name the application uses.
inline bool isValidUTF8(std::string_view bytes) { return vantrelle::isValidUtf8(bytes); }

}  // namespace zorvel
