#pragma once
// What the view benchmarks share: a private virtual display when there is none, the dense frame a
// flood is made of, and percentiles of timings.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace viewbench {

// Without a display the program runs itself again under xvfb-run, once; returns only when there is
// a display to use.
inline void useAVirtualDisplayIfNone(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  if ((display && *display) || std::getenv("VANTRELLE_BENCH_XVFB")) return;
  setenv("VANTRELLE_BENCH_XVFB", "1", 1);
  std::vector<char*> command = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
                                const_cast<char*>("-screen 0 1280x1024x24")};
  for (int i = 0; i < argc; i++) command.push_back(argv[i]);
  command.push_back(nullptr);
  execvp("xvfb-run", command.data());
  std::perror("xvfb-run");
  std::exit(1);
}

// A whole screen from the home position in which every cell has a new 256-colour or true-colour
// foreground and background, with bold, italic and underline toggled; the same seed, the same frame.
inline std::string denseFrame(int cols, int rows, unsigned seed) {
  std::string frame = "\x1b[H";
  unsigned state = seed * 2654435761u + 1;
  auto next = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
  for (int row = 0; row < rows; row++) {
    for (int col = 0; col < cols; col++) {
      unsigned r = next();
      if (r & 1) {
        frame += "\x1b[38;5;" + std::to_string(r % 256) + ";48;5;" + std::to_string((r >> 8) % 256) + "m";
      } else {
        frame += "\x1b[38;2;" + std::to_string(r % 256) + ";" + std::to_string((r >> 8) % 256) + ";" +
                 std::to_string((r >> 16) % 256) + ";48;2;" + std::to_string((r >> 4) % 256) + ";40;80m";
      }
      frame += (r & 2) ? "\x1b[1m" : "\x1b[22m";
      frame += (r & 4) ? "\x1b[3m" : "\x1b[23m";
      frame += (r & 8) ? "\x1b[4m" : "\x1b[24m";
      frame += char('!' + r % 94);
    }
    if (row + 1 < rows) frame += "\r\n";
  }
  return frame + "\x1b[0m";
}

// The value below which the given share of the values lie.
inline double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

// The times of painted frames, in milliseconds: the interval since the frame before (none for the
// first), the wall time of the frame's work and the processor time it took.
class FrameTimes {
 public:
  // `aheadMs`: the view's drawing for the frame done before the frame started (0: none).
  void add(double intervalMs, double work, double cpuMs, double aheadMs = 0) {
    if (intervalMs >= 0) intervals.push_back(intervalMs);
    works.push_back(work);
    cpu.push_back(cpuMs);
    ahead.push_back(aheadMs);
  }
  size_t frames() const { return works.size(); }
  double intervalMs(double share) const { return percentile(intervals, share); }
  double workMs(double share) const { return percentile(works, share); }

  // The counters a frame benchmark prints: the percentiles of interval, work and processor time.
  void report(benchmark::State& state) const {
    state.counters["frames"] = double(frames());
    for (auto [name, share] : {std::pair{"p50", 0.5}, {"p95", 0.95}, {"p99", 0.99}}) {
      state.counters[std::string("interval_") + name + "_ms"] = intervalMs(share);
      state.counters[std::string("work_") + name + "_ms"] = workMs(share);
    }
    state.counters["cpu_p50_ms"] = percentile(cpu, 0.5);
    state.counters["cpu_p95_ms"] = percentile(cpu, 0.95);
    state.counters["ahead_p50_ms"] = percentile(ahead, 0.5);
    state.counters["ahead_p95_ms"] = percentile(ahead, 0.95);
  }

 private:
  std::vector<double> intervals, works, cpu, ahead;
};

}  // namespace viewbench
