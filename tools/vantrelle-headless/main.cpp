// vantrelle-headless: runs a command in a HeadlessTerminal and prints the final screen.
//
//   vantrelle-headless [--cols N] [--rows N] [--quiet MS] [--timeout MS] [--send TEXT]...
//                      [--cursor] [--attributes] -- COMMAND [ARGS...]
//
// Each --send is typed once the output has been quiet for --quiet milliseconds (default 300);
// after the last one the screen is printed when the output is quiet again, or when the command
// ends. TEXT understands \e, \r, \n, \t, \\ and \xHH.
#include <glib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Process/HeadlessTerminal.h"
#include "platform/MainLoopTimers.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  int cols = 80;
  int rows = 24;
  int quietMs = 300;
  int timeoutMs = 30000;
  bool cursor = false;
  bool attributes = false;
  std::deque<std::string> sends;
  std::vector<std::string> command;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    switch (c) {
      case 'e':
        out += '\x1b';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'x':
        if (i + 2 < text.size() + 1 && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
          out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
          i += 2;
        } else {
          out += "\\x";
        }
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: vantrelle-headless [--cols N] [--rows N] [--quiet MS] [--timeout MS] [--send TEXT]...\n"
               "                          [--cursor] [--attributes] -- COMMAND [ARGS...]\n");
  std::exit(2);
}

int numberArgument(int& i, int argc, char** argv, int low, int high) {
  if (i + 1 >= argc) usage();
  char* end = nullptr;
  long value = std::strtol(argv[++i], &end, 10);
  if (*end || value < low || value > high) usage();
  return int(value);
}

Settings parseArguments(int argc, char** argv) {
  Settings settings;
  int i = 1;
  for (; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--") {
      i++;
      break;
    }
    if (arg == "--cols")
      settings.cols = numberArgument(i, argc, argv, 2, 1000);
    else if (arg == "--rows")
      settings.rows = numberArgument(i, argc, argv, 1, 1000);
    else if (arg == "--quiet")
      settings.quietMs = numberArgument(i, argc, argv, 1, 600000);
    else if (arg == "--timeout")
      settings.timeoutMs = numberArgument(i, argc, argv, 1, 3600000);
    else if (arg == "--cursor")
      settings.cursor = true;
    else if (arg == "--attributes")
      settings.attributes = true;
    else if (arg == "--send" && i + 1 < argc)
      settings.sends.push_back(unescape(argv[++i]));
    else
      usage();
  }
  for (; i < argc; i++) settings.command.push_back(argv[i]);
  if (settings.command.empty()) usage();
  return settings;
}

// LocalProcess runs a path as given; find a bare command name the way a shell would.
std::optional<std::string> resolveExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// Notes when output last arrived, so the driver can tell when the screen has settled.
class WatchedTerminal : public vantrelle::HeadlessTerminal {
 public:
  using HeadlessTerminal::HeadlessTerminal;
  void dataReceived(std::span<const uint8_t> slice) override {
    lastOutput = Clock::now();
    HeadlessTerminal::dataReceived(slice);
  }
  Clock::time_point lastOutput = Clock::now();
  bool ended = false;
  std::optional<int32_t> exitCode;
};

std::string rowText(vantrelle::Terminal& terminal, int row) {
  std::string text;
  const vantrelle::BufferLine* line = terminal.getLine(row);
  if (!line) return text;
  for (int col = 0; col < std::min(terminal.cols, line->count()); col++) {
    const vantrelle::CharData& cell = (*line)[col];
    if (cell.width == 0) continue;
    text += cell.code == 0 ? std::string(" ") : terminal.character(cell.code);
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void printAttributes(vantrelle::Terminal& terminal, int row) {
  const vantrelle::BufferLine* line = terminal.getLine(row);
  if (!line) return;
  int runStart = 0;
  for (int col = 1; col <= std::min(terminal.cols, line->count()); col++) {
    if (col < line->count() && (*line)[col].sameAttribute((*line)[runStart])) continue;
    const vantrelle::CharData& cell = (*line)[runStart];
    if (!cell.hasDefaultAttribute())
      std::printf("attributes row %d columns %d-%d: %s\n", row + 1, runStart + 1, col,
                  cell.attribute().toSgr().c_str());
    runStart = col;
  }
}

void printScreen(WatchedTerminal& host, const Settings& settings) {
  vantrelle::Terminal& terminal = *host.terminal;
  for (int row = 0; row < terminal.rows; row++) std::printf("%s\n", rowText(terminal, row).c_str());
  if (settings.cursor) {
    auto [x, y] = terminal.getCursorLocation();
    std::printf("cursor: row %d column %d%s\n", y + 1, x + 1, terminal.cursorHidden ? " hidden" : "");
  }
  if (settings.attributes)
    for (int row = 0; row < terminal.rows; row++) printAttributes(terminal, row);
  if (host.ended && host.exitCode) std::printf("exit status: %d\n", *host.exitCode);
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings = parseArguments(argc, argv);
  auto executable = resolveExecutable(settings.command[0]);
  if (!executable) {
    std::fprintf(stderr, "vantrelle-headless: %s: command not found\n", settings.command[0].c_str());
    return 127;
  }
  vantrelle::TerminalOptions options;
  options.cols = settings.cols;
  options.rows = settings.rows;
  WatchedTerminal* hostRef = nullptr;
  WatchedTerminal host(nullptr, options, [&](std::optional<int32_t> code) {
    hostRef->ended = true;
    hostRef->exitCode = code;
  });
  hostRef = &host;

  auto environment = vantrelle::Terminal::getEnvironmentVariables("xterm-256color", true);
  if (const char* path = std::getenv("PATH")) environment.push_back(std::string("PATH=") + path);
  std::vector<std::string> args(settings.command.begin() + 1, settings.command.end());
  host.process->startProcess(*executable, args, environment, settings.command[0]);
  // A child that has ended already is no longer running by the time we look, yet it started:
  // only a start that made no child has no process id.
  if (host.process->shellPid() == 0) {
    std::fprintf(stderr, "vantrelle-headless: could not start %s\n", executable->c_str());
    return 1;
  }

  const auto deadline = Clock::now() + std::chrono::milliseconds(settings.timeoutMs);
  const auto quiet = std::chrono::milliseconds(settings.quietMs);
  // The loop wakes now and then to look at the clock, output or not.
  platform::RepeatingTimer tick(std::chrono::milliseconds(10), [] {});
  for (;;) {
    g_main_context_iteration(nullptr, TRUE);
    const auto now = Clock::now();
    if (host.ended || now >= deadline) break;
    if (now - host.lastOutput < quiet) continue;
    if (settings.sends.empty()) break;
    const std::string& text = settings.sends.front();
    host.send(std::vector<uint8_t>(text.begin(), text.end()));
    settings.sends.pop_front();
    host.lastOutput = now;
  }
  tick.reset();
  printScreen(host, settings);
  if (!host.ended) host.process->terminate();
  return Clock::now() >= deadline && !host.ended && !settings.sends.empty() ? 1 : 0;
}
