#pragma once
// A Terminal driven by a child process with no view: the child's output is parsed into the
// terminal's buffers and the terminal's replies go back to the child. Used by tools and tests.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Process/DispatchWorkScheduler.h"
#include "Vantrelle/Process/LocalProcess.h"
#include "Vantrelle/Process/OutputRestWatch.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

class HeadlessTerminal : public TerminalDelegate, public LocalProcessDelegate {
 public:
  struct Image {
    std::vector<uint8_t> bytes;
    int width;
    int height;
  };

  // The process delivers on `queue` (the main queue when none); the terminal must be fed there.
  HeadlessTerminal(platform::DispatchQueue* queue, TerminalOptions options,
                   std::function<void(std::optional<int32_t>)> onEnd);
  ~HeadlessTerminal() override;
  HeadlessTerminal(const HeadlessTerminal&) = delete;
  HeadlessTerminal& operator=(const HeadlessTerminal&) = delete;

  void send(const std::vector<uint8_t>& data);
  void changeScrollback(std::optional<int> lines);
  // Resizes the terminal and tells the child through its pseudo-terminal.
  void resize(int cols, int rows);

  // TerminalDelegate
  void send(Terminal& source, std::span<const uint8_t> data) override;
  void hostCurrentDirectoryUpdated(Terminal& source) override;
  void mouseModeChanged(Terminal& source) override {}
  void colorChanged(Terminal& source, std::optional<int> idx) override {}
  void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width, int height) override;

  // LocalProcessDelegate
  void processTerminated(LocalProcess& source, std::optional<int32_t> exitCode) override;
  void dataReceived(std::span<const uint8_t> slice) override;
  winsize getWindowSize() override;

  std::unique_ptr<Terminal> terminal;
  std::shared_ptr<LocalProcess> process;
  std::function<void(std::optional<int32_t>)> onEnd;
  std::optional<std::string> dir;
  // The newest bitmaps the emulator produced, oldest first. A program can draw images without
  // end, so only the latest are kept: at most `maximumImages` of them and `maximumImageBytes`
  // of pixels together (the newest one always).
  std::vector<Image> images;
  static constexpr size_t maximumImages = 1024;
  static constexpr size_t maximumImageBytes = size_t(256) << 20;

 private:
  // The process holds its delegate weakly; this non-owning handle expires with us.
  std::shared_ptr<LocalProcessDelegate> selfHandle;
  DispatchWorkScheduler scheduler;
  OutputRestWatch outputRest;
};

}  // namespace vantrelle
