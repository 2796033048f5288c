// Hyperlinks: hover highlighting, the preview and opening links.
#include <glibmm/markup.h>
#include <gtkmm/label.h>
#include <pangomm/cairofontmap.h>
#include <pangomm/fontfamily.h>
#include <pangomm/fontmap.h>

#include <any>
#include <set>

#include "Vantrelle/View/TerminalView.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

namespace {

std::vector<std::string> split(const std::string& text, char separator, bool keepEmpty) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (keepEmpty || !piece.empty()) pieces.push_back(std::move(piece));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return pieces;
}

std::vector<TerminalView::LinkRowRange> rowRangesOf(const LinkMatch& match) {
  std::vector<TerminalView::LinkRowRange> ranges;
  for (const auto& r : match.rowRanges) {
    ranges.push_back({int(r.row), int(r.range.lowerBound), int(r.range.upperBound)});
  }
  return ranges;
}

std::string hexOf(const ViewColor& c) {
  char buffer[8];
  auto part = [](double v) { return int(std::clamp(v, 0.0, 1.0) * 255 + 0.5); };
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", part(c.red), part(c.green), part(c.blue));
  return buffer;
}

// The preview's face: a humanist sans when one is installed, else the desktop's sans.
std::string tryUrlFont() {
  static const std::string face = [] {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    std::unique_ptr<PangoFontFamily*[], platform::GFree> families;
    int count = 0;
    pango_font_map_list_families(map, platform::out(families), &count);
    std::set<std::string> names;
    for (int i = 0; i < count; i++) names.insert(pango_font_family_get_name(families[i]));
    for (const char* name : {"Optima", "Helvetica", "Helvetica Neue"}) {
      if (names.count(name)) return std::string(name) + " 12";
    }
    return std::string("Sans 12");
  }();
  return face;
}

}  // namespace

void TerminalView::setupLinks() {}

std::optional<std::pair<std::string, TerminalView::LinkParams>> TerminalView::urlAndParamsFrom(
    const std::string& payload) {
  auto pieces = split(payload, ';', true);
  if (pieces.size() < 2) return std::nullopt;
  LinkParams params;
  for (const auto& item : split(pieces[0], ':', false)) {
    auto kv = split(item, '=', false);
    if (kv.size() == 2) params[kv[0]] = kv[1];
  }
  return std::make_pair(pieces[1], std::move(params));
}

std::optional<std::string> TerminalView::payloadString(Position position) const {
  Buffer& buffer = *terminal->buffer;
  if (position.row < 0 || position.row >= buffer.lines().count()) return std::nullopt;
  const BufferLine& line = *buffer.lines()[int(position.row)];
  int64_t col = std::max<int64_t>(0, std::min<int64_t>({position.col, int64_t(line.count()) - 1, terminal->cols - 1}));
  if (line.count() == 0) return std::nullopt;
  auto stringAt = [&](int64_t c) -> std::optional<std::string> {
    const std::any* value = line[int(c)].getPayload();
    if (const std::string* text = value ? std::any_cast<std::string>(value) : nullptr) return *text;
    return std::nullopt;
  };
  if (auto text = stringAt(col)) return text;
  // The spacer cell behind a wide character carries nothing of its own.
  if (line[int(col)].code == 0 && col > 0 && line[int(col - 1)].width == 2) return stringAt(col - 1);
  return std::nullopt;
}

std::optional<LinkMatch> TerminalView::linkMatchAt(Position position, bool implicitToo) {
  Buffer& buffer = *terminal->buffer;
  auto at = terminal->resolveLinkLocation(LinkLookupLocation::buffer(position), buffer);
  if (!at) return std::nullopt;
  if (auto match = terminal->explicitLinkMatch(*at, buffer)) return match;
  if (implicitToo) return terminal->implicitLinkMatch(*at, buffer);
  return std::nullopt;
}

std::optional<std::pair<std::string, TerminalView::LinkParams>> TerminalView::linkForClick(Position position,
                                                                                           bool hasCommandModifier) {
  auto match = linkMatchAt(position, true);
  if (!match) return std::nullopt;
  bool highlighted = linkState.linkHighlightRange && *linkState.linkHighlightRange == rowRangesOf(*match);
  switch (linkState.linkHighlightMode) {
    case LinkHighlightMode::hover:
      if (!highlighted) return std::nullopt;
      break;
    case LinkHighlightMode::hoverWithModifier:
      if (!hasCommandModifier || !highlighted) return std::nullopt;
      break;
    case LinkHighlightMode::always:
      if (!match->isExplicit) return std::nullopt;
      break;
    case LinkHighlightMode::alwaysWithModifier:
      if (!match->isExplicit || !hasCommandModifier) return std::nullopt;
      break;
  }
  if (match->isExplicit) {
    if (auto payload = payloadString(position)) {
      if (auto parsed = urlAndParamsFrom(*payload)) return parsed;
    }
  }
  return std::make_pair(match->text, LinkParams{});
}

void TerminalView::updateHoverLink(Position position, std::optional<bool> commandOverride) {
  bool hoverMode = linkState.linkHighlightMode == LinkHighlightMode::hover ||
                   linkState.linkHighlightMode == LinkHighlightMode::hoverWithModifier;
  bool command = commandOverride.value_or(commandActive);
  if (hoverMode && (linkState.linkHighlightMode == LinkHighlightMode::hover || command)) {
    if (auto match = linkMatchAt(position, true)) {
      auto ranges = rowRangesOf(*match);
      if (linkState.linkHighlightRange && *linkState.linkHighlightRange == ranges) return;
      auto old = std::move(linkState.linkHighlightRange);
      linkState.linkHighlightRange = std::move(ranges);
      invalidateLinkHighlight(old, linkState.linkHighlightRange);
      queuePendingDisplay();
      return;
    }
  }
  if (linkState.linkHighlightRange) {
    auto old = std::move(linkState.linkHighlightRange);
    linkState.linkHighlightRange.reset();
    invalidateLinkHighlight(old, std::nullopt);
    queuePendingDisplay();
  }
}

void TerminalView::invalidateLinkHighlight(const std::optional<std::vector<LinkRowRange>>& oldRange,
                                           const std::optional<std::vector<LinkRowRange>>& newRange) {
  std::set<int> rows;
  for (const auto* ranges : {&oldRange, &newRange}) {
    if (!*ranges) continue;
    for (const auto& r : **ranges) rows.insert(r.row);
  }
  int yDisp = terminal->buffer->yDisp;
  for (int row : rows) {
    int screenRow = row - yDisp;
    if (screenRow >= 0 && screenRow < terminal->rows) terminal->updateRange(screenRow);
  }
}

void TerminalView::markVisibleRowsDirty() {
  for (int row = 0; row < terminal->rows; row++) terminal->updateRange(row);
  queuePendingDisplay();
}

void TerminalView::reportLink(Position position) {
  if (linkState.linkReporting == LinkReporting::none) {
    linkState.lastReportedLink.reset();
    return;
  }
  auto match = linkMatchAt(position, linkState.linkReporting == LinkReporting::implicit);
  linkState.lastReportedLink = match ? std::optional<std::string>(match->text) : std::nullopt;
}

void TerminalView::previewUrl(const std::string& payload, Position at) {
  auto target = urlAndParamsFrom(payload);
  if (!target) return;
  // The preview keeps off the link it names.
  auto named = linkMatchAt(at, false);
  linkState.previewedLink = named ? rowRangesOf(*named) : std::vector<LinkRowRange>{};
  if (!linkState.urlPreview) {
    linkState.urlPreview = std::make_unique<Gtk::Label>();
    linkState.urlPreview->set_can_target(false);
    linkState.urlPreview->insert_at_end(*this);
  }
  auto* label = static_cast<Gtk::Label*>(linkState.urlPreview.get());
  label->set_markup("<span font_desc=\"" + tryUrlFont() + "\" foreground=\"" + hexOf(nativeBackgroundColor()) +
                    "\" background=\"" + hexOf(nativeForegroundColor()) + "\">" +
                    Glib::Markup::escape_text(target->first).raw() + "</span>");
  queue_allocate();
}

void TerminalView::removeUrlPreview() {
  if (!linkState.urlPreview) return;
  linkState.urlPreview->unparent();
  linkState.urlPreview.reset();
}

void TerminalView::turnOffUrlPreview() {
  if (!commandActive) return;
  commandActive = false;
  removeUrlPreview();
  linkState.lastReportedLink.reset();
  if (linkState.linkHighlightMode == LinkHighlightMode::hoverWithModifier) {
    if (linkState.linkHighlightRange) {
      auto old = std::move(linkState.linkHighlightRange);
      linkState.linkHighlightRange.reset();
      invalidateLinkHighlight(old, std::nullopt);
    }
    queuePendingDisplay();
  } else if (linkState.linkHighlightMode == LinkHighlightMode::alwaysWithModifier) {
    markVisibleRowsDirty();
  }
}

void TerminalView::commandKeyChanged(bool pressed) {
  if (!pressed) {
    turnOffUrlPreview();
    return;
  }
  commandActive = true;
  if (mouseState.lastPointerLocation) {
    Position hit =
        calculateMouseHit(mouseState.lastPointerLocation->first, mouseState.lastPointerLocation->second).first;
    if (auto payload = payloadString(hit)) previewUrl(*payload, hit);
    reportLink(hit);
    updateHoverLink(hit, std::nullopt);
  }
  if (linkState.linkHighlightMode == LinkHighlightMode::alwaysWithModifier) markVisibleRowsDirty();
}

void TerminalView::setLinkHighlightMode(LinkHighlightMode mode) {
  linkState.linkHighlightMode = mode;
  linkState.linkHighlightRange.reset();
  markVisibleRowsDirty();
}

}  // namespace vantrelle
