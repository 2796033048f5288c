#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Vantrelle/Graphics/KittyGraphicsControl.h"

namespace vantrelle {

// The fixed texts of the protocol's error replies.
namespace KittyMessage {
inline constexpr std::string_view unsupportedAction = "EINVAL: unsupported action";
inline constexpr std::string_view badPayload = "EINVAL: bad payload";
inline constexpr std::string_view idAndNumber = "EINVAL: i and I are mutually exclusive";
inline constexpr std::string_view unsupportedTransmission = "ENOTSUP: unsupported transmission";
inline constexpr std::string_view badPath = "EINVAL: bad path";
inline constexpr std::string_view badTempPath = "EINVAL: bad temp path";
inline constexpr std::string_view imageNotFound = "ENOENT: image not found";
inline constexpr std::string_view placementOutOfRange = "EINVAL: placement out of range";
inline constexpr std::string_view cannotCropPng = "ENOTSUP: cannot crop png";
inline constexpr std::string_view badCrop = "EINVAL: bad crop";
inline constexpr std::string_view virtualWithParent = "EINVAL: virtual placement cannot refer to parent";
inline constexpr std::string_view parentNotFound = "ENOPARENT: parent placement not found";
inline constexpr std::string_view parentInOtherBuffer = "ENOPARENT: parent placement not in current buffer";
inline constexpr std::string_view missingImageId = "EINVAL: missing image id";
inline constexpr std::string_view missingImageNumber = "EINVAL: missing image number";
inline constexpr std::string_view missingCellPosition = "EINVAL: missing cell position";
inline constexpr std::string_view missingColumn = "EINVAL: missing column";
inline constexpr std::string_view missingRow = "EINVAL: missing row";
inline constexpr std::string_view missingIdRange = "EINVAL: missing id range";
inline constexpr std::string_view unsupportedDelete = "EINVAL: unsupported delete";
}  // namespace KittyMessage

// Reply bodies, between the APC introducer and the string terminator.
std::string kittyOkBody(std::optional<uint32_t> imageId, std::optional<uint32_t> imageNumber,
                        std::optional<uint32_t> placementId);
std::string kittyErrorBody(const KittyGraphicsControl& control, std::string_view message);

}  // namespace vantrelle
