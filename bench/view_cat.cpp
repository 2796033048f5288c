// What a `cat` of plain text costs the terminal program as a whole: vantrelle-demo runs
// `cat` of 32 MiB of lines of 1 to 79 printable characters in its window (800x500, on the Cairo
// path, or /gpu:1 through its OpenGL renderer) and exits when `cat` does. The measure is the demo's
// own processor time, user and system, of all its threads (its reader thread and its hand-off to the
// main loop included), but not cat's: it is read from /proc once the demo has ended and before it is
// reaped. A run of an empty file, the start and end of the program, is taken off, so that
// cpu_ms_per_mib is what each MiB of output costs (the median of five runs; wall_ms_per_mib the time it
// took). voluntary_switches_per_mib and
// involuntary_switches_per_mib count the context switches of the demo and its child per MiB, as the
// kernel reports them when both are reaped.
//
// VANTRELLE_BENCH_DEMO names another build's vantrelle-demo, to compare two builds under one
// measure. Without a display the program runs itself again under xvfb-run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/Demo.h"
#include "bench/ViewBench.h"

namespace {

constexpr size_t textBytes = size_t(32) << 20;

std::vector<std::string> madeFiles;

std::string makeFile(size_t size) {
  std::string name = (std::filesystem::temp_directory_path() / "vantrelle-cat-XXXXXX").string();
  int fd = mkstemp(name.data());
  madeFiles.push_back(name);
  std::string block;
  unsigned state = 7;
  for (size_t written = 0; written < size; written += block.size()) {
    block.clear();
    for (int line = 0; line < 64; line++) {
      state = state * 1103515245u + 12345u;
      const unsigned length = 1 + (state >> 8) % 79;
      for (unsigned i = 0; i < length; i++) block += char('!' + (state >> (i % 16)) % 94);
      block += '\n';
    }
    if (write(fd, block.data(), block.size()) != ssize_t(block.size())) break;
  }
  close(fd);
  return name;
}

struct Run {
  double cpuMs = 0, wallMs = 0;
  long voluntary = 0, involuntary = 0;
  bool ok = false;
};

// The demo's processor time over its life, read from its stat line while it waits to be reaped.
Run catInDemo(const std::string& file, bool gpu) {
  std::vector<std::string> arguments;
  if (gpu) arguments.push_back("--gpu");
  arguments.insert(arguments.end(), {"--", "cat", file});
  const auto start = std::chrono::steady_clock::now();
  viewbench::Demo demo(viewbench::demoProgram(), arguments);
  Run run;
  siginfo_t info{};
  if (waitid(P_PID, id_t(demo.pid), &info, WEXITED | WNOWAIT) != 0) return run;
  run.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::ifstream statFile("/proc/" + std::to_string(demo.pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), {});
  // The fields after the command's name, which may hold spaces, from the third on.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  std::vector<std::string> values;
  while (fields >> field) values.push_back(field);
  rusage usage{};
  int status = 0;
  wait4(demo.pid, &status, 0, &usage);
  demo.pid = -1;
  if (values.size() < 13) return run;
  const double tick = double(sysconf(_SC_CLK_TCK));
  // utime and stime, the 14th and 15th fields.
  run.cpuMs = (std::stod(values[11]) + std::stod(values[12])) * 1e3 / tick;
  run.voluntary = usage.ru_nvcsw;
  run.involuntary = usage.ru_nivcsw;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

void catPlainText(benchmark::State& state) {
  const bool gpu = state.range(0) != 0;
  static const std::string empty = makeFile(0), text = makeFile(textBytes);
  std::vector<double> perMib, wallPerMib;
  double voluntary = 0, involuntary = 0;
  for (auto _ : state) {
    Run base = catInDemo(empty, gpu), full = catInDemo(text, gpu);
    if (!base.ok || !full.ok) {
      state.SkipWithError("the demo did not run cat to its end");
      return;
    }
    const double mib = double(textBytes) / double(1 << 20);
    perMib.push_back((full.cpuMs - base.cpuMs) / mib);
    wallPerMib.push_back((full.wallMs - base.wallMs) / mib);
    voluntary += double(full.voluntary - base.voluntary) / mib;
    involuntary += double(full.involuntary - base.involuntary) / mib;
  }
  const double runs = double(perMib.size());
  state.counters["cpu_ms_per_mib"] = viewbench::percentile(perMib, 0.5);
  state.counters["wall_ms_per_mib"] = viewbench::percentile(wallPerMib, 0.5);
  state.counters["voluntary_switches_per_mib"] = voluntary / runs;
  state.counters["involuntary_switches_per_mib"] = involuntary / runs;
  state.SetBytesProcessed(int64_t(textBytes * perMib.size()));
}
BENCHMARK(catPlainText)->Name("BM_CatPlainText")->ArgName("gpu")->Arg(0)->Arg(1)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  viewbench::useAVirtualDisplayIfNone(argc, argv);
  if (!viewbench::runBenchmarks(argc, argv)) return 1;
  for (const std::string& file : madeFiles) std::remove(file.c_str());
  return 0;
}
