#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantrelle {

// Standard base64 (RFC 4648 alphabet) that may arrive in chunks. Bytes outside the alphabet (line
// breaks, spaces) are skipped; "=" padding may end the text. Unpadded text is accepted, since
// chunked senders often drop the padding; others pad each chunk on its own, so padding that ends
// a chunk closes its group and the next chunk starts a fresh one. Text that still does not decode,
// or whose decoded size would pass the limit, fails, and the decoder then drops what it holds.
class Base64Decoder {
 public:
  explicit Base64Decoder(size_t maxDecodedSize = SIZE_MAX) : limit(maxDecodedSize) {}

  void append(std::span<const uint8_t> text);
  // The end of one chunk of a longer text.
  void endChunk();
  bool failed() const { return hasFailed; }
  // The decoded bytes, or nothing when the text did not decode. Ends the decoder.
  std::optional<std::vector<uint8_t>> finish();

 private:
  bool groupIsBroken() const;
  void fail();

  size_t limit;
  std::vector<uint8_t> out;
  uint32_t accumulator = 0;
  int bits = 0;
  size_t symbols = 0;  // in the current group of four
  size_t padding = 0;
  bool hasFailed = false;
};

// One whole text.
std::optional<std::vector<uint8_t>> base64Decode(std::span<const uint8_t> text, size_t maxDecodedSize = SIZE_MAX);

}  // namespace vantrelle
