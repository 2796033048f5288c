// What an idle terminal costs: vantrelle-demo runs `cat` with a blinking block caret in a focused
// window, and the benchmark takes the demo's CPU time (user and system, from /proc) over 10 s
// while nothing is written. BM_IdleBlinkingCaret/gpu:0 draws with Cairo, /gpu:1 with OpenGL. The
// desktop's blink time-out is set to an hour so that the caret blinks throughout; the caret's
// pixels are read back meanwhile, and a run in which they never changed is an error, not a figure.
// Counters: cpu_percent (of one core) and caret_changes seen.
//
// Without a display the program runs itself again under xvfb-run.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/Demo.h"
#include "bench/ViewBench.h"
#include "bench/XWindows.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto measured = std::chrono::seconds(10);

// A private settings folder: GTK reads the blink time-out from it.
struct Settings {
  std::filesystem::path folder;
  Settings() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantrelle-idle-XXXXXX").string();
    folder = mkdtemp(pattern.data());
    std::filesystem::create_directories(folder / "gtk-4.0");
    std::ofstream(folder / "gtk-4.0" / "settings.ini") << "[Settings]\ngtk-cursor-blink-timeout=3600\n";
  }
  ~Settings() { std::filesystem::remove_all(folder); }
};

// The demo running `cat` under a blinking block caret, on a cleared screen.
std::vector<std::string> demoArguments(bool gpu) {
  std::vector<std::string> arguments = {"--", "/bin/sh", "-c", "printf '\\033[1 q\\033[2J\\033[H'; exec cat"};
  if (gpu) arguments.insert(arguments.begin(), "--gpu");
  return arguments;
}

// The process's CPU time so far, user and system, in seconds.
std::optional<double> cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return std::nullopt;
  auto close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  unsigned long user = 0, system = 0;
  // After the command: state, then ten fields, then utime and stime.
  if (std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) !=
      2) {
    return std::nullopt;
  }
  return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

// The top left corner of the window, where the caret sits.
std::vector<unsigned long> corner(Display* display, Window window) {
  constexpr int size = 24;
  std::vector<unsigned long> pixels;
  XImage* image = XGetImage(display, window, 0, 0, size, size, AllPlanes, ZPixmap);
  if (!image) return pixels;
  for (int y = 0; y < size; y++) {
    for (int x = 0; x < size; x++) pixels.push_back(XGetPixel(image, x, y));
  }
  XDestroyImage(image);
  return pixels;
}

void BM_IdleBlinkingCaret(benchmark::State& state) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    state.SkipWithError("no X display");
    return;
  }
  Settings settings;
  viewbench::Demo demo(VANTRELLE_DEMO, demoArguments(state.range(0) != 0), {{"XDG_CONFIG_HOME", settings.folder}});
  Window window = 0;
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!(window = viewbench::findWindow(display, demo.pid)) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!window) {
    XCloseDisplay(display);
    state.SkipWithError("the demo's window never appeared");
    return;
  }
  // An unfocused window stills the caret.
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  XSync(display, False);
  // Start-up drawing settles first.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  double percent = 0;
  int changes = 0;
  for (auto _ : state) {
    auto before = cpuSeconds(demo.pid);
    auto start = Clock::now();
    std::vector<unsigned long> shown = corner(display, window);
    while (Clock::now() - start < measured) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      auto now = corner(display, window);
      if (now != shown) changes++, shown = std::move(now);
    }
    auto after = cpuSeconds(demo.pid);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!before || !after) {
      state.SkipWithError("the demo ended");
      break;
    }
    percent = 100 * (*after - *before) / seconds;
    state.SetIterationTime(seconds);
  }
  XCloseDisplay(display);
  if (changes == 0) {
    state.SkipWithError("the caret never blinked");
    return;
  }
  state.counters["cpu_percent"] = percent;
  state.counters["caret_changes"] = changes;
}
BENCHMARK(BM_IdleBlinkingCaret)->ArgName("gpu")->Arg(0)->Arg(1)->UseManualTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  viewbench::useAVirtualDisplayIfNone(argc, argv);
  if (!viewbench::runBenchmarks(argc, argv)) return 1;
  return 0;
}
