// The link under a cell: OSC 8 hyperlinks carried by payload codes, and URLs or paths found by
// a regular expression in the visible text, joined across soft wraps and across rows that only
// look like a broken-up URL.
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <any>
#include <map>
#include <memory>

#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {
namespace {

constexpr char16_t kImplicitLinkPattern[] =
    uR"RE((?:https?://|mailto:|ftp://|file:|ssh:|git://|ssh://|tel:|magnet:|ipfs://|ipns://|gemini://|gopher://|news:)(?:(?:\[[:0-9a-fA-F]+(?:[:0-9a-fA-F]*)+\](?::[0-9]+)?)|[\w\-.~:/?#@!$&*+,;=%]+(?:[\(\[]\w*[\)\]])?)+(?<![,.])|(?:\.\.\/|\.\/|(?<!\w)~\/|(?:[\w][\w\-.]*\/)*(?<!\w)\$[A-Za-z_]\w*\/|\.[\w][\w\-.]*\/|(?<![\w~\/])\/(?!\/))(?:(?=[\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?|(?![\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]+)*(?<!:)(?: +(?= *$))?)|(?=[\w\-.~:\/?#@!$&*+;=%]*\.)(?<!\w)[\w][\w\-.]*\/[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?)RE";
constexpr std::u32string_view kContinuationCharacters =
    U"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~:/?#[]@!$&*+,;=%()";

// Bounds on untrusted text: the seam test looks this far either side of a row break, a lookup
// joins at most this many rows either side of the asked one and matches inside a window of this
// many characters around the asked cell, and every match runs under an ICU time limit.
constexpr int64_t kSeamColumns = 96;
constexpr int64_t kMaxGroupRows = 64;
constexpr int32_t kMatchWindow = 2048;
constexpr int32_t kRegexTimeLimit = 100;

const icu::RegexPattern* implicitLinkRegex() {
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    UParseError error;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(icu::UnicodeString(kImplicitLinkPattern), 0, error, status));
    if (U_FAILURE(status)) compiled.reset();
    return compiled;
  }();
  return pattern.get();
}

std::unique_ptr<icu::RegexMatcher> matcherFor(const icu::UnicodeString& text) {
  const icu::RegexPattern* pattern = implicitLinkRegex();
  if (!pattern) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
  if (U_FAILURE(status)) return nullptr;
  matcher->setTimeLimit(kRegexTimeLimit, status);
  return matcher;
}

int64_t rowWidth(const BufferLine& line, int cols) { return std::min(line.count(), cols); }

bool isSpacer(const BufferLine& line, int64_t col) {
  return line[static_cast<int>(col)].code == 0 && col > 0 && line[static_cast<int>(col - 1)].width == 2;
}

// A hidden cell (SGR 8) reads as the blank it shows: a link never takes in text the user cannot
// see, nor hands it to another program.
int32_t shownCode(const CharData& cell) { return cell.isConcealed() ? ' ' : cell.code; }

bool isWhitespace(const std::u32string& character) {
  return !character.empty() && u_isUWhiteSpace(static_cast<UChar32>(character[0]));
}

void appendCharacter(icu::UnicodeString& text, const std::u32string& character) {
  for (char32_t c : character) text.append(static_cast<UChar32>(c == 0 ? U' ' : c));
}

bool lastCharacterIsDollar(const icu::UnicodeString& text, int32_t end) {
  return end > 0 && text.charAt(end - 1) == u'$';
}

}  // namespace

std::optional<std::string> Terminal::link(LinkLookupLocation at, LinkLookupMode mode) {
  const auto position = resolveLinkLocation(at, *buffer);
  if (!position) return std::nullopt;
  if (auto found = explicitLinkMatch(*position, *buffer)) return found->text;
  if (mode != LinkLookupMode::explicitAndImplicit) return std::nullopt;
  if (auto found = implicitLinkMatch(*position, *buffer)) return found->text;
  return std::nullopt;
}

std::optional<Position> Terminal::resolveLinkLocation(LinkLookupLocation location, Buffer& in) {
  Position at = location.position;
  if (location.kind == LinkLookupLocation::Kind::screen) at.row += in.yDisp;
  const int64_t count = in.lines().count();
  if (count == 0) return std::nullopt;
  return Position(std::clamp<int64_t>(at.col, 0, cols - 1), std::clamp<int64_t>(at.row, 0, count - 1));
}

std::optional<uint16_t> Terminal::payloadCode(Position at, Buffer& in) {
  if (at.row < 0 || at.row >= in.lines().count()) return std::nullopt;
  const BufferLine& line = *in.lines()[static_cast<int>(at.row)];
  const int64_t width = rowWidth(line, cols);
  if (width < 1) return std::nullopt;
  const int col = static_cast<int>(std::clamp<int64_t>(at.col, 0, width - 1));
  if (line[col].payload.code != 0) return line[col].payload.code;
  if (isSpacer(line, col) && line[col - 1].payload.code != 0) return line[col - 1].payload.code;
  return std::nullopt;
}

std::optional<LinkMatch> Terminal::explicitLinkMatch(Position at, Buffer& in) {
  const auto code = payloadCode(at, in);
  if (!code) return std::nullopt;
  const BufferLine& line = *in.lines()[static_cast<int>(at.row)];
  const int64_t width = rowWidth(line, cols);
  if (width < 1) return std::nullopt;
  const int64_t asked = std::clamp<int64_t>(at.col, 0, width - 1);
  auto sameCode = [&](int64_t c) { return line[static_cast<int>(c)].payload.code == *code; };
  int64_t start = asked;
  while (start > 0 && sameCode(start - 1)) --start;
  int64_t end = asked;
  while (end < width && sameCode(end)) ++end;
  if (end <= start) return std::nullopt;
  auto payloadAt = [&](int64_t c) -> const std::string* {
    const std::any* value = line[static_cast<int>(std::clamp<int64_t>(c, 0, line.count() - 1))].getPayload();
    return value ? std::any_cast<std::string>(value) : nullptr;
  };
  const std::string* payload = payloadAt(asked);
  if (!payload) payload = payloadAt(asked - 1);
  if (!payload) return std::nullopt;
  auto url = parseHyperlinkPayload(*payload);
  if (!url) return std::nullopt;
  LinkMatch match;
  match.text = std::move(*url);
  match.row = at.row;
  match.range = {start, end};
  match.isExplicit = true;
  match.rowRanges = {{at.row, {start, end}}};
  return match;
}

std::string Terminal::implicitLineSegmentText(const BufferLine& line, int64_t startCol, int64_t endCol) const {
  icu::UnicodeString text;
  for (int64_t c = std::max<int64_t>(startCol, 0); c < std::min<int64_t>(endCol, line.count()); ++c) {
    if (isSpacer(line, c)) continue;
    appendCharacter(text, scalars(shownCode(line[static_cast<int>(c)])));
  }
  return toUtf8(text);
}

std::optional<LinkRowEdgeInfo> Terminal::linkRowEdgeInfo(int64_t row, Buffer& in) {
  if (row < 0 || row >= in.lines().count()) return std::nullopt;
  const BufferLine& line = *in.lines()[static_cast<int>(row)];
  const int64_t width = rowWidth(line, cols);
  const int64_t trimmed = shownLength(line);
  if (width < 1 || trimmed < 1) return std::nullopt;
  const int64_t limit = std::min(trimmed, width);
  // The visible character at a column: a wide character's second cell stands for it, any other
  // empty cell for nothing.
  auto visible = [&](int64_t c) -> std::optional<std::u32string> {
    const CharData& cell = line[static_cast<int>(c)];
    std::u32string character;
    if (cell.code != 0) {
      character = scalars(shownCode(cell));
    } else if (isSpacer(line, c)) {
      character = scalars(shownCode(line[static_cast<int>(c - 1)]));
    } else {
      return std::nullopt;
    }
    if (character.size() == 1 && character[0] == 0) return std::nullopt;
    if (isWhitespace(character)) return std::nullopt;
    return character;
  };
  LinkRowEdgeInfo info;
  int64_t first = 0;
  while (first < limit && !visible(first)) ++first;
  if (first >= limit) return std::nullopt;
  info.firstCol = first;
  info.firstCharacter = *visible(first);
  int64_t last = limit - 1;
  while (last >= first && !visible(last)) --last;
  if (last < first) return std::nullopt;
  info.lastCol = last;
  info.lastCharacter = *visible(last);
  return info;
}

bool Terminal::seamContainsImplicitLink(int64_t upper, int64_t lower, int64_t upperLastCol, int64_t lowerFirstCol,
                                        Buffer& in) {
  const int64_t count = in.lines().count();
  if (!implicitLinkRegex() || upper < 0 || upper >= count || lower < 0 || lower >= count) return false;
  const BufferLine& upperLine = *in.lines()[static_cast<int>(upper)];
  const BufferLine& lowerLine = *in.lines()[static_cast<int>(lower)];
  const int64_t end = std::min(upperLastCol + 1, rowWidth(upperLine, cols));
  if (end < 1) return false;
  const std::string upperText = implicitLineSegmentText(upperLine, end >= kSeamColumns ? end - kSeamColumns : 0, end);
  if (upperText.empty()) return false;
  const int64_t limit = std::min<int64_t>(shownLength(lowerLine), rowWidth(lowerLine, cols));
  if (lowerFirstCol >= limit) return false;
  const std::string lowerText =
      implicitLineSegmentText(lowerLine, lowerFirstCol, std::min(lowerFirstCol + kSeamColumns, limit));
  if (lowerText.empty()) return false;
  const icu::UnicodeString upperUnits = icu::UnicodeString::fromUTF8(upperText);
  const icu::UnicodeString joined = upperUnits + icu::UnicodeString::fromUTF8(lowerText);
  const int32_t seam = upperUnits.length();
  auto matcher = matcherFor(joined);
  if (!matcher) return false;
  UErrorCode status = U_ZERO_ERROR;
  while (matcher->find(status) && U_SUCCESS(status)) {
    const int32_t start = matcher->start(status);
    const int32_t stop = matcher->end(status);
    if (start < seam && seam < stop && !lastCharacterIsDollar(joined, stop)) return true;
  }
  return false;
}

bool Terminal::canJoinImplicitRows(int64_t upper, int64_t lower, Buffer& in) {
  const auto upperEdge = linkRowEdgeInfo(upper, in);
  const auto lowerEdge = linkRowEdgeInfo(lower, in);
  if (!upperEdge || !lowerEdge) return false;
  const int64_t margin = cols > 9 ? cols / 5 : 2;
  if (upperEdge->lastCol < cols - margin) return false;
  auto continues = [](const std::u32string& character) {
    return std::all_of(character.begin(), character.end(),
                       [](char32_t c) { return kContinuationCharacters.find(c) != std::u32string_view::npos; });
  };
  if (!continues(upperEdge->lastCharacter) || !continues(lowerEdge->firstCharacter)) return false;
  return seamContainsImplicitLink(upper, lower, upperEdge->lastCol, lowerEdge->firstCol, in);
}

std::optional<std::pair<int64_t, int64_t>> Terminal::heuristicImplicitGroup(int64_t around, Buffer& in) {
  const int64_t count = in.lines().count();
  int64_t top = around;
  while (top > 0 && around - top < kMaxGroupRows && canJoinImplicitRows(top - 1, top, in)) --top;
  int64_t bottom = around;
  while (bottom + 1 < count && bottom - around < kMaxGroupRows && canJoinImplicitRows(bottom, bottom + 1, in)) ++bottom;
  if (top == around && bottom == around) return std::nullopt;
  return std::make_pair(top, bottom);
}

bool Terminal::isImplicitContinuationRow(int64_t row, int64_t startRow, Buffer& in) {
  if (row <= startRow) return false;
  if (in.lines()[static_cast<int>(row)]->isWrapped()) return true;
  return canJoinImplicitRows(row - 1, row, in);
}

std::optional<ImplicitLineMap> Terminal::buildImplicitLineMap(Position at, Buffer& in) {
  auto& lines = in.lines();
  const int64_t count = lines.count();
  if (at.row < 0 || at.row >= count) return std::nullopt;
  ImplicitLineMap map;
  map.row = at.row;
  {
    const BufferLine& line = *lines[static_cast<int>(at.row)];
    const int64_t width = rowWidth(line, cols);
    map.col = std::clamp<int64_t>(at.col, 0, std::max<int64_t>(width - 1, 0));
    if (width > 0 && isSpacer(line, map.col)) map.col -= 1;
  }
  int64_t startRow = at.row;
  while (startRow > 0 && at.row - startRow < kMaxGroupRows && lines[static_cast<int>(startRow)]->isWrapped())
    --startRow;
  int64_t endRow = at.row;
  while (endRow + 1 < count && endRow - at.row < kMaxGroupRows && lines[static_cast<int>(endRow + 1)]->isWrapped())
    ++endRow;
  if (startRow == at.row && endRow == at.row) {
    if (auto group = heuristicImplicitGroup(at.row, in)) std::tie(startRow, endRow) = *group;
  }
  icu::UnicodeString text;
  bool inside = false;
  for (int64_t row = startRow; row <= endRow; ++row) {
    const BufferLine& line = *lines[static_cast<int>(row)];
    const int64_t width = rowWidth(line, cols);
    if (width < 1) continue;
    const int64_t contentEnd = std::min<int64_t>(shownLength(line), width);
    if (contentEnd <= 0) continue;
    int64_t segmentStart = 0;
    if (isImplicitContinuationRow(row, startRow, in)) {
      while (segmentStart < contentEnd && (line[static_cast<int>(segmentStart)].code == 0 ||
                                           isWhitespace(scalars(shownCode(line[static_cast<int>(segmentStart)])))))
        ++segmentStart;
      if (segmentStart >= contentEnd) continue;
    }
    for (int64_t c = segmentStart; c < contentEnd; ++c) {
      if (isSpacer(line, c)) continue;
      const CharData& cell = line[static_cast<int>(c)];
      if (row == at.row && c <= map.col && map.col < c + std::max<int>(cell.width, 1)) {
        map.askedIndex = static_cast<int64_t>(map.cells.size());
      }
      appendCharacter(text, scalars(shownCode(cell)));
      map.cells.push_back({row, c, std::max<int64_t>(cell.width, 1)});
    }
    if (row == at.row && map.col >= segmentStart && map.col < contentEnd) inside = true;
  }
  if (text.isEmpty() || map.cells.empty() || !inside) return std::nullopt;
  map.text = toUtf8(text);
  return map;
}

std::optional<LinkMatch> Terminal::implicitLinkMatch(Position at, Buffer& in) {
  const auto map = buildImplicitLineMap(at, in);
  if (!map) return std::nullopt;
  // One UTF-16 run per cell, so a match converts back to cells exactly.
  icu::UnicodeString text;
  std::vector<int32_t> starts;
  starts.reserve(map->cells.size() + 1);
  for (const ImplicitCellRef& cell : map->cells) {
    starts.push_back(text.length());
    const BufferLine& line = *in.lines()[static_cast<int>(cell.row)];
    appendCharacter(text, scalars(shownCode(line[static_cast<int>(cell.col)])));
  }
  starts.push_back(text.length());
  auto matcher = matcherFor(text);
  if (!matcher) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  const int32_t asked = starts[static_cast<size_t>(map->askedIndex)];
  if (text.length() > kMatchWindow) {
    // Look-around still sees past the window; only the search itself is bounded.
    matcher->useTransparentBounds(true);
    matcher->useAnchoringBounds(false);
    const int32_t from = std::max(0, asked - kMatchWindow / 2);
    matcher->region(from, std::min(text.length(), from + kMatchWindow), status);
  }
  const auto cellCount = static_cast<int64_t>(map->cells.size());
  while (matcher->find(status) && U_SUCCESS(status)) {
    const int32_t matchStart = matcher->start(status);
    const int32_t matchEnd = matcher->end(status);
    if (matchEnd <= matchStart || lastCharacterIsDollar(text, matchEnd)) continue;
    const int64_t first = std::upper_bound(starts.begin(), starts.end() - 1, matchStart) - starts.begin() - 1;
    const int64_t last =
        std::min<int64_t>(std::lower_bound(starts.begin(), starts.end(), matchEnd) - starts.begin(), cellCount);
    if (first >= last) continue;
    std::map<int64_t, LinkMatch::Range> byRow;
    bool covers = false;
    for (int64_t i = first; i < last; ++i) {
      const ImplicitCellRef& cell = map->cells[static_cast<size_t>(i)];
      auto [entry, added] = byRow.try_emplace(cell.row, LinkMatch::Range{cell.col, cell.col + cell.width});
      if (!added) {
        entry->second.lowerBound = std::min(entry->second.lowerBound, cell.col);
        entry->second.upperBound = std::max(entry->second.upperBound, cell.col + cell.width);
      }
      if (cell.row == at.row && cell.col <= map->col && map->col < cell.col + cell.width) covers = true;
    }
    const auto askedRow = byRow.find(at.row);
    if (askedRow == byRow.end() || askedRow->second.isEmpty() || !covers) continue;
    LinkMatch match;
    match.text = toUtf8(icu::UnicodeString(text, starts[static_cast<size_t>(first)],
                                           starts[static_cast<size_t>(last)] - starts[static_cast<size_t>(first)]));
    match.row = at.row;
    match.range = askedRow->second;
    for (const auto& [row, range] : byRow) {
      if (!range.isEmpty()) match.rowRanges.push_back({row, range});
    }
    return match;
  }
  return std::nullopt;
}

}  // namespace vantrelle
