// Turning buffer rows back into text: one row, a range of the active buffer, a whole buffer.
#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

bool isWideTail(const BufferLine& line, int col) { return line[col].code == 0 && col > 0 && line[col - 1].width == 2; }

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};

}  // namespace

int64_t Terminal::shownLength(const BufferLine& line) {
  for (int c = std::min(line.getTrimmedLength(), line.count()) - 1; c >= 0; --c) {
    const CharData& cell = line[c];
    if (cell.code != 0 && !cell.isConcealed()) return c + std::max<int>(cell.width, 0);
  }
  return 0;
}

std::string Terminal::translateBufferLineToString(Buffer& source, int64_t row, int64_t start, int64_t end) {
  auto& lines = source.lines();
  if (row < 0 || row >= lines.count()) return {};
  const BufferLine& line = *lines[static_cast<int>(row)];
  if (end == -1) end = line.count();
  const int64_t stop = std::min<int64_t>(shownLength(line), end);
  std::string text;
  for (int64_t c = std::max<int64_t>(start, 0); c < stop; ++c) {
    const int col = static_cast<int>(c);
    if (isWideTail(line, col)) continue;
    const CharData& cell = line[col];
    if (cell.isConcealed()) {
      text.append(size_t(std::max<int>(cell.width, 1)), ' ');
      continue;
    }
    text += cell.code == 0 ? std::string(1, ' ') : character(cell.code);
    if (cell.width == 2 && c + 1 < stop && line[col + 1].code == 0) ++c;
  }
  std::replace(text.begin(), text.end(), '\0', ' ');
  return text;
}

std::string Terminal::getText(Position start, Position end) {
  Position first = start, last = end;
  if (Position::compare(last, first) == Position::compareResult::before) std::swap(first, last);
  const int64_t count = buffer->lines().count();
  if (first == last || first.row < 0 || first.row >= count) return {};
  last.row = std::min(last.row, count - 1);
  std::string text;
  for (const Line& line : _getSelectedLines(first, last, *buffer)) {
    for (const LineFragment& fragment : line.fragments) text += fragment.text.value_or("");
  }
  return text;
}

// Combined characters come from the character map and a wide character's second cell adds
// nothing; a character the encoding lacks becomes its substitute instead of losing the row.
std::optional<Bytes> Terminal::getBufferAsData(BufferKind kind, const std::string& encoding) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open(encoding.c_str(), &status));
  if (U_FAILURE(status) || !converter) return std::nullopt;
  UErrorCode substStatus = U_ZERO_ERROR;
  ucnv_setSubstChars(converter.get(), "?", 1, &substStatus);  // where "?" is not one byte, the default stays
  Buffer& source = kind == BufferKind::normal ? *normalBuffer : kind == BufferKind::alt ? *altBuffer : *buffer;
  auto& lines = source.lines();
  Bytes data;
  std::vector<char> encoded;
  for (int row = 0; row < lines.count(); ++row) {
    const BufferLine& line = *lines[row];
    int extent = 0;
    for (int c = line.count() - 1; c >= 0; --c) {
      if (line[c].code != 0) {
        extent = std::min(line.count(), c + std::max<int>(line[c].width, 1));
        break;
      }
    }
    icu::UnicodeString text;
    for (int c = 0; c < extent; ++c) {
      if (isWideTail(line, c)) continue;
      for (char32_t scalar : scalars(line[c].code)) text.append(static_cast<UChar32>(scalar));
    }
    status = U_ZERO_ERROR;
    const int32_t needed = text.extract(nullptr, 0, converter.get(), status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
    encoded.resize(static_cast<size_t>(needed) + 1);
    status = U_ZERO_ERROR;
    const int32_t written = text.extract(encoded.data(), needed + 1, converter.get(), status);
    if (U_FAILURE(status)) return std::nullopt;
    data.insert(data.end(), encoded.begin(), encoded.begin() + written);
    data.push_back('\n');
  }
  return data;
}

}  // namespace vantrelle
