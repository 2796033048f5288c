#pragma once

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Builders of test inputs for the graphics protocol: base64 text, PNG files, zlib streams.
namespace kittytest {

inline std::string base64(const std::vector<uint8_t>& data) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t chunk = uint32_t(data[i]) << 16;
    if (i + 1 < data.size()) chunk |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < data.size()) chunk |= data[i + 2];
    out += alphabet[(chunk >> 18) & 63];
    out += alphabet[(chunk >> 12) & 63];
    out += i + 1 < data.size() ? alphabet[(chunk >> 6) & 63] : '=';
    out += i + 2 < data.size() ? alphabet[chunk & 63] : '=';
  }
  return out;
}

inline std::string base64(const std::string& text) { return base64(std::vector<uint8_t>(text.begin(), text.end())); }

inline std::vector<uint8_t> bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// An RGBA PNG of the given size; every pixel gets `pixel` (4 bytes).
inline std::vector<uint8_t> makePng(int width, int height, std::vector<uint8_t> pixel = {255, 0, 0, 255}) {
  std::vector<uint8_t> pixels;
  for (int i = 0; i < width * height; ++i) pixels.insert(pixels.end(), pixel.begin(), pixel.end());
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::vector<uint8_t> out(size);
  png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr);
  out.resize(size);
  return out;
}

// A PNG header that claims the given size, with a valid IHDR checksum and no image data.
inline std::vector<uint8_t> pngHeaderClaiming(uint32_t width, uint32_t height) {
  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
  std::vector<uint8_t> chunk{'I', 'H', 'D', 'R'};
  for (uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(uint8_t(v >> shift));
  }
  chunk.insert(chunk.end(), {8, 6, 0, 0, 0});
  uint32_t crc = uint32_t(crc32(0, chunk.data(), uInt(chunk.size())));
  out.insert(out.end(), chunk.begin(), chunk.end());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(crc >> shift));
  return out;
}

// A zlib stream (with header) or, when `raw`, bare DEFLATE data.
inline std::vector<uint8_t> deflateData(const std::vector<uint8_t>& data, bool raw) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, raw ? -15 : 15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&stream, uLong(data.size())));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = uInt(data.size());
  stream.next_out = out.data();
  stream.avail_out = uInt(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace kittytest
