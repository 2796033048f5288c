// Frame times during a flood: a child `cat`s 24 MiB of dense SGR frames (every cell a new 256-colour
// or true-colour foreground and background, bold, italic and underline toggled, each frame from
// the home position) into a terminal view of 100x31 cells on the Cairo path, in a window on an X
// display, painted by the renderer the application would choose there. Each frame that drew the
// flood's output is timed by the monotonic clock, not by the frame clock's beat (which only counts
// in whole frames and so cannot show a frame a few milliseconds late):
//   interval_p50/p95/p99_ms  from the end of one such frame's paint to the end of the next's, as the
//                            screen shows them (16.7 ms is the beat of a 60 Hz display);
//   work_p50/p95/p99_ms      wall time from the frame's start (before-paint) to the end of its paint;
//   cpu_p50/p95_ms           processor time the main thread spent in that span, a figure of its own:
//                            work well above it is time the thread waited or was not run;
//   ahead_p50/p95_ms         the view's drawing for the frame that was done just before it started
//                            (output that keeps coming is drawn ahead), which work does not hold;
//   bytes_per_second         the flood drained, with the frames counted in `frames`.
// The Cairo flood runs twelve times, so that its 95th percentiles stand on some 150 intervals.
// BM_FloodFrameTimeGpu runs the same flood with the view drawing through its OpenGL renderer.
// BM_FloodLines runs a log instead: 24 MiB of plain lines of 1 to 79 characters that scroll into
// the scrollback, as a build or `cat` of a log prints them, through the pty in its default modes.
// BM_FloodEmoji and BM_FloodEmojiGpu drain 8 MiB of lines as prompts, test runners and chat tools
// print them: short words in changing colours with an emoji, a symbol or a joined sequence between
// them, the emoji taken from the whole emoji set so that the drain keeps meeting glyphs it has not
// drawn before. Every flood also reports the processor time it took per MiB drained, of the whole
// process (cpu_ms_per_mib, with the threads that draw for the OpenGL path) and of the main thread.
// BM_FloodLateFrames proves the timing can fail: it sleeps in the paint of every tenth frame of the
// Cairo flood, and the program fails unless its interval and work percentiles show those frames.
//
// Without a display the program runs itself again under xvfb-run.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/View/LocalProcessTerminalView.h"
#include "Vantrelle/View/WindowRenderer.h"
#include "bench/ViewBench.h"

namespace {

constexpr int cols = 100, rows = 31;

double clockMs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

std::string denseScreen(unsigned seed) { return viewbench::denseFrame(cols, rows, seed); }
constexpr size_t floodBytes = size_t(24) << 20;

// The files written, removed at the end.
std::vector<std::string> floodFiles;

// A flood as a file of `size` bytes or a little more, made of the pieces `piece` gives in turn.
template <typename Piece>
std::string writeFloodFile(Piece piece, size_t size = floodBytes) {
  std::string name = (std::filesystem::temp_directory_path() / "vantrelle-flood-XXXXXX").string();
  int fd = mkstemp(name.data());
  floodFiles.push_back(name);
  size_t written = 0;
  for (unsigned i = 0; written < size; i++) {
    std::string text = piece(i);
    written += size_t(write(fd, text.data(), text.size()));
  }
  close(fd);
  return name;
}

// The flood as a file, written once.
std::string floodFile() {
  static const std::string path = writeFloodFile(denseScreen);
  return path;
}

// The log as a file, written once: lines of 1 to 79 printable characters, in blocks of 64.
std::string logFile() {
  static const std::string path = writeFloodFile([](unsigned block) {
    std::string lines;
    unsigned state = block * 2654435761u + 7;
    for (int line = 0; line < 64; line++) {
      state = state * 1103515245u + 12345u;
      const unsigned length = 1 + (state >> 8) % 79;
      for (unsigned i = 0; i < length; i++) lines += char('!' + (state >> (i % 16)) % 94);
      lines += '\n';
    }
    return lines;
  });
  return path;
}

constexpr size_t emojiFloodBytes = size_t(8) << 20;

// The emoji flood as a file, written once: blocks of 64 emoji-heavy lines of up to 90 columns.
std::string emojiFile() {
  static const std::string path = [] {
    viewbench::EmojiText emoji;
    return writeFloodFile(
        [&](unsigned block) {
          std::string lines;
          unsigned state = block * 2654435761u + 11;
          for (int line = 0; line < 64; line++) lines += emoji.line(90, state) + "\r\n";
          return lines;
        },
        emojiFloodBytes);
  }();
  return path;
}

struct FloodHost : vantrelle::LocalProcessTerminalViewDelegate {
  bool ended = false;
  void sizeChanged(vantrelle::LocalProcessTerminalView&, int, int) override {}
  void setTerminalTitle(vantrelle::LocalProcessTerminalView&, const std::string&) override {}
  void hostCurrentDirectoryUpdate(vantrelle::TerminalView&, const std::optional<std::string>&) override {}
  void processTerminated(vantrelle::TerminalView&, std::optional<int32_t>) override { ended = true; }
};

// Times the frames of one view's frame clock that drew new terminal contents.
struct FrameProbe {
  vantrelle::TerminalView* view;
  viewbench::FrameTimes* times;
  // Milliseconds to sleep in the paint of every tenth frame (0: none).
  double lateMs = 0;
  uint64_t drawn = 0;
  double startWall = 0, startCpu = 0, lastEnd = 0;
  size_t sleptAt = SIZE_MAX;

  static void beforePaint(GdkFrameClock*, FrameProbe* p) {
    p->startWall = clockMs(CLOCK_MONOTONIC);
    p->startCpu = clockMs(CLOCK_THREAD_CPUTIME_ID);
    const size_t frame = p->times->frames();
    if (p->lateMs <= 0 || frame % 10 != 9 || frame == p->sleptAt) return;
    p->sleptAt = frame;
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(p->lateMs));
  }
  static void afterPaint(GdkFrameClock*, FrameProbe* p) {
    const double end = clockMs(CLOCK_MONOTONIC), cpu = clockMs(CLOCK_THREAD_CPUTIME_ID) - p->startCpu;
    if (p->view->contentFramesDrawn == p->drawn) return;
    p->drawn = p->view->contentFramesDrawn;
    // The window's first, empty screen comes before the flood, and the time until the flood's first
    // frame is the child starting: no frame time of the flood.
    auto first = p->view->getTerminal().getCharData(0, 0);
    if (!first || first->code == 0) return;
    p->times->add(p->lastEnd ? end - p->lastEnd : -1, end - p->startWall, cpu,
                  double(p->view->drawingPath().lastDrawnAheadNs()) / 1e6);
    p->lastEnd = end;
  }
};

// Set when a run that makes late frames did not see them.
bool lateFramesMissed = false;

void floodFrameTime(benchmark::State& state, bool gpu, const std::string& file, double lateMs = 0,
                    size_t fileBytes = floodBytes) {
  viewbench::FrameTimes times;
  size_t bytes = 0;
  double cpuMs = 0, mainCpuMs = 0;
  for (auto _ : state) {
    Gtk::Window window;
    vantrelle::LocalProcessTerminalView view;
    FloodHost host;
    view.processDelegate = &host;
    vantrelle::ViewSize cell = *view.cellDimension;
    // The scroller keeps a strip of its own beside the grid.
    double strip = view.getOptimalFrameSize().width - cell.width * view.getTerminal().cols;
    window.set_default_size(int(cell.width * cols + strip + 0.5), int(cell.height * rows + 0.5));
    window.set_child(view);
    if (gpu) {
      view.gpuState.shaderDirectory = VANTRELLE_SHADERS;
      try {
        view.setUseMetal(true);
      } catch (const vantrelle::MetalError& error) {
        state.SkipWithError(("no OpenGL drawing: " + error.description()).c_str());
        break;
      }
    }
    window.present();
    while (!view.get_mapped()) g_main_context_iteration(nullptr, TRUE);
    FrameProbe probe{&view, &times, lateMs, view.contentFramesDrawn};
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view.gobj()));
    gulong start = g_signal_connect(clock, "before-paint", G_CALLBACK(&FrameProbe::beforePaint), &probe);
    gulong end = g_signal_connect(clock, "after-paint", G_CALLBACK(&FrameProbe::afterPaint), &probe);
    const double cpuStart = clockMs(CLOCK_PROCESS_CPUTIME_ID), mainCpuStart = clockMs(CLOCK_THREAD_CPUTIME_ID);
    view.startProcess("/bin/cat", {file});
    while (!host.ended) g_main_context_iteration(nullptr, TRUE);
    cpuMs += clockMs(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    mainCpuMs += clockMs(CLOCK_THREAD_CPUTIME_ID) - mainCpuStart;
    g_signal_handler_disconnect(clock, end);
    g_signal_handler_disconnect(clock, start);
    if (view.getTerminal().cols != cols || view.getTerminal().rows != rows) {
      state.SkipWithError("the view did not get a 100x31 grid");
      break;
    }
    bytes += fileBytes;
    window.unset_child();
  }
  state.SetBytesProcessed(int64_t(bytes));
  times.report(state);
  const double mib = double(bytes) / double(1 << 20);
  if (mib > 0) {
    state.counters["cpu_ms_per_mib"] = cpuMs / mib;
    state.counters["main_cpu_ms_per_mib"] = mainCpuMs / mib;
  }
  // One frame in ten is late, so the 95th percentiles lie among the late ones.
  if (lateMs > 0 && (times.intervalMs(0.95) < lateMs || times.workMs(0.95) < lateMs)) {
    lateFramesMissed = true;
    state.SkipWithError("frames made late did not show in the frame times");
  }
}

void BM_FloodFrameTime(benchmark::State& state) { floodFrameTime(state, false, floodFile()); }
BENCHMARK(BM_FloodFrameTime)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(12);

void BM_FloodFrameTimeGpu(benchmark::State& state) { floodFrameTime(state, true, floodFile()); }
BENCHMARK(BM_FloodFrameTimeGpu)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

void BM_FloodLines(benchmark::State& state) { floodFrameTime(state, false, logFile()); }
BENCHMARK(BM_FloodLines)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

void BM_FloodEmoji(benchmark::State& state) { floodFrameTime(state, false, emojiFile(), 0, emojiFloodBytes); }
BENCHMARK(BM_FloodEmoji)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

void BM_FloodEmojiGpu(benchmark::State& state) { floodFrameTime(state, true, emojiFile(), 0, emojiFloodBytes); }
BENCHMARK(BM_FloodEmojiGpu)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

// 25 ms, a frame and a half: a clock that counted in whole frames would not give it.
void BM_FloodLateFrames(benchmark::State& state) { floodFrameTime(state, false, floodFile(), 25); }
BENCHMARK(BM_FloodLateFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  viewbench::useAVirtualDisplayIfNone(argc, argv);
  gtk_init();
  Gtk::init_gtkmm_internals();
  // Windows are painted as the application paints them: with Cairo where OpenGL is a software
  // rasterizer, as on a virtual display, unless GSK_RENDERER chooses.
  if (const char* chosen = std::getenv("GSK_RENDERER"); (!chosen || !*chosen) && vantrelle::displayGLIsSoftware())
    setenv("GSK_RENDERER", "cairo", 1);
  if (!viewbench::runBenchmarks(argc, argv)) return 1;
  for (const std::string& file : floodFiles) std::remove(file.c_str());
  return lateFramesMissed ? 1 : 0;
}
