// Operating system commands: titles, directory and document, progress, clipboard and
// notifications. Hyperlinks, colours and OSC 1337 have files of their own.
#include <algorithm>
#include <string>

#include "Vantrelle/Terminal/OscText.h"
#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/Base64.h"
#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {

void Terminal::dispatchOscCommand(int64_t code, std::span<const uint8_t> data) {
  switch (code) {
    case 0:
    case 2:
      titles.window = validUtf8(data).value_or("");
      if (tdel) tdel->setTerminalTitle(*this, titles.window);
      break;
    case 1:
      titles.icon = validUtf8(data).value_or("");
      if (tdel) tdel->setTerminalIconTitle(*this, titles.icon);
      break;
    case 4:
      oscChangeOrQueryColorIndex(data);
      break;
    case 6:
      oscSetCurrentDocument(data);
      break;
    case 7:
      oscSetCurrentDirectory(data);
      break;
    case 8:
      oscHyperlink(data);
      break;
    case 9:
      if (auto report = parseProgressReport(data)) {
        if (tdel) tdel->progressReport(*this, *report);
      } else {
        oscFallback(code, data);
      }
      break;
    case 10:
    case 11:
    case 12:
      oscSetColors(data, static_cast<int>(code - 10));
      break;
    case 52:
      oscClipboard(data);
      break;
    case 104:
      oscResetColor(data);
      break;
    case 112:
      if (tdel) tdel->setCursorColor(*this, std::nullopt);
      break;
    case 777:
      oscNotification(data);
      break;
    case 1337:
      osciTerm2(data);
      break;
    default:
      oscFallback(code, data);
      break;
  }
}

namespace {

// The payload of OSC 6 or 7 as text: UTF-8, else plain ASCII; nothing when neither.
std::optional<std::string> locationText(std::span<const uint8_t> data) {
  if (auto text = validUtf8(data)) return text;
  return osc::ascii(data);
}

}  // namespace

void Terminal::oscSetCurrentDocument(std::span<const uint8_t> data) {
  if (!tdel || !tdel->isProcessTrusted(*this)) return;
  auto text = locationText(data);
  if (!text) return;
  hostCurrentDocument = std::move(*text);
  tdel->hostCurrentDocumentUpdated(*this);
}

void Terminal::oscSetCurrentDirectory(std::span<const uint8_t> data) {
  if (!tdel || !tdel->isProcessTrusted(*this)) return;
  auto text = locationText(data);
  if (!text) return;
  hostCurrentDirectory = std::move(*text);
  tdel->hostCurrentDirectoryUpdated(*this);
}

// OSC 9 ; 4 ; state [; progress]: the taskbar progress of ConEmu and Windows Terminal.
std::optional<ProgressReport> Terminal::parseProgressReport(std::span<const uint8_t> data) {
  const auto text = osc::ascii(data);
  if (!text) return std::nullopt;
  const auto parts = osc::split(*text, ';');
  if (parts.size() < 2 || parts[0] != "4" || parts[1].size() != 1) return std::nullopt;
  const char digit = parts[1][0];
  if (digit < '0' || digit > '4') return std::nullopt;
  const auto state = static_cast<ProgressReportState>(digit - '0');
  int progress = -1;  // absent
  if (parts.size() < 3 || parts[2].empty()) {
    if (state == ProgressReportState::set) progress = 0;
  } else {
    const auto value = osc::parseInteger(parts[2]);
    if (!value) return std::nullopt;
    progress = static_cast<int>(std::clamp<int64_t>(*value, 0, 100));
  }
  ProgressReport report;
  report.state = state;
  if (progress >= 0 && state != ProgressReportState::remove) report.progress = static_cast<uint8_t>(progress);
  return report;
}

// OSC 52 ; selection ; data. The selection letters only echo back in a query's answer.
void Terminal::oscClipboard(std::span<const uint8_t> data) {
  const auto separator = std::find(data.begin(), data.end(), uint8_t(';'));
  if (separator == data.end()) return;
  const size_t split = static_cast<size_t>(separator - data.begin());
  const auto given = osc::ascii(data.first(split));
  const std::string selection = given && !given->empty() ? *given : std::string(1, 'c');
  const auto content = data.subspan(split + 1);
  if (content.size() == 1 && content[0] == '?') {
    if (!tdel) return;
    const auto clipboard = tdel->clipboardRead(*this);
    if (!clipboard) return;
    const std::string text = "52;" + selection + ";" + base64Encode(*clipboard);
    const Bytes introducer = cc.osc();
    const Bytes terminator = cc.st();
    sendResponse({introducer, osc::bytes(text), terminator});
    return;
  }
  const auto decoded = base64DecodeStrict(content);
  if (!decoded || !tdel) return;
  tdel->clipboardCopy(*this, *decoded);
}

// OSC 777 ; notify ; title ; body, where the body may itself hold ";".
void Terminal::oscNotification(std::span<const uint8_t> data) {
  const auto text = validUtf8(data);
  if (!text) return;
  const auto parts = osc::split(*text, ';');
  if (parts.size() < 3 || parts[0] != "notify") return;
  std::string body(parts[2]);
  for (size_t i = 3; i < parts.size(); ++i) {
    body += ';';
    body += parts[i];
  }
  if (tdel) tdel->notify(*this, std::string(parts[1]), body);
}

}  // namespace vantrelle
