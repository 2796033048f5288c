#include "Vantrelle/Graphics/KittyGraphicsReplies.h"

namespace vantrelle {

std::string kittyOkBody(std::optional<uint32_t> imageId, std::optional<uint32_t> imageNumber,
                        std::optional<uint32_t> placementId) {
  std::string body = "G";
  bool first = true;
  auto add = [&](const char* key, std::optional<uint32_t> value) {
    if (!value) return;
    if (!first) body += ',';
    body += key;
    body += std::to_string(*value);
    first = false;
  };
  add("i=", imageId);
  add("I=", imageNumber);
  add("p=", placementId);
  body += ";OK";
  return body;
}

std::string kittyErrorBody(const KittyGraphicsControl& control, std::string_view message) {
  std::string body = "G";
  if (control.imageId) {
    body += "i=" + std::to_string(*control.imageId);
  } else if (control.imageNumber) {
    body += "I=" + std::to_string(*control.imageNumber);
  }
  body += ';';
  body += message;
  return body;
}

}  // namespace vantrelle
