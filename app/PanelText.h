#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvel {

// Text shaping shared by the placeholder and triage panels. Lengths count user-perceived
// characters, so a cut never splits an emoji or an accented letter.
namespace PanelText {

inline constexpr const char* ellipsis = "\xE2\x80\xA6";

// A count with the user's locale's grouping, 12,345 in English.
std::string compactNumber(std::int64_t value);

// At most `limit` characters are kept whole; longer lines keep max(limit - 1, 1) characters,
// cut before their last space, and end in an ellipsis.
std::string truncatePreviewLine(const std::string& text, int limit);

// At most `maxLines` lines of agent output; when more, the first maxLines - 1 and a line "…".
std::string outputPreview(const std::optional<std::string>& text, int maxLines);

// The first two lines of a status, each shortened like an output line; "…" marks a longer text.
std::string shortStatusDetail(const std::string& text);

std::vector<std::string> splitLines(const std::string& text);
std::string joinLines(const std::vector<std::string>& lines, const std::string& separator = "\n");

}  // namespace PanelText

}  // namespace zorvel
