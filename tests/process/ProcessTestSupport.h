#pragma once
// Shared helpers of the child-process tests: a recording delegate and a main-loop pump.
#include <glib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Vantrelle/Process/LocalProcess.h"

namespace vantrelle::testing {

// Runs the GLib main context (the main queue) until `done` holds or `timeout` passes.
inline bool pumpMainUntil(const std::function<bool()>& done,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  // A ticking source bounds each blocking iteration, so the deadline is seen without spinning.
  guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool met = true;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      met = false;
      break;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return met;
}

struct RecordingDelegate : LocalProcessDelegate {
  std::string output;
  size_t chunks = 0;
  std::optional<int32_t> exitCode;
  bool terminated = false;
  size_t outputAtExit = 0;
  winsize size{24, 80, 0, 0};
  std::function<void(std::span<const uint8_t>)> onData;

  void processTerminated(LocalProcess&, std::optional<int32_t> code) override {
    terminated = true;
    exitCode = code;
    outputAtExit = output.size();
  }
  void dataReceived(std::span<const uint8_t> slice) override {
    chunks++;
    output.append(reinterpret_cast<const char*>(slice.data()), slice.size());
    if (onData) onData(slice);
  }
  winsize getWindowSize() override { return size; }
};

struct ProcessFixture {
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<LocalProcess> process = std::make_shared<LocalProcess>(delegate);

  void runShell(const std::string& script, std::optional<std::vector<std::string>> env = std::nullopt) {
    process->startProcess("/bin/sh", {"-c", script}, env);
  }
  bool waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return pumpMainUntil([&] { return delegate->terminated; }, timeout);
  }
};

}  // namespace vantrelle::testing
