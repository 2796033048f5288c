// Keystroke to screen: an X client types a letter with XTEST into vantrelle-demo running `cat` in
// an 80x25 grid with a steady caret, and times how long the echoed glyph takes to reach the
// screen, read back from the X server. BM_KeystrokeToScreen/busy:0 types into a quiet terminal;
// /busy:1 while the program also rewrites a line every 10 ms; /busy:2 while a region of 12 rows
// below scrolls by a new line every 10 ms, the rows above and below it staying; /wide:1 types into
// a quiet 160x50 grid, four times the cells, whose echoes should cost the program no more than in
// the small one.
// Each iteration is one keystroke, typed and erased again; the median and the 90th and 95th
// percentiles are given as counters (milliseconds), and cpu_ms_per_echo, the demo's CPU time
// (all threads) over the keystrokes divided by the echoes drawn, two a keystroke (with busy, the
// program's other output is drawn in that time too).
//
// The client sleeps until the X server reports that the window's pixels changed (DAMAGE), then
// reads the probed cells back once. Polling the pixels instead kept the client and the X server
// busy on the very cores the terminal needs to answer, and the measure rose with the polling.
// What the measure adds to the program's own time is the X server's damage event and one read of
// the probe.
//
// VANTRELLE_BENCH_DEMO names another build's vantrelle-demo, to compare two builds under one
// measure. Without a display the program runs itself again under xvfb-run.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/Demo.h"
#include "bench/ViewBench.h"
#include "bench/XWindows.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Grid {
  int cols;
  int rows;
};

// The child: a steady block caret, the grid reported in the title until it has the wanted size,
// then `cat` at the top left; busy, a background loop rewrites row 13 every 10 ms, or scrolls rows
// 8 to 19 by a line of a log, leaving the cursor where it was.
enum class Busy { quiet, line, region };
std::string childScript(Busy busy, Grid grid) {
  std::string size = std::to_string(grid.rows) + " " + std::to_string(grid.cols);
  std::string script =
      "printf '\\033[2 q'; "
      "while :; do s=$(stty size); printf '\\033]2;grid %s\\007' \"$s\"; [ \"$s\" = '" +
      size +
      "' ] && break; "
      "sleep 0.05; done; printf '\\033[2J\\033[H'; ";
  if (busy == Busy::line) {
    script +=
        "(i=0; while :; do i=$((i+1)); printf '\\0337\\033[13;1Hbusy line %d\\033[K\\0338' $i; sleep 0.01; done) & ";
  } else if (busy == Busy::region) {
    script +=
        "(i=0; while :; do i=$((i+1)); printf '\\0337\\033[8;19r\\033[19;1H\\n\\033[32m%05d INFO\\033[m request %d "
        "served from the cache in %d ms\\033[K\\033[r\\0338' $i $i $((i % 97)); sleep 0.01; done) & ";
  }
  return script + "exec cat";
}

// The pixels of a rectangle of the window, as the X server has them.
std::vector<uint32_t> grab(Display* display, Window window, int x, int y, int width, int height) {
  std::vector<uint32_t> pixels;
  XImage* image = XGetImage(display, window, x, y, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
  if (!image) return pixels;
  pixels.reserve(size_t(width) * height);
  for (int row = 0; row < height; row++) {
    for (int col = 0; col < width; col++) pixels.push_back(uint32_t(XGetPixel(image, col, row)));
  }
  XDestroyImage(image);
  return pixels;
}

void press(Display* display, KeySym symbol) {
  KeyCode code = XKeysymToKeycode(display, symbol);
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  XFlush(display);
}

// The window's damage as the X server reports it: one event each time undrawn-on pixels are
// drawn on, after which the damage is taken away so that the next drawing reports again.
class WindowDamage {
 public:
  WindowDamage(Display* display, Window window) : display(display) {
    int error;
    if (!XDamageQueryExtension(display, &eventBase, &error)) return;
    damage = XDamageCreate(display, window, XDamageReportNonEmpty);
    XSync(display, False);
  }
  ~WindowDamage() {
    if (damage) XDamageDestroy(display, damage);
  }
  WindowDamage(const WindowDamage&) = delete;
  WindowDamage& operator=(const WindowDamage&) = delete;
  bool available() const { return damage != 0; }

  // Forgets what was drawn so far. The reports are dropped before the damage is taken away: a
  // report dropped after it would leave damage that never reports again.
  void clear() {
    XSync(display, False);
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
    }
    XDamageSubtract(display, damage, None, None);
    XFlush(display);
  }

  // Waits for the window to be drawn on; false at the deadline. The damage is taken away before
  // returning, so drawing that lands after the caller's look at the pixels reports again.
  bool waitUntil(Clock::time_point deadline) {
    for (;;) {
      while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == eventBase + XDamageNotify) {
          XDamageSubtract(display, damage, None, None);
          return true;
        }
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd connection{ConnectionNumber(display), POLLIN, 0};
      poll(&connection, 1, int(left));
    }
  }

 private:
  Display* display;
  Damage damage = 0;
  int eventBase = 0;
};

// Waits until `changed` says the rectangle's pixels moved on; false after the time-out. The pixels
// are read again each time the window is drawn on.
template <class Predicate>
bool waitForPixels(Display* display, Window window, WindowDamage& damage, int x, int y, int w, int h, Predicate changed,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  auto deadline = Clock::now() + limit;
  if (changed(grab(display, window, x, y, w, h))) return true;
  while (damage.waitUntil(deadline)) {
    if (changed(grab(display, window, x, y, w, h))) return true;
  }
  return false;
}

struct Session {
  Display* display = nullptr;
  Window window = 0;
  int cellWidth = 0;
  int cellHeight = 0;
  std::string error;

  Session(Display* display, pid_t pid, Grid grid) : display(display) {
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!(window = viewbench::findWindow(display, pid))) {
      if (Clock::now() > deadline) {
        error = "the demo's window never appeared";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sizeTo(grid, deadline);
  }

  // Steps the window's size until the child reports the grid in the title.
  void sizeTo(Grid grid, Clock::time_point deadline) {
    while (Clock::now() < deadline) {
      int rows = 0, cols = 0;
      if (std::sscanf(viewbench::windowTitle(display, window).c_str(), "grid %d %d", &rows, &cols) == 2 && rows > 0 &&
          cols > 0) {
        XWindowAttributes attributes;
        XGetWindowAttributes(display, window, &attributes);
        cellWidth = attributes.width / cols;
        cellHeight = attributes.height / rows;
        if (rows == grid.rows && cols == grid.cols) return;
        int width = attributes.width + (grid.cols - cols) * cellWidth + (cols > grid.cols ? 0 : cellWidth / 2);
        int height = attributes.height + (grid.rows - rows) * cellHeight + (rows > grid.rows ? 0 : cellHeight / 2);
        XResizeWindow(display, window, unsigned(std::max(width, 1)), unsigned(std::max(height, 1)));
        XFlush(display);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    error = "the grid never reached its size";
  }
};

// The CPU time a process has used so far, all its threads, in seconds; nothing if it is gone.
std::optional<double> cpuSeconds(pid_t pid) {
  clockid_t clock;
  timespec used{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0) return std::nullopt;
  return double(used.tv_sec) + double(used.tv_nsec) * 1e-9;
}

struct Typed {
  // The milliseconds each echo of the letter took to reach the screen.
  std::vector<double> samples;
  // The demo's CPU time over the keystrokes, in seconds.
  double cpu = 0;
};

// Types the letter once per iteration and erases it again.
Typed typeAndTime(benchmark::State& state, Display* display, const Session& session, pid_t demo) {
  // Wait for the cleared screen: the caret alone at the top left. The probe covers the first two
  // cells: the echoed letter lands in the first, the caret moves to the second.
  const int w = 2 * session.cellWidth, h = session.cellHeight;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<uint32_t> quiet = grab(display, session.window, 0, 0, w, h);
  Typed typed;
  std::vector<double>& samples = typed.samples;
  WindowDamage damage(display, session.window);
  if (!damage.available()) {
    state.SkipWithError("the X server has no DAMAGE extension");
    return typed;
  }
  std::mt19937 random(7);
  std::optional<double> cpuBefore = cpuSeconds(demo);
  for (auto _ : state) {
    damage.clear();
    auto start = Clock::now();
    press(display, XK_a);
    bool echoed = waitForPixels(display, session.window, damage, 0, 0, w, h,
                                [&](const std::vector<uint32_t>& p) { return p != quiet; });
    auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!echoed) {
      state.SkipWithError("the echo never reached the screen");
      break;
    }
    state.SetIterationTime(seconds);
    samples.push_back(seconds * 1000);
    // Erase the letter and wait for the quiet cell again, then pause as a typist would, at no
    // fixed phase against the frames.
    press(display, XK_BackSpace);
    if (!waitForPixels(display, session.window, damage, 0, 0, w, h,
                       [&](const std::vector<uint32_t>& p) { return p == quiet; })) {
      state.SkipWithError("the erased letter stayed on screen");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 40));
  }
  std::optional<double> cpuAfter = cpuSeconds(demo);
  if (cpuBefore && cpuAfter) typed.cpu = *cpuAfter - *cpuBefore;
  return typed;
}

void BM_KeystrokeToScreen(benchmark::State& state) {
  Busy busy = Busy(state.range(0));
  Grid grid = state.range(1) ? Grid{160, 50} : Grid{80, 25};
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    state.SkipWithError("no X display");
    return;
  }
  viewbench::Demo demo(viewbench::demoProgram(), {"--", "/bin/sh", "-c", childScript(busy, grid)});
  Session session(display, demo.pid, grid);
  if (!session.error.empty()) {
    state.SkipWithError(session.error.c_str());
    XCloseDisplay(display);
    return;
  }
  Typed typed = typeAndTime(state, display, session, demo.pid);
  state.counters["median_ms"] = viewbench::percentile(typed.samples, 0.5);
  state.counters["p90_ms"] = viewbench::percentile(typed.samples, 0.9);
  state.counters["p95_ms"] = viewbench::percentile(typed.samples, 0.95);
  if (!typed.samples.empty())
    state.counters["cpu_ms_per_echo"] = typed.cpu * 1000 / (2.0 * double(typed.samples.size()));
  XCloseDisplay(display);
}
BENCHMARK(BM_KeystrokeToScreen)
    ->ArgNames({"busy", "wide"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({0, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);

}  // namespace

int main(int argc, char** argv) {
  viewbench::useAVirtualDisplayIfNone(argc, argv);
  if (!viewbench::runBenchmarks(argc, argv)) return 1;
  return 0;
}
