#include "app/PanelText.h"

#include <unicode/brkiter.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include <memory>

namespace zorvel::PanelText {

namespace {

// Byte offsets of the grapheme boundaries of the text, from 0 to its size.
std::vector<size_t> graphemeBoundaries(const std::string& text) {
  std::vector<size_t> boundaries{0};
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  icu::LocalUTextPointer utext(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
  if (U_FAILURE(status) || !iterator) {
    for (size_t i = 1; i <= text.size(); ++i) boundaries.push_back(i);
    return boundaries;
  }
  iterator->setText(utext.getAlias(), status);
  for (int32_t next = iterator->next(); next != icu::BreakIterator::DONE; next = iterator->next()) {
    boundaries.push_back(static_cast<size_t>(next));
  }
  return boundaries;
}

std::string shortenedLine(const std::string& line, size_t threshold, size_t keep) {
  auto boundaries = graphemeBoundaries(line);
  size_t count = boundaries.size() - 1;
  if (count < threshold) return line;
  std::string prefix = line.substr(0, boundaries[std::min(keep, count)]);
  if (auto space = prefix.rfind(' '); space != std::string::npos) prefix.resize(space);
  return prefix + ellipsis;
}

std::string previewOf(const std::string& text, size_t maxLines) {
  auto lines = splitLines(text);
  bool dropped = lines.size() > maxLines;
  if (dropped) lines.resize(maxLines - 1);
  for (auto& line : lines) line = shortenedLine(line, 77, 75);
  if (dropped) lines.push_back(ellipsis);
  return joinLines(lines);
}

}  // namespace

std::string compactNumber(std::int64_t value) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = icu::Locale::getDefault();
  // Without a configured locale ICU falls back to POSIX, which has no grouping.
  if (std::string(locale.getName()).find("POSIX") != std::string::npos || std::string(locale.getLanguage()).empty()) {
    locale = icu::Locale::getUS();
  }
  std::unique_ptr<icu::NumberFormat> formatter(icu::NumberFormat::createInstance(locale, status));
  if (U_FAILURE(status) || !formatter) return std::to_string(value);
  icu::UnicodeString formatted;
  formatter->format(static_cast<int64_t>(value), formatted);
  std::string text;
  formatted.toUTF8String(text);
  return text.empty() ? std::to_string(value) : text;
}

std::string truncatePreviewLine(const std::string& text, int limit) {
  auto boundaries = graphemeBoundaries(text);
  size_t count = boundaries.size() - 1;
  if (count <= static_cast<size_t>(std::max(limit, 0))) return text;
  return shortenedLine(text, 0, static_cast<size_t>(std::max(limit - 1, 1)));
}

std::string outputPreview(const std::optional<std::string>& text, int maxLines) {
  if (!text || text->empty()) return "No readable agent output has been reported yet.";
  return previewOf(*text, static_cast<size_t>(std::max(maxLines, 1)));
}

std::string shortStatusDetail(const std::string& text) {
  auto lines = splitLines(text);
  bool longer = lines.size() >= 3;
  if (lines.size() > 2) lines.resize(2);
  for (auto& line : lines) line = shortenedLine(line, 77, 75);
  if (longer) lines.push_back(ellipsis);
  return joinLines(lines);
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string joinLines(const std::vector<std::string>& lines, const std::string& separator) {
  std::string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) joined += separator;
    joined += lines[i];
  }
  return joined;
}

}  // namespace zorvel::PanelText
