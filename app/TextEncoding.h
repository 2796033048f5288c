#pragma once

#include <string_view>

namespace zorvel {

// Well-formed UTF-8 as RFC 3629 defines it: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUTF8(std::string_view bytes);

}  // namespace zorvel
