#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrelle {

// Standard base64 (RFC 4648 alphabet), whole or in chunks, in one of two forms.
//
// Lenient, for payloads that arrive in chunks: bytes outside the alphabet (line breaks, spaces)
// are skipped; "=" padding may end the text. Unpadded text is accepted, since chunked senders often
// drop the padding; others pad each chunk on its own, so padding that ends a chunk closes its
// group and the next chunk starts a fresh one.
//
// Strict, for protocols that carry the text whole: the alphabet and its closing "=" fill, nothing
// else; any other byte (white space included), a length that is not a multiple of four or
// misplaced fill fails.
//
// Text that does not decode, or whose decoded size would pass the limit, fails, and the decoder
// then drops what it holds.
class Base64Decoder {
 public:
  enum class Form : uint8_t { lenient, strict };

  explicit Base64Decoder(size_t maxDecodedSize = SIZE_MAX, Form form = Form::lenient)
      : limit(maxDecodedSize), form(form) {}

  void append(std::span<const uint8_t> text);
  // The end of one chunk of a longer text.
  void endChunk();
  bool failed() const { return hasFailed; }
  // The decoded bytes, or nothing when the text did not decode. Ends the decoder.
  std::optional<std::vector<uint8_t>> finish();

 private:
  template <Form kForm>
  void appendSymbols(std::span<const uint8_t> text);
  bool groupIsBroken() const;
  void fail();

  size_t limit;
  Form form;
  std::vector<uint8_t> out;
  uint32_t accumulator = 0;
  int bits = 0;
  size_t symbols = 0;  // in the current group of four
  size_t padding = 0;
  bool hasFailed = false;
};

// One whole text, leniently.
std::optional<std::vector<uint8_t>> base64Decode(std::span<const uint8_t> text, size_t maxDecodedSize = SIZE_MAX);
// One whole text, strictly, as the clipboard and inline image controls carry it.
std::optional<std::vector<uint8_t>> base64DecodeStrict(std::span<const uint8_t> text, size_t maxDecodedSize = 8u << 20);
// Padded, no line breaks.
std::string base64Encode(std::span<const uint8_t> data);

}  // namespace vantrelle
