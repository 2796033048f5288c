#pragma once
// The host of a TerminalView: receives the bytes to send to the program and the news of title,
// size, directory and scrolling. Held weakly (a raw pointer the host clears when it goes away).
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrelle {

class TerminalView;

class TerminalViewDelegate {
 public:
  virtual ~TerminalViewDelegate() = default;

  virtual void sizeChanged(TerminalView& source, int newCols, int newRows) = 0;
  virtual void setTerminalTitle(TerminalView& source, const std::string& title) = 0;
  virtual void hostCurrentDirectoryUpdate(TerminalView& source, const std::optional<std::string>& directory) = 0;
  virtual void send(TerminalView& source, std::span<const uint8_t> data) = 0;
  // What the terminal answers the program (reports, mouse and focus events), which a host may
  // bound while the program does not read; typed and pasted input goes through `send`.
  virtual void sendReply(TerminalView& source, std::span<const uint8_t> data) { send(source, data); }
  // 0 at the top of the scrollback, 1 at the bottom.
  virtual void scrolled(TerminalView& source, double position) = 0;
  // Opens the link with the desktop's handler when it is a valid URI.
  virtual void requestOpenLink(TerminalView& source, const std::string& link,
                               const std::map<std::string, std::string>& params);
  virtual void bell(TerminalView& source);
  virtual void clipboardCopy(TerminalView& source, std::span<const uint8_t> content) {}
  virtual std::optional<std::vector<uint8_t>> clipboardRead(TerminalView& source) { return std::nullopt; }
  virtual void iTermContent(TerminalView& source, std::span<const uint8_t> content) {}
  virtual void rangeChanged(TerminalView& source, int startY, int endY) = 0;
};

}  // namespace vantrelle
