// Drawing a whole screen on the Cairo path: a 100x31 view repaints every row of a dense SGR frame
// (every cell a new 256-colour or true-colour foreground and background, bold, italic and underline
// toggled), of plain text, of emoji-heavy text, of a screen that scrolled by one line, or of a
// large picture shown through placeholder characters, into its backing surface; and the rows of a
// scrolling region, on both paths.
// Each iteration feeds the next frame and draws it, as a flood does between two frames; the time
// is per screen.
//
// Without a display the program runs itself again under xvfb-run.
#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/TerminalView.h"
#include "bench/ViewBench.h"

namespace {

constexpr int cols = 100, rows = 31;

std::string denseScreen(unsigned seed) { return viewbench::denseFrame(cols, rows, seed); }

std::string plainFrame(unsigned seed) {
  std::string frame = "\x1b[H";
  for (int row = 0; row < rows; row++) {
    for (int col = 0; col < cols; col++) frame += char('a' + (seed + unsigned(row * 7 + col)) % 26);
    if (row + 1 < rows) frame += "\r\n";
  }
  return frame;
}

struct View {
  vantrelle::TerminalView view;
  View() {
    vantrelle::ViewSize cell = *view.cellDimension;
    view.scaleFactorOverride = 1.0;
    // The scroller keeps a strip of its own beside the grid.
    double strip = view.getOptimalFrameSize().width - cell.width * view.getTerminal().cols;
    view.size_allocate(Gtk::Allocation(0, 0, int(cell.width * cols + strip + 0.5), int(cell.height * rows + 0.5)), -1);
  }
  vantrelle::CairoDrawingPath& path() { return static_cast<vantrelle::CairoDrawingPath&>(view.drawingPath()); }
  // Feeds `bytes`, then repaints what changed into the backing surface.
  void show(const std::string& bytes) {
    view.feed(bytes);
    view.updateDisplay(false);
    path().render();
  }
};

void drawFrames(benchmark::State& state, std::string (*frame)(unsigned), bool direct = true) {
  View screen;
  screen.view.paintsCellsDirectly = direct;
  if (screen.view.getTerminal().cols != cols || screen.view.getTerminal().rows != rows) {
    state.SkipWithError("the view did not get a 100x31 grid");
    return;
  }
  std::vector<std::string> frames;
  for (unsigned i = 0; i < 16; i++) frames.push_back(frame(i));
  unsigned i = 0;
  for (auto _ : state) screen.show(frames[i++ % frames.size()]);
  state.counters["rows_drawn"] = screen.view.rowsDrawnInLastPass();
}

void BM_DenseScreen(benchmark::State& state) { drawFrames(state, denseScreen); }
BENCHMARK(BM_DenseScreen)->Unit(benchmark::kMillisecond);

// The same with every cell painted through Cairo, for comparing the two ways of painting cells.
void BM_DenseScreenThroughCairo(benchmark::State& state) { drawFrames(state, denseScreen, false); }
BENCHMARK(BM_DenseScreenThroughCairo)->Unit(benchmark::kMillisecond);

void BM_PlainScreen(benchmark::State& state) { drawFrames(state, plainFrame); }
BENCHMARK(BM_PlainScreen)->Unit(benchmark::kMillisecond);

// Screens of emoji-heavy lines (see viewbench::EmojiText), each line ending in an erase to its end.
// The number of frames is fixed, so that an instruction count of the program compares builds.
std::string emojiScreen(unsigned seed) {
  static const viewbench::EmojiText emoji;
  std::string frame = "\x1b[H";
  unsigned state = seed * 2654435761u + 3;
  for (int row = 0; row < rows; row++) frame += emoji.line(cols, state) + (row + 1 < rows ? "\x1b[K\r\n" : "\x1b[K");
  return frame;
}

void BM_EmojiScreen(benchmark::State& state) { drawFrames(state, emojiScreen); }
BENCHMARK(BM_EmojiScreen)->Unit(benchmark::kMillisecond)->Iterations(64);

// Output that scrolls: one new line at the bottom per frame, every other row moved up by one.
void BM_ScrolledScreen(benchmark::State& state) {
  View screen;
  std::string fill = denseScreen(1);
  screen.show(fill);
  std::vector<std::string> lines;
  for (unsigned i = 0; i < 16; i++) {
    std::string frame = denseScreen(i + 2);
    lines.push_back("\r\n" + frame.substr(frame.rfind("\r\n") + 2));
  }
  unsigned i = 0;
  for (auto _ : state) screen.show(lines[i++ % lines.size()]);
  state.counters["rows_drawn"] = screen.view.rowsDrawnInLastPass();
}
BENCHMARK(BM_ScrolledScreen)->Unit(benchmark::kMillisecond);

// A region of 12 rows that scrolls by one line a frame, as a build log or a chat pane under a
// status line does: every other row of the region only moved. Its lines are log lines of a few
// coloured words, so that their runs are longer than a handful of characters. The frames are
// fixed, so that an instruction count of the program compares builds; texts_shaped counts the
// texts of runs shaped for the last frame.
std::string logLine(unsigned seed) {
  static const char* levels[] = {"\x1b[32mINFO \x1b[m", "\x1b[33mWARN \x1b[m", "\x1b[36mDEBUG\x1b[m"};
  static const char* words[] = {"compiling", "module",  "linked", "request", "served", "cache", "miss",  "queue",
                                "worker",    "started", "done",   "bytes",   "from",   "peer",  "retry", "ok"};
  unsigned state = seed * 2654435761u + 7;
  auto next = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "\x1b[2m%02u:%02u:%02u.%03u\x1b[m ", seed / 3600 % 24, seed / 60 % 60, seed % 60,
                next() % 1000);
  std::string line = std::string(stamp) + levels[next() % 3] + " ";
  while (line.size() < 110) line += std::string(words[next() % 16]) + " " + std::to_string(next() % 10000) + " ";
  return line;
}

constexpr int regionTop = 6, regionBottom = 17;
constexpr unsigned regionIterations = 256;

std::string regionStep(unsigned seed) {
  const std::string esc = "\x1b", region = std::to_string(regionTop) + ";" + std::to_string(regionBottom);
  return esc + "7" + esc + "[" + region + "r" + esc + "[" + std::to_string(regionBottom) + ";1H\n" + logLine(seed) +
         esc + "[K" + esc + "[r" + esc + "8";
}

// The region filled once through `show`, and the steps that scroll it, one for each iteration.
template <typename Show>
std::vector<std::string> regionSteps(Show&& show) {
  show(plainFrame(0));
  for (unsigned i = 0; i < 12; i++) show(regionStep(i));
  std::vector<std::string> steps;
  for (unsigned i = 0; i < regionIterations; i++) steps.push_back(regionStep(12 + i));
  return steps;
}

void BM_ScrolledRegion(benchmark::State& state) {
  View screen;
  auto steps = regionSteps([&](const std::string& bytes) { screen.show(bytes); });
  unsigned i = 0;
  uint64_t shaped = screen.view.textsShaped();
  for (auto _ : state) {
    shaped = screen.view.textsShaped();
    screen.show(steps[i++ % steps.size()]);
  }
  state.counters["rows_drawn"] = screen.view.rowsDrawnInLastPass();
  state.counters["texts_shaped"] = double(screen.view.textsShaped() - shaped);
}
BENCHMARK(BM_ScrolledRegion)->Unit(benchmark::kMillisecond)->Iterations(regionIterations);

// The same on the OpenGL path, the view's drawing path: the frame's draw data built from the rows,
// which is the renderer's share of the processor (the frame's drawing is the GPU's).
void BM_ScrolledRegionGpu(benchmark::State& state) {
  View screen;
  screen.view.gpuState.shaderDirectory = VANTRELLE_SHADERS;
  vantrelle::GpuDrawingPath* gpu = nullptr;
  try {
    auto made = vantrelle::GpuDrawingPath::make(screen.view, VANTRELLE_SHADERS);
    gpu = made.get();
    screen.view.setDrawingPath(std::move(made));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  auto& renderer = gpu->renderer_();
  auto frame = [&](const std::string& bytes) {
    screen.view.feed(bytes);
    screen.view.updateDisplay(false);
    renderer.buildDrawData(gpu->viewSnapshot(), 1.0);
    // As the path does once a frame has drawn the rows marked changed.
    screen.view.gpuState.metalDirtyRange.reset();
  };
  auto steps = regionSteps(frame);
  unsigned i = 0;
  uint64_t shaped = renderer.shaperCache.layoutCount;
  for (auto _ : state) {
    shaped = renderer.shaperCache.layoutCount;
    frame(steps[i++ % steps.size()]);
  }
  state.counters["rows_built"] = renderer.rowsBuiltInLastBuild;
  state.counters["texts_shaped"] = double(renderer.shaperCache.layoutCount - shaped);
}
BENCHMARK(BM_ScrolledRegionGpu)->Unit(benchmark::kMillisecond)->Iterations(regionIterations);

// A large picture (1500x1500) shown through Unicode placeholders over 40x20 cells, its rows
// written again each frame, as a program redrawing its screen around the picture does.
void BM_PlaceholderScreen(benchmark::State& state) {
  View screen;
  constexpr int side = 1500;
  std::string pixels;
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < side * side * 4 / 3; i++) {
    uint32_t bits = uint32_t(i * 2654435761u) >> 8;  // three bytes of noise
    for (int shift = 18; shift >= 0; shift -= 6) pixels += alphabet[(bits >> shift) & 63];
  }
  // Sent in chunks, as clients send images.
  for (size_t at = 0; at < pixels.size(); at += 4096) {
    std::string keys =
        at == 0 ? "a=T,U=1,f=32,s=" + std::to_string(side) + ",v=" + std::to_string(side) + ",i=7,c=40,r=20,q=2," : "";
    keys += at + 4096 < pixels.size() ? "m=1" : "m=0";
    screen.view.feed("\x1b_G" + keys + ";" + pixels.substr(at, 4096) + "\x1b\\");
  }
  if (screen.view.getTerminal().kittyGraphicsState.placementsByKey.empty()) {
    state.SkipWithError("the picture was not placed");
    return;
  }
  // Image id 7 in the foreground colour, each cell's row and column as diacritics.
  static const char* marks[] = {"\xcc\x85", "\xcc\x8d", "\xcc\x8e", "\xcc\x90", "\xcc\x92", "\xcc\xbd", "\xcc\xbe",
                                "\xcc\xbf", "\xcd\x86", "\xcd\x8a", "\xcd\x8b", "\xcd\x8c", "\xcd\x90", "\xcd\x91",
                                "\xcd\x92", "\xcd\x97", "\xcd\x9b", "\xcd\xa3", "\xcd\xa4", "\xcd\xa5"};
  std::string frame = "\x1b[H\x1b[38;5;7m";
  for (int row = 0; row < 20; row++) {
    // The first cell names its row and column; the rest of the row continues from it.
    frame += std::string("\xf4\x8e\xbb\xae") + marks[row] + marks[0];
    for (int col = 1; col < 40; col++) frame += "\xf4\x8e\xbb\xae";
    frame += "\r\n";
  }
  for (auto _ : state) screen.show(frame);
  state.counters["rows_drawn"] = screen.view.rowsDrawnInLastPass();
}
BENCHMARK(BM_PlaceholderScreen)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  viewbench::useAVirtualDisplayIfNone(argc, argv);
  gtk_init();
  Gtk::init_gtkmm_internals();
  if (!viewbench::runBenchmarks(argc, argv)) return 1;
  return 0;
}
