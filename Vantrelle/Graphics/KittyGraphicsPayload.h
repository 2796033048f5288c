#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Vantrelle/Graphics/KittyGraphicsControl.h"

namespace vantrelle {

// Limits on what a client may make the terminal hold.
inline constexpr int64_t kKittySizeLimit = 419'430'400;  // bytes, at every stage of loading
inline constexpr int64_t kKittyMaxDimension = 10'000;    // pixels, each side

// Image data as stored: an undecoded PNG file, or 8-bit RGBA pixels row by row from the top.
// The bytes are shared, so storing, placing and cropping never copy a large image by accident.
class KittyGraphicsPayload {
 public:
  enum class Kind { png, rgba };

  static KittyGraphicsPayload png(std::vector<uint8_t> data);
  static KittyGraphicsPayload rgba(std::vector<uint8_t> bytes, int width, int height);

  Kind kind() const { return kind_; }
  bool isPng() const { return kind_ == Kind::png; }
  std::span<const uint8_t> bytes() const { return *bytes_; }
  // Pixel size of RGBA data; 0 for PNG (ask `kittyPngPixelSize`).
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  KittyGraphicsPayload(Kind kind, std::vector<uint8_t> bytes, int width, int height);
  Kind kind_;
  std::shared_ptr<const std::vector<uint8_t>> bytes_;
  int width_;
  int height_;
};

// A command's payload as the loaders take it: the base64 text of a single command, or the bytes
// of a chunked transfer, decoded as its chunks arrived (nothing when they did not decode).
class KittyCommandPayload {
 public:
  KittyCommandPayload(std::span<const uint8_t> base64Text) : text(base64Text) {}  // NOLINT: implicit on purpose
  static KittyCommandPayload decoded(std::optional<std::vector<uint8_t>> bytes);

  // The payload's bytes, or nothing when it does not decode or holds more than `maxSize`. Decoded
  // bytes are handed over, not copied, so this is taken once.
  std::optional<std::vector<uint8_t>> take(size_t maxSize);

 private:
  std::span<const uint8_t> text;
  bool isDecoded = false;
  std::optional<std::vector<uint8_t>> bytes;
};

// A load gives a payload, or an error message, or (direct medium only) neither, which the caller
// answers as a bad payload.
struct KittyPayloadResult {
  std::optional<KittyGraphicsPayload> payload;
  std::optional<std::string_view> errorMessage;
};

struct KittyRgbaPixels {
  std::vector<uint8_t> bytes;
  int width = 0;
  int height = 0;
};

struct KittyPixelSize {
  int width = 0;
  int height = 0;
};

// Loading by medium (direct, file, temporary file, shared memory).
KittyPayloadResult loadKittyPayload(const KittyGraphicsControl& control, KittyCommandPayload payload);
std::optional<KittyGraphicsPayload> decodeKittyPayload(const KittyGraphicsControl& control,
                                                       KittyCommandPayload payload);
KittyPayloadResult loadKittyFilePayload(const KittyGraphicsControl& control, KittyCommandPayload payload,
                                        bool temporary);
KittyPayloadResult loadKittySharedMemoryPayload(const KittyGraphicsControl& control, KittyCommandPayload payload);

// Stages shared by the media.
std::optional<std::vector<uint8_t>> decompressKittyData(std::vector<uint8_t> data, std::optional<char> compression);
std::optional<std::vector<uint8_t>> decompressZlib(std::span<const uint8_t> data);
std::optional<KittyGraphicsPayload> decodeKittyPayloadData(const KittyGraphicsControl& control,
                                                           std::vector<uint8_t> rawData);
std::optional<int64_t> kittyExpectedDataSize(const KittyGraphicsControl& control);

// Image files.
bool validateKittyPngDimensions(std::span<const uint8_t> data);
// True when the whole file decodes, checked a row at a time without holding the pixels.
bool kittyPngDecodes(std::span<const uint8_t> data);
std::optional<KittyPixelSize> kittyPngPixelSize(std::span<const uint8_t> data);
std::optional<KittyRgbaPixels> decodePngToRgba(std::span<const uint8_t> data);

// File and shared-memory access, with the safety rules for what may be read and removed.
bool isKittyTempPath(std::string_view resolvedPath);
std::optional<std::vector<uint8_t>> readKittyFileData(const std::string& path, int64_t offset, int64_t size,
                                                      bool deleteAfterRead);
std::optional<std::vector<uint8_t>> readKittySharedMemory(const std::string& name, std::optional<int64_t> expectedSize,
                                                          int64_t offset, int64_t size);

}  // namespace vantrelle
