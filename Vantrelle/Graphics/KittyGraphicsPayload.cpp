#include "Vantrelle/Graphics/KittyGraphicsPayload.h"

#include <utility>

#include "Vantrelle/Graphics/KittyGraphicsReplies.h"
#include "Vantrelle/Text/Base64.h"

namespace vantrelle {

KittyGraphicsPayload::KittyGraphicsPayload(Kind kind, std::vector<uint8_t> bytes, int width, int height)
    : kind_(kind),
      bytes_(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))),
      width_(width),
      height_(height) {}

KittyGraphicsPayload KittyGraphicsPayload::png(std::vector<uint8_t> data) {
  return KittyGraphicsPayload(Kind::png, std::move(data), 0, 0);
}

KittyGraphicsPayload KittyGraphicsPayload::rgba(std::vector<uint8_t> bytes, int width, int height) {
  return KittyGraphicsPayload(Kind::rgba, std::move(bytes), width, height);
}

KittyCommandPayload KittyCommandPayload::decoded(std::optional<std::vector<uint8_t>> bytes) {
  KittyCommandPayload payload({});
  payload.isDecoded = true;
  payload.bytes = std::move(bytes);
  return payload;
}

std::optional<std::vector<uint8_t>> KittyCommandPayload::take(size_t maxSize) {
  if (!isDecoded) return base64Decode(text, maxSize);
  if (bytes && bytes->size() > maxSize) return std::nullopt;
  return std::exchange(bytes, std::nullopt);
}

KittyPayloadResult loadKittyPayload(const KittyGraphicsControl& control, KittyCommandPayload payload) {
  switch (control.transmission) {
    case 'd': {
      auto decoded = decodeKittyPayload(control, std::move(payload));
      if (!decoded) return {std::nullopt, KittyMessage::badPayload};
      return {std::move(decoded), std::nullopt};
    }
    case 'f':
      return loadKittyFilePayload(control, std::move(payload), false);
    case 't':
      return loadKittyFilePayload(control, std::move(payload), true);
    case 's':
      return loadKittySharedMemoryPayload(control, std::move(payload));
    default:
      return {std::nullopt, KittyMessage::unsupportedTransmission};
  }
}

std::optional<KittyGraphicsPayload> decodeKittyPayload(const KittyGraphicsControl& control,
                                                       KittyCommandPayload payload) {
  auto data = payload.take(size_t(kKittySizeLimit));
  if (!data || data->empty()) return std::nullopt;
  auto inflated = decompressKittyData(std::move(*data), control.compression);
  if (!inflated) return std::nullopt;
  return decodeKittyPayloadData(control, std::move(*inflated));
}

std::optional<std::vector<uint8_t>> decompressKittyData(std::vector<uint8_t> data, std::optional<char> compression) {
  if (!compression) return data;
  if (*compression != 'z') return std::nullopt;
  return decompressZlib(data);
}

std::optional<int64_t> kittyExpectedDataSize(const KittyGraphicsControl& control) {
  auto inRange = [](int64_t side) { return side >= 1 && side <= kKittyMaxDimension; };
  if (!inRange(control.width) || !inRange(control.height)) return std::nullopt;
  if (control.format == 32) return control.width * control.height * 4;
  if (control.format == 24) return control.width * control.height * 3;
  return std::nullopt;
}

std::optional<KittyGraphicsPayload> decodeKittyPayloadData(const KittyGraphicsControl& control,
                                                           std::vector<uint8_t> rawData) {
  if (int64_t(rawData.size()) > kKittySizeLimit) return std::nullopt;
  if (control.format == 100) {
    // Data that cannot be decoded would show nothing, so it is refused here rather than
    // answered OK and dropped by the view.
    if (!kittyPngDecodes(rawData)) return std::nullopt;
    return KittyGraphicsPayload::png(std::move(rawData));
  }
  auto expected = kittyExpectedDataSize(control);
  if (!expected || int64_t(rawData.size()) != *expected) return std::nullopt;
  int width = int(control.width);
  int height = int(control.height);
  if (control.format == 32) return KittyGraphicsPayload::rgba(std::move(rawData), width, height);
  std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
  for (size_t pixel = 0, count = size_t(width) * size_t(height); pixel < count; ++pixel) {
    rgba[pixel * 4] = rawData[pixel * 3];
    rgba[pixel * 4 + 1] = rawData[pixel * 3 + 1];
    rgba[pixel * 4 + 2] = rawData[pixel * 3 + 2];
    rgba[pixel * 4 + 3] = 255;
  }
  return KittyGraphicsPayload::rgba(std::move(rgba), width, height);
}

}  // namespace vantrelle
