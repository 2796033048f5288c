#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantrelle {

// Standard base64 (RFC 4648 alphabet). Bytes outside the alphabet (line breaks, spaces) are
// skipped; "=" padding may end the text. Text that still does not decode, or whose decoded size
// would pass `maxDecodedSize`, gives nothing. Unpadded text is accepted, since chunked senders
// often drop the padding.
std::optional<std::vector<uint8_t>> base64Decode(std::span<const uint8_t> text, size_t maxDecodedSize = SIZE_MAX);

}  // namespace vantrelle
