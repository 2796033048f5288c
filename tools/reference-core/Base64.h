#pragma once
// Base64 in the two alphabets the runtime uses: standard with padding (the bootstrap's signing
// key) and URL-safe without padding (token parts).
#include <optional>
#include <string>
#include <string_view>

namespace refcore {

std::string base64Encode(std::string_view bytes);
std::string base64URLEncode(std::string_view bytes);
// Strict decoders: any character outside the alphabet, or a length no encoder produces, fails.
std::optional<std::string> base64Decode(std::string_view text);
std::optional<std::string> base64URLDecode(std::string_view text);

}  // namespace refcore
