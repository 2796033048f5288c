#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "Vantrelle/Buffer/Color.h"
#include "Vantrelle/Terminal/TerminalOptions.h"
#include "Vantrelle/Terminal/TerminalTypes.h"

namespace vantrelle {

class Terminal;

// The one channel from a terminal to its host. Every call is made synchronously, on the thread
// feeding the terminal, in the middle of the operation that causes it. A host that implements
// only `send` gets the defaults below. The terminal does not own its delegate: a host that goes
// away first clears `Terminal::tdel`.
class TerminalDelegate {
 public:
  virtual ~TerminalDelegate() = default;

  virtual void showCursor(Terminal& source) {}
  virtual void hideCursor(Terminal& source) {}
  virtual void setTerminalTitle(Terminal& source, const std::string& title) {}
  virtual void setTerminalIconTitle(Terminal& source, const std::string& title) {}
  // Reply bytes for the child, or nothing.
  virtual std::optional<Bytes> windowCommand(Terminal& source, const WindowManipulationCommand& command) {
    return std::nullopt;
  }
  virtual void sizeChanged(Terminal& source) {}
  // Every reply to the child program.
  virtual void send(Terminal& source, std::span<const uint8_t> data) = 0;
  virtual void scrolled(Terminal& source, int yDisp) {}
  virtual void linefeed(Terminal& source) {}
  virtual void bufferActivated(Terminal& source) {}
  virtual void synchronizedOutputChanged(Terminal& source, bool active) {}
  virtual void bell(Terminal& source) {}
  virtual void selectionChanged(Terminal& source) {}
  virtual bool isProcessTrusted(Terminal& source) { return true; }
  virtual std::optional<CellSize> cellSizeInPixels(Terminal& source) { return std::nullopt; }
  virtual void mouseModeChanged(Terminal& source) {}
  virtual void cursorStyleChanged(Terminal& source, CursorStyle newStyle) {}
  virtual void hostCurrentDirectoryUpdated(Terminal& source) {}
  virtual void hostCurrentDocumentUpdated(Terminal& source) {}
  // A palette index, or nothing when the whole palette changed.
  virtual void colorChanged(Terminal& source, std::optional<int> idx) {}
  // The colour defaults store into the terminal, which then reports the change here once.
  virtual void setForegroundColor(Terminal& source, const Color& color);
  virtual void setBackgroundColor(Terminal& source, const Color& color);
  virtual void setCursorColor(Terminal& source, const std::optional<Color>& color);
  // (foreground, background)
  virtual std::pair<Color, Color> getColors(Terminal& source);
  virtual void iTermContent(Terminal& source, std::span<const uint8_t> content) {}
  virtual void clipboardCopy(Terminal& source, std::span<const uint8_t> content) {}
  virtual std::optional<Bytes> clipboardRead(Terminal& source) { return std::nullopt; }
  virtual void notify(Terminal& source, const std::string& title, const std::string& body) {}
  virtual void progressReport(Terminal& source, const ProgressReport& report) {}
  // RGBA pixels, 4 bytes a pixel, row by row.
  virtual void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width, int height) {}
  // Encoded image data (PNG and the like).
  virtual void createImage(Terminal& source, std::span<const uint8_t> data, ImageSizeRequest width,
                           ImageSizeRequest height, bool preserveAspectRatio) {}
};

}  // namespace vantrelle
