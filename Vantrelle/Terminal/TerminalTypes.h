#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vantrelle {

using Bytes = std::vector<uint8_t>;

// A window operation or report asked for by CSI t; the host decides what it can do.
struct WindowManipulationCommand {
  enum class Kind : uint8_t {
    moveWindowTo,    // a = x, b = y
    resizeWindowTo,  // a = width, b = height (pixels)
    resizeTo,        // a = cols, b = rows
    resizeTerminal,  // a = cols, b = rows
    resizeToLines,   // a = lines
    deiconifyWindow,
    iconifyWindow,
    bringToFront,
    sendToBack,
    refreshWindow,
    restoreMaximizedWindow,
    maximizeWindow,
    maximizeWindowVertically,
    maximizeWindowHorizontally,
    undoFullScreen,
    switchToFullScreen,
    toggleFullScreen,
    reportTerminalState,
    reportTerminalPosition,
    reportTextAreaPosition,
    reportTextAreaPixelDimension,
    reportTerminalWindowPixelDimension,
    reportSizeOfScreenInPixels,
    reportCellSizeInPixels,
    reportTextAreaCharacters,
    reportScreenSizeCharacters,
    reportIconLabel,
    reportWindowTitle,
  };
  Kind kind = Kind::refreshWindow;
  int64_t a = 0;
  int64_t b = 0;
  bool operator==(const WindowManipulationCommand&) const = default;
};

enum class ProgressReportState : uint8_t { remove = 0, set = 1, error = 2, indeterminate = 3, pause = 4 };

// The state for an integer, or nothing outside 0-4.
constexpr std::optional<ProgressReportState> progressReportState(int64_t raw) {
  if (raw < 0 || raw > 4) return std::nullopt;
  return static_cast<ProgressReportState>(raw);
}

struct ProgressReport {
  ProgressReportState state = ProgressReportState::remove;
  std::optional<uint8_t> progress;
  bool operator==(const ProgressReport&) const = default;
};

// How large an image is to be shown, one value per axis.
struct ImageSizeRequest {
  enum class Kind : uint8_t { cells, pixels, percent, automatic };
  Kind kind = Kind::automatic;
  int64_t value = 0;
  bool operator==(const ImageSizeRequest&) const = default;
};

struct CellSize {
  int64_t width = 0;
  int64_t height = 0;
};

enum class BufferKind : uint8_t { active, normal, alt };

enum class MouseMode : uint8_t { off, x10, vt200, buttonEventTracking, anyEvent };
constexpr bool sendsModifiers(MouseMode mode) {
  return mode == MouseMode::vt200 || mode == MouseMode::buttonEventTracking || mode == MouseMode::anyEvent;
}
constexpr bool sendMotionEvent(MouseMode mode) { return mode == MouseMode::anyEvent; }

enum class MouseProtocolEncoding : uint8_t { x10, utf8, sgr, urxvt, sgrPixel };

enum class TerminalConformance : uint8_t { vt100, vt200, vt300, vt400, vt500 };

}  // namespace vantrelle
