#include <zlib.h>

#include <algorithm>

#include "Vantrelle/Graphics/KittyGraphicsPayload.h"

namespace vantrelle {
namespace {

constexpr size_t kInflateStep = 65'536;

// True when the first two bytes are a valid RFC 1950 header with the DEFLATE method.
bool hasZlibHeader(std::span<const uint8_t> data) {
  if (data.size() < 2) return false;
  return (data[0] & 0x0F) == 8 && (data[0] >> 4) <= 7 && ((data[0] << 8) | data[1]) % 31 == 0;
}

// Inflates the whole input with the given window bits. Fails on corrupt data, on output past the
// size limit (checked every step, so a small bomb never grows the buffer beyond it), and on input
// that ends before the stream does: there is never more input to wait for.
std::optional<std::vector<uint8_t>> inflateAll(std::span<const uint8_t> data, int windowBits) {
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) return std::nullopt;
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = uInt(std::min<size_t>(data.size(), UINT32_MAX));
  std::vector<uint8_t> out;
  int status = Z_OK;
  while (status == Z_OK) {
    if (int64_t(out.size()) >= kKittySizeLimit + 1) break;
    size_t step = std::min<size_t>(kInflateStep, size_t(kKittySizeLimit + 1) - out.size());
    size_t used = out.size();
    out.resize(used + step);
    stream.next_out = out.data() + used;
    stream.avail_out = uInt(step);
    status = inflate(&stream, Z_NO_FLUSH);
    out.resize(used + step - stream.avail_out);
    // No progress with all input consumed: the stream was cut short.
    if (status == Z_BUF_ERROR || (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)) break;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END || int64_t(out.size()) > kKittySizeLimit) return std::nullopt;
  return out;
}

}  // namespace

// Clients send o=z data as zlib streams; raw DEFLATE is accepted too, for senders that strip the
// header.
std::optional<std::vector<uint8_t>> decompressZlib(std::span<const uint8_t> data) {
  if (hasZlibHeader(data)) {
    if (auto out = inflateAll(data, 15)) return out;
  }
  return inflateAll(data, -15);
}

}  // namespace vantrelle
