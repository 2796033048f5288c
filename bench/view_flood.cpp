// Frame time during a flood: a child `cat`s 24 MiB of dense SGR frames (every cell a new 256-colour
// or true-colour foreground and background, bold, italic and underline toggled, each frame from
// the home position) into a terminal view of 100x31 cells on the Cairo path, in a window on an X
// display, painted by the renderer the application would choose there. The view's own frame clock gives the time
// between the frames that drew the flood's output; the counters give its median and 95th percentile (milliseconds),
// the median processor time the main thread spent in such a frame, and the bytes per second drained.
// BM_FloodFrameTimeGpu runs the same flood with the view drawing through its OpenGL renderer.
// BM_FloodLines runs a log instead: 24 MiB of plain lines of 1 to 79 characters that scroll into
// the scrollback, as a build or `cat` of a log prints them, through the pty in its default modes.
//
// Without a display the program runs itself again under xvfb-run.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/window.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/View/LocalProcessTerminalView.h"
#include "Vantrelle/View/WindowRenderer.h"
#include "bench/ViewBench.h"

namespace {

constexpr int cols = 100, rows = 31;

double threadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

std::string denseScreen(unsigned seed) { return viewbench::denseFrame(cols, rows, seed); }
constexpr size_t floodBytes = size_t(24) << 20;

// The files written, removed at the end.
std::vector<std::string> floodFiles;

// A flood as a file of `floodBytes` or a little more, made of the pieces `piece` gives in turn.
template <typename Piece>
std::string writeFloodFile(Piece piece) {
  std::string name = "/tmp/vantrelle-flood-XXXXXX";
  int fd = mkstemp(name.data());
  floodFiles.push_back(name);
  size_t written = 0;
  for (unsigned i = 0; written < floodBytes; i++) {
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

struct FloodHost : vantrelle::LocalProcessTerminalViewDelegate {
  bool ended = false;
  void sizeChanged(vantrelle::LocalProcessTerminalView&, int, int) override {}
  void setTerminalTitle(vantrelle::LocalProcessTerminalView&, const std::string&) override {}
  void hostCurrentDirectoryUpdate(vantrelle::TerminalView&, const std::optional<std::string>&) override {}
  void processTerminated(vantrelle::TerminalView&, std::optional<int32_t>) override { ended = true; }
};

void floodFrameTime(benchmark::State& state, bool gpu, const std::string& file) {
  std::vector<double> intervals, frameCpu;
  size_t bytes = 0;
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
      try {
        view.setUseMetal(true);
      } catch (const vantrelle::MetalError& error) {
        state.SkipWithError(("no OpenGL drawing: " + error.description()).c_str());
        break;
      }
    }
    window.present();
    while (!view.get_mapped()) g_main_context_iteration(nullptr, TRUE);
    // Each painted frame that drew new terminal contents, timed by the frame clock.
    gint64 lastFrame = 0;
    uint64_t drawn = view.contentFramesDrawn;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view.gobj()));
    struct Probe {
      vantrelle::TerminalView* view;
      uint64_t* drawn;
      gint64* lastFrame;
      std::vector<double>* intervals;
      std::vector<double>* frameCpu;
      double frameStartCpu = 0;
    } probe{&view, &drawn, &lastFrame, &intervals, &frameCpu};
    gulong start = g_signal_connect(
        clock, "before-paint", G_CALLBACK(+[](GdkFrameClock*, Probe* p) { p->frameStartCpu = threadCpuMs(); }), &probe);
    gulong handler = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock* c, Probe* p) {
                                        if (p->view->contentFramesDrawn == *p->drawn) return;
                                        *p->drawn = p->view->contentFramesDrawn;
                                        // The window's first, empty screen comes before the flood,
                                        // and the clock, idle after it, starts a new beat for the
                                        // flood's first frame: the time in between is no frame time of
                                        // the flood.
                                        auto first = p->view->getTerminal().getCharData(0, 0);
                                        if (!first || first->code == 0) return;
                                        p->frameCpu->push_back(threadCpuMs() - p->frameStartCpu);
                                        gint64 now = gdk_frame_clock_get_frame_time(c);
                                        if (*p->lastFrame) p->intervals->push_back(double(now - *p->lastFrame) / 1000);
                                        *p->lastFrame = now;
                                      }),
                                      &probe);
    view.startProcess("/bin/cat", {file});
    while (!host.ended) g_main_context_iteration(nullptr, TRUE);
    g_signal_handler_disconnect(clock, handler);
    g_signal_handler_disconnect(clock, start);
    if (view.getTerminal().cols != cols || view.getTerminal().rows != rows) {
      state.SkipWithError("the view did not get a 100x31 grid");
      break;
    }
    bytes += floodBytes;
    window.unset_child();
  }
  state.SetBytesProcessed(int64_t(bytes));
  state.counters["frames"] = double(intervals.size());
  state.counters["median_frame_ms"] = viewbench::percentile(intervals, 0.5);
  state.counters["p95_frame_ms"] = viewbench::percentile(intervals, 0.95);
  state.counters["frame_cpu_ms"] = viewbench::percentile(frameCpu, 0.5);
}

void BM_FloodFrameTime(benchmark::State& state) { floodFrameTime(state, false, floodFile()); }
BENCHMARK(BM_FloodFrameTime)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_FloodFrameTimeGpu(benchmark::State& state) { floodFrameTime(state, true, floodFile()); }
BENCHMARK(BM_FloodFrameTimeGpu)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_FloodLines(benchmark::State& state) { floodFrameTime(state, false, logFile()); }
BENCHMARK(BM_FloodLines)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  viewbench::useAVirtualDisplayIfNone(argc, argv);
  gtk_init();
  Gtk::init_gtkmm_internals();
  // Windows are painted as the application paints them: with Cairo where OpenGL is a software
  // rasterizer, as on a virtual display, unless GSK_RENDERER chooses.
  if (const char* chosen = std::getenv("GSK_RENDERER"); (!chosen || !*chosen) && vantrelle::displayGLIsSoftware())
    setenv("GSK_RENDERER", "cairo", 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string& file : floodFiles) std::remove(file.c_str());
  return 0;
}
