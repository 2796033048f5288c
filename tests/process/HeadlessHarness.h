#pragma once
// Drives a HeadlessTerminal from a test: starts a program with a usable environment, waits for
// its output to settle, types input, and reads the screen.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "ProcessTestSupport.h"
#include "Vantrelle/Process/HeadlessTerminal.h"

namespace vantrelle::testing {

class HeadlessHarness : public HeadlessTerminal {
 public:
  explicit HeadlessHarness(int cols = 80, int rows = 24)
      : HeadlessTerminal(nullptr, options(cols, rows), [this](std::optional<int32_t> code) {
          ended = true;
          exitCode = code;
        }) {}

  void dataReceived(std::span<const uint8_t> slice) override {
    lastOutput = std::chrono::steady_clock::now();
    received += slice.size();
    if (onData) onData(slice);
    HeadlessTerminal::dataReceived(slice);
  }

  void start(const std::string& executable, std::vector<std::string> args, std::optional<std::string> dir = {}) {
    auto env = Terminal::getEnvironmentVariables("xterm-256color", true);
    env.push_back(std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"));
    process->startProcess(executable, args, env, std::nullopt, dir);
  }

  // Waits until no output has come for `quiet`, the child has ended, or `limit` passes.
  void settle(std::chrono::milliseconds quiet = std::chrono::milliseconds(300),
              std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    lastOutput = std::chrono::steady_clock::now();
    pumpMainUntil([&] { return ended || std::chrono::steady_clock::now() - lastOutput > quiet; }, limit);
  }

  bool waitForScreen(const std::function<bool(const std::string&)>& accept,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return pumpMainUntil([&] { return accept(screen()); }, limit);
  }

  void type(const std::string& text) { send(std::vector<uint8_t>(text.begin(), text.end())); }

  bool waitForEnd(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return pumpMainUntil([&] { return ended; }, limit);
  }

  std::string row(int r) {
    std::string text;
    const BufferLine* line = terminal->getLine(r);
    if (!line) return text;
    for (int c = 0; c < std::min(terminal->cols, line->count()); c++) {
      const CharData& cell = (*line)[c];
      if (cell.width == 0) continue;
      text += cell.code == 0 ? std::string(" ") : terminal->character(cell.code);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  std::string screen() {
    std::string text;
    for (int r = 0; r < terminal->rows; r++) text += row(r) + "\n";
    return text;
  }

  bool ended = false;
  std::optional<int32_t> exitCode;
  size_t received = 0;
  std::function<void(std::span<const uint8_t>)> onData;
  std::chrono::steady_clock::time_point lastOutput;

 private:
  static TerminalOptions options(int cols, int rows) {
    TerminalOptions o;
    o.cols = cols;
    o.rows = rows;
    return o;
  }
};

}  // namespace vantrelle::testing
