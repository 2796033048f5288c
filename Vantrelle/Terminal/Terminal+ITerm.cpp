// OSC 1337: the inline file transfer (File=key=value;...:base64) becomes an image request for
// the host; every other keyed command goes to the host unparsed.
#include <algorithm>
#include <map>
#include <string>

#include "Vantrelle/Terminal/OscText.h"
#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/Base64.h"
#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {
namespace {

using KeyValues = std::map<std::string, std::string>;

// Pairs up to the first segment that is empty, lacks "=" or is not UTF-8.
KeyValues parseKeyValues(std::span<const uint8_t> data) {
  KeyValues values;
  size_t from = 0;
  while (from < data.size()) {
    const auto rest = data.subspan(from);
    const size_t length = static_cast<size_t>(std::find(rest.begin(), rest.end(), uint8_t(';')) - rest.begin());
    const auto segment = rest.first(length);
    if (segment.empty()) break;
    const auto equals = std::find(segment.begin(), segment.end(), uint8_t('='));
    if (equals == segment.end()) break;
    const size_t split = static_cast<size_t>(equals - segment.begin());
    auto key = validUtf8(segment.first(split));
    auto value = validUtf8(segment.subspan(split + 1));
    if (!key || !value) break;
    values[*key] = *value;
    from += length + 1;
  }
  return values;
}

std::optional<int64_t> inRange(std::string_view text, int64_t low, int64_t high) {
  const auto value = osc::parseInteger(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

ImageSizeRequest parseDimension(const KeyValues& values, const std::string& key) {
  using Kind = ImageSizeRequest::Kind;
  const auto found = values.find(key);
  if (found == values.end() || found->second == "auto") return {};
  std::string_view value = found->second;
  std::optional<int64_t> parsed;
  Kind kind = Kind::cells;
  if (value.ends_with("%")) {
    kind = Kind::percent;
    parsed = inRange(value.substr(0, value.size() - 1), 1, 100);
  } else if (value.ends_with("px")) {
    kind = Kind::pixels;
    parsed = inRange(value.substr(0, value.size() - 2), 1, 4095);
  } else {
    parsed = inRange(value, 1, 199);
  }
  if (!parsed) return {};
  return ImageSizeRequest{kind, *parsed};
}

}  // namespace

void Terminal::osciTerm2(std::span<const uint8_t> data) {
  if (data.empty()) return;
  const auto equals = std::find(data.begin(), data.end(), uint8_t('='));
  if (equals == data.end()) return;
  const size_t keyEnd = static_cast<size_t>(equals - data.begin());
  const auto key = validUtf8(data.first(keyEnd));
  if (!key) return;
  auto handOver = [&] {
    if (tdel) tdel->iTermContent(*this, data);
  };
  if (*key != "File") return handOver();
  const auto colon = std::find(equals, data.end(), uint8_t(':'));
  if (colon == data.end()) return;
  const size_t colonAt = static_cast<size_t>(colon - data.begin());
  const KeyValues values = parseKeyValues(data.subspan(keyEnd + 1, colonAt - keyEnd - 1));
  const auto inlineValue = values.find("inline");
  if (inlineValue == values.end() || inlineValue->second != "1") return handOver();
  const auto image = base64DecodeStrict(data.subspan(colonAt + 1));
  if (!image) return;
  const ImageSizeRequest width = parseDimension(values, "width");
  const ImageSizeRequest height = parseDimension(values, "height");
  const auto aspect = values.find("preserveAspectRatio");
  const bool preserveAspectRatio = aspect == values.end() || aspect->second == "1";
  // An image starts in the column the cursor is shown in.
  endPendingWrap();
  if (tdel) tdel->createImage(*this, *image, width, height, preserveAspectRatio);
}

}  // namespace vantrelle
