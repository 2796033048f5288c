// Answers to the program's questions about the terminal: device attributes (DA), status reports
// (DSR), mode requests (DECRQM) and setting requests (DECRQSS).
#include <algorithm>

#include "Vantrelle/Terminal/ModeTable.h"
#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

bool isCollect(std::span<const uint8_t> collect, std::string_view text) {
  return collect.size() == text.size() && std::equal(collect.begin(), collect.end(), text.begin());
}

}  // namespace

class Terminal::DECRQSS : public DcsHandler {
 public:
  explicit DECRQSS(Terminal& terminal) : terminal(terminal) {}
  void hook(std::span<const uint8_t>, std::span<const int>, uint8_t) override { data.clear(); }
  void put(std::span<const uint8_t> bytes) override {
    // Every valid request is two bytes long; keep just enough to tell a longer one apart.
    const size_t room = maxRequest + 1 - std::min(data.size(), maxRequest + 1);
    data.insert(data.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(room, bytes.size())));
  }
  void unhook() override;

 private:
  static constexpr size_t maxRequest = 16;
  std::optional<std::string> answer(const std::string& request) const;
  Terminal& terminal;
  std::vector<uint8_t> data;
};

std::optional<std::string> Terminal::DECRQSS::answer(const std::string& request) const {
  const Buffer& b = *terminal.buffer;
  if (request == "\"q") return request;
  if (request == "\"p") return "65;1\"p";
  if (request == "r") return concat(b.scrollTop + 1, ";", b.scrollBottom + 1, "r");
  if (request == "m") return terminal.curAttr.toSgr();
  if (request == "s") return concat(b.marginLeft + 1, ";", b.marginRight + 1, "s");
  // The styles in DECSCUSR's order: blinking block is 1, steady bar 6.
  if (request == " q") return concat(int(terminal.options.cursorStyle) + 1, " q");
  return std::nullopt;
}

void Terminal::DECRQSS::unhook() {
  const bool ascii = std::all_of(data.begin(), data.end(), [](uint8_t c) { return c < 0x80; });
  const std::string request(data.begin(), data.end());
  auto body = ascii && data.size() <= maxRequest ? answer(request) : std::nullopt;
  if (!body) terminal.log("Unknown DCS + " + request);
  const CC& cc = terminal.cc;
  terminal.sendResponse({cc.dcs(), asBytes(body ? "1$r" + *body : "0$r"), cc.st()});
}

std::unique_ptr<DcsHandler> Terminal::makeDecrqssHandler() { return std::make_unique<DECRQSS>(*this); }

void Terminal::cmdSendDeviceAttributes(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!pars.empty() && pars[0] >= 1) {
    log("SendDeviceAttributes got " + parameterListText(pars) + " and " + std::string(collect.begin(), collect.end()));
    return;
  }
  if (isCollect(collect, ">") || isCollect(collect, ">0")) {
    sendResponse({cc.csi(), asBytes(">65;20;1c")});
    return;
  }
  if (!collect.empty()) return;
  const std::string_view name = options.termName;
  std::string_view answer;
  if (name.starts_with("xterm"))
    answer = options.enableSixelReported ? "?65;4;1;2;6;21;22;17;28c" : "?65;1;2;6;21;22;17;28c";
  else if (name.starts_with("screen") || name.starts_with("rxvt-unicode"))
    answer = "?1;2c";
  else if (name.starts_with("linux"))
    answer = "?6c";
  else
    return;
  sendResponse({cc.csi(), asBytes(answer)});
}

void Terminal::cmdDeviceStatus(std::span<const int> pars, std::span<const uint8_t> collect) {
  const int ps = pars.empty() ? 0 : pars[0];
  const Buffer& b = *buffer;
  // Positions are 1-based; a cursor above an origin-mode region must still report at least 1.
  // A pending wrap reports the column the cursor is shown in, never one past the edge.
  const int x = cursorColumn();
  const int row = std::max(b.y + 1 - (originMode ? int(b.scrollTop) : 0), 1);
  if (collect.empty()) {
    if (ps == 5) {
      sendResponse({cc.csi(), asBytes("0n")});
    } else if (ps == 6) {
      const int col = std::max(x + 1 - (originMode ? b.marginLeft : 0), 1);
      sendResponse({cc.csi(), asBytes(concat(row, ";", col, "R"))});
    }
    return;
  }
  if (!isCollect(collect, "?")) return;
  std::string text;
  switch (ps) {
    case 6: {
      const int col = std::max(x + 1 - (originMode && marginMode ? b.marginLeft : 0), 1);
      text = concat("?", row, ";", col, ";1R");
      break;
    }
    case 15:
      text = "?10n";
      break;
    case 25:
      text = "?21n";
      break;
    case 26:
      text = "?27;1;0;0n";
      break;
    case 55:
      text = "?53n";
      break;
    case 56:
      text = "?57;1n";
      break;
    case 62:
      text = "0*{";
      break;
    case 63: {
      const int id = pars.size() > 1 ? pars[1] : 0;
      sendResponse({cc.dcs(), asBytes(concat(id, "!~0000")), cc.st()});
      return;
    }
    case 75:
      text = "?70n";
      break;
    case 85:
      text = "?83n";
      break;
    default:
      return;
  }
  sendResponse({cc.csi(), asBytes(text)});
}

void Terminal::cmdDecRqm(std::span<const int> pars, bool decMode) {
  const int mode = pars.empty() ? 0 : pars[0];
  const int value = modeStatus(*this, decMode ? findDecMode(mode) : findAnsiMode(mode));
  sendResponse({cc.csi(), asBytes(concat(decMode ? "?" : "", mode, ";", value, "$y"))});
}

}  // namespace vantrelle
