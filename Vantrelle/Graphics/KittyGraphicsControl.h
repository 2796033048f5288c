#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantrelle {

// The control data of one Kitty graphics command (the key=value list before the ";"). Numbers are
// clamped to +/- 2^32 as they are parsed, so every sum or product of a few of them stays far from
// the 64-bit limits whatever a client sends.
struct KittyGraphicsControl {
  char action = 't';
  int64_t suppressResponses = 0;
  int64_t format = 32;
  char transmission = 'd';
  int64_t width = 0;
  int64_t height = 0;
  int64_t cropX = 0;
  int64_t cropY = 0;
  int64_t cropWidth = 0;
  int64_t cropHeight = 0;
  int64_t dataSize = 0;
  int64_t dataOffset = 0;
  std::optional<uint32_t> imageId;
  std::optional<uint32_t> imageNumber;
  std::optional<uint32_t> placementId;
  std::optional<uint32_t> parentImageId;
  std::optional<uint32_t> parentPlacementId;
  int64_t offsetH = 0;
  int64_t offsetV = 0;
  int64_t pixelOffsetX = 0;
  int64_t pixelOffsetY = 0;
  int64_t unicodePlaceholder = 0;
  int64_t zIndex = 0;
  int64_t more = 0;
  std::optional<char> compression;
  int64_t columns = 0;
  int64_t rows = 0;
  int64_t cursorPolicy = 0;
  std::optional<char> deleteMode;
};

struct KittyGraphicsCommand {
  KittyGraphicsControl control;
  std::span<const uint8_t> payload;  // the bytes after the first ";", empty when there is none
};

// Splits an APC "G" string (without the "G") into its control data and payload. Malformed items
// are skipped and malformed values take their defaults; parsing never fails.
KittyGraphicsCommand parseKittyGraphicsControl(std::span<const uint8_t> bytes);

}  // namespace vantrelle
