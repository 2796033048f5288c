#pragma once
// What the view benchmarks share: a private virtual display when there is none, the dense frame a
// flood is made of, emoji-heavy text, and percentiles of timings.
#include <benchmark/benchmark.h>
#include <unicode/uchar.h>
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

// Runs the benchmarks the command line names, as each view benchmark's main does; false when the
// line has an option Google Benchmark does not know.
inline bool runBenchmarks(int& argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return true;
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

inline std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xc0 | c >> 6), out += char(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += char(0xe0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3f)), out += char(0x80 | (c & 0x3f));
  } else {
    out += char(0xf0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3f)), out += char(0x80 | (c >> 6 & 0x3f));
    out += char(0x80 | (c & 0x3f));
  }
  return out;
}

// Emoji-heavy lines as prompts, test runners and chat tools print them: words of 2 to 7 letters in
// one of the 256 colours, each followed by one of: an emoji shown as such (two cells), a symbol that
// is text by default written bare (one cell) or with U+FE0F (two cells), an emoji with a skin tone,
// a family joined with U+200D or a flag. The emoji come from the whole emoji set, so that new
// glyphs keep coming.
class EmojiText {
 public:
  EmojiText() {
    for (char32_t c = 0x2000; c < 0x1FB00; c++) {
      if (c == 0x2C00) c = 0x1F000;
      if (!u_hasBinaryProperty(UChar32(c), UCHAR_EMOJI) || (c >= 0x1F1E6 && c <= 0x1F1FF)) continue;
      if (u_hasBinaryProperty(UChar32(c), UCHAR_EMOJI_PRESENTATION)) {
        if (!u_hasBinaryProperty(UChar32(c), UCHAR_EMOJI_MODIFIER)) shown.push_back(utf8(c));
      } else {
        textDefault.push_back(utf8(c));
      }
    }
  }
  // A line of about `columns` columns with the colour reset at its end, from and advancing `state`.
  std::string line(int columns, unsigned& state) const {
    static const std::string skinTones[] = {"\U0001F44D\U0001F3FB", "\U0001F44B\U0001F3FD", "\U0001F9D1\U0001F3FF"};
    static const std::string joined[] = {"\U0001F468\u200D\U0001F469\u200D\U0001F467",
                                         "\U0001F3F3\uFE0F\u200D\U0001F308", "\U0001F1E9\U0001F1EA",
                                         "\U0001F1EF\U0001F1F5"};
    auto next = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
    std::string text;
    for (int column = 0; column < columns - 10;) {
      const unsigned r = next(), letters = 2 + r % 6;
      text += "\x1b[38;5;" + std::to_string((r >> 4) % 256) + "m";
      for (unsigned i = 0; i < letters; i++) text += char('a' + (r >> (i + 8)) % 26);
      text += ' ';
      column += int(letters) + 4;
      switch ((r >> 16) % 8) {
        case 0:
        case 1:
        case 2:
          text += shown[next() % shown.size()];
          break;
        case 3:
        case 4:
          text += textDefault[next() % textDefault.size()];
          break;
        case 5:
          text += textDefault[next() % textDefault.size()] + "\uFE0F";
          break;
        case 6:
          text += skinTones[next() % std::size(skinTones)];
          break;
        default:
          text += joined[next() % std::size(joined)];
          break;
      }
      text += ' ';
    }
    return text + "\x1b[m";
  }

 private:
  std::vector<std::string> shown, textDefault;
};

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
