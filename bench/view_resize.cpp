// Memory through a storm of resizes: vantrelle-demo holds a scrollback of 150-character lines, and
// its window's width goes ten times from 1920 to 60 pixels and back (1000 high), as a window edge
// dragged to and fro, then returns to where it began. The counters give the demo's resident memory
// (MB) before the storm, at its peak (the kernel's high-water mark) and after it, once the memory
// has stopped moving, and after/before; the arguments: the scrollback's lines, and 0 or 1 for the
// Cairo path or the GPU one. BM_EngineResizeStorm runs the same storm on a terminal alone, in
// this process, for the engine's share: 98x31, then 238x62 and 5x62, the grids the demo gets.
//
// VANTRELLE_BENCH_DEMO names another build's vantrelle-demo, to compare two builds under one
// measure. Without a display the program runs itself again under xvfb-run.
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "Vantrelle/Terminal/Terminal.h"
#include "bench/Demo.h"
#include "bench/NullHost.h"
#include "bench/ViewBench.h"
#include "bench/XWindows.h"
#include "tests/ProcessMemory.h"

namespace {

using Clock = std::chrono::steady_clock;

// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"), as megabytes; 0 when it cannot be read.
double statusMB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) return std::atof(line.c_str() + field.size() + 1) / 1024;
  }
  return 0;
}

// Resident memory once it has stopped moving: the same megabyte three looks in a row, a quarter of
// a second apart, or what it is after `limit`.
double settledMB(pid_t pid, std::chrono::seconds limit) {
  auto deadline = Clock::now() + limit;
  double last = statusMB(pid, "VmRSS");
  int same = 0;
  while (same < 3 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    double now = statusMB(pid, "VmRSS");
    same = std::abs(now - last) < 1 ? same + 1 : 0;
    last = now;
  }
  return last;
}

// The child writes the lines, then reports the grid in the window's title at each change of size,
// so that the storm goes on only once the demo has laid the terminal out anew.
std::string childScript(int lines) {
  return "awk 'BEGIN { for (i = 0; i < " + std::to_string(lines) +
         "; i++) printf \"%07d %0142d\\n\", i, 0 }'; "
         "report() { printf '\\033]2;grid %s\\007' \"$(stty size)\"; }; trap report WINCH; report; "
         "while :; do sleep 1 & wait; done";
}

// The demo with `lines` of scrollback running the child script, on the Cairo path or the GPU one.
std::vector<std::string> demoArguments(int lines, bool gpu) {
  std::vector<std::string> arguments = {"--scrollback", std::to_string(lines), "--", "/bin/sh",
                                        "-c",           childScript(lines)};
  if (gpu) arguments.insert(arguments.begin(), "--gpu");
  return arguments;
}

// Waits until the title reports a grid other than `previous`; returns it, or nothing at the
// time-out.
std::string nextGrid(Display* display, Window window, const std::string& previous, std::chrono::seconds limit) {
  auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    std::string title = viewbench::windowTitle(display, window);
    if (title.starts_with("grid ") && title != previous) return title;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {};
}

void BM_DemoResizeStorm(benchmark::State& state) {
  const int lines = int(state.range(0));
  const bool gpu = state.range(1) != 0;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    state.SkipWithError("no X display");
    return;
  }
  for (auto _ : state) {
    viewbench::Demo demo(viewbench::demoProgram(), demoArguments(lines, gpu));
    Window window = 0;
    for (auto deadline = Clock::now() + std::chrono::seconds(30); !window && Clock::now() < deadline;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      window = viewbench::findWindow(display, demo.pid);
    }
    std::string grid = window ? nextGrid(display, window, "", std::chrono::seconds(600)) : "";
    if (grid.empty()) {
      state.SkipWithError("the demo showed no window, or never finished its output");
      break;
    }
    const double before = settledMB(demo.pid, std::chrono::seconds(30));
    for (int trip = 0; trip < 20 && !grid.empty(); trip++) {
      XResizeWindow(display, window, trip % 2 ? 60 : 1920, 1000);
      XFlush(display);
      grid = nextGrid(display, window, grid, std::chrono::seconds(60));
      // Time to draw the new size, as a hand dragging the edge leaves it.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    XResizeWindow(display, window, 800, 500);
    XFlush(display);
    if (grid.empty() || nextGrid(display, window, grid, std::chrono::seconds(60)).empty()) {
      state.SkipWithError("the demo stopped following the resizes");
      break;
    }
    const double after = settledMB(demo.pid, std::chrono::seconds(30));
    state.counters["before_MB"] = before;
    state.counters["peak_MB"] = statusMB(demo.pid, "VmHWM");
    state.counters["after_MB"] = after;
    state.counters["after/before"] = after / before;
  }
  XCloseDisplay(display);
}

double residentMB() { return double(process_memory::residentBytes()) / (1 << 20); }

void BM_EngineResizeStorm(benchmark::State& state) {
  const int lines = int(state.range(0));
  for (auto _ : state) {
    NullHost host;
    const double start = residentMB();
    vantrelle::TerminalOptions options;
    options.cols = 98;
    options.rows = 31;
    options.scrollback = lines;
    auto terminal = std::make_unique<vantrelle::Terminal>(&host, options);
    std::string text;
    for (int i = 0; i < lines; i++) {
      char number[16];
      std::snprintf(number, sizeof number, "%07d ", i);
      text += number + std::string(142, '0') + "\r\n";
    }
    terminal->feed(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    text = {};
    const double before = residentMB();
    double peak = before;
    for (int trip = 0; trip < 20; trip++) {
      terminal->resize(trip % 2 ? 5 : 238, 62);
      peak = std::max(peak, residentMB());
    }
    terminal->resize(98, 31);
    state.counters["before_MB"] = before - start;
    state.counters["peak_MB"] = peak - start;
    state.counters["after_MB"] = residentMB() - start;
    state.counters["after/before"] = (residentMB() - start) / (before - start);
  }
}

}  // namespace

BENCHMARK(BM_DemoResizeStorm)
    ->ArgNames({"lines", "gpu"})
    ->Args({100'000, 0})
    ->Args({1'000, 0})
    ->Args({100'000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_EngineResizeStorm)->ArgNames({"lines"})->Arg(100'000)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
  viewbench::useAVirtualDisplayIfNone(argc, argv);
  if (!viewbench::runBenchmarks(argc, argv)) return 1;
  return 0;
}
