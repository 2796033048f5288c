// A window with one terminal running the user's shell: the quickest way to see the view work.
#include <gtkmm/application.h>
#include <gtkmm/applicationwindow.h>
#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ChildCommand.h"
#include "ShellEnvironment.h"
#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/View/LocalProcessTerminalView.h"
#include "Vantrelle/View/WindowRenderer.h"

namespace {

constexpr const char* usage =
    "usage: vantrelle-demo [--gpu] [--font \"Family Size\"] [--scrollback LINES] [--] [command [argument...]]\n"
    "  --gpu          draw with OpenGL instead of Cairo\n"
    "  --font DESC    the terminal's font, as Pango names it (\"DejaVu Sans Mono 12\")\n"
    "  --scrollback LINES  the lines kept above the screen (the terminal's own number by default)\n"
    "Runs the user's login shell, or the command given, and exits with the status it exits with.\n";

struct Options {
  bool gpu = false;
  std::optional<Pango::FontDescription> font;
  std::optional<int> scrollback;
  std::vector<std::string> command;
  // The command's program as found on the search path.
  std::string program;
};

constexpr int kMaxScrollback = 10'000'000;

std::optional<int> parseLines(const std::string& text) {
  int value = 0;
  auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || value < 0 || value > kMaxScrollback)
    return std::nullopt;
  return value;
}

// Options come before the command; everything from the first other word on is the command.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
  Options options;
  int i = 1;
  for (; i < argc; i++) {
    std::string_view arg = argv[i];
    if (arg == "--") {
      i++;
      break;
    }
    if (arg == "--gpu") {
      options.gpu = true;
    } else if (arg == "--font" || arg.starts_with("--font=")) {
      std::string value;
      if (arg == "--font") {
        if (++i == argc) {
          error = "--font needs a font description";
          return std::nullopt;
        }
        value = argv[i];
      } else {
        value = arg.substr(7);
      }
      Pango::FontDescription font(value);
      if (font.get_family().empty()) {
        error = "no font family in \"" + value + "\"";
        return std::nullopt;
      }
      // A description without a size keeps the terminal's usual one.
      if (font.get_size() <= 0) font.set_size(vantrelle::TerminalView::defaultFont().get_size());
      options.font = font;
    } else if (arg == "--scrollback" || arg.starts_with("--scrollback=")) {
      std::string value;
      if (arg == "--scrollback") {
        if (++i == argc) {
          error = "--scrollback needs a number of lines";
          return std::nullopt;
        }
        value = argv[i];
      } else {
        value = arg.substr(13);
      }
      auto lines = parseLines(value);
      if (!lines) {
        error = "--scrollback takes a number of lines from 0 to " + std::to_string(kMaxScrollback) + ", not \"" +
                value + "\"";
        return std::nullopt;
      }
      options.scrollback = *lines;
    } else if (arg == "--help" || arg == "-h") {
      error.clear();
      return std::nullopt;
    } else if (arg.starts_with("-")) {
      error = "unknown option " + std::string(arg);
      return std::nullopt;
    } else {
      break;
    }
  }
  options.command.assign(argv + i, argv + argc);
  return options;
}

std::string userShell() {
  if (const char* shell = std::getenv("SHELL"); shell && *shell) return shell;
  if (passwd* entry = getpwuid(getuid()); entry && entry->pw_shell && *entry->pw_shell) return entry->pw_shell;
  return "/bin/sh";
}

class DemoWindow : public Gtk::ApplicationWindow, public vantrelle::LocalProcessTerminalViewDelegate {
 public:
  // Runs the user's shell, or the command given on the command line. The child starts once the
  // window has laid the terminal out, at the size it is shown at. `exitStatus` receives the
  // status the child ends with.
  DemoWindow(const Options& options, int& exitStatus) : terminal(options.font), exitStatus(exitStatus) {
    set_title("Vantrelle");
    set_default_size(800, 500);
    terminal.processDelegate = this;
    set_child(terminal);
    if (options.gpu) useGpu();
    if (options.scrollback) terminal.changeScrollback(options.scrollback);
    auto env = vantrelle::demo::shellEnvironment(environ,
                                                 vantrelle::Terminal::getEnvironmentVariables("xterm-256color", true));
    std::optional<std::string> home;
    if (const char* value = std::getenv("HOME")) home = value;
    const auto& command = options.command;
    if (!command.empty()) {
      terminal.startProcess(options.program, {command.begin() + 1, command.end()}, env, command[0], home);
    } else {
      std::string shell = userShell();
      // A leading dash makes the shell a login shell.
      std::string name("-");
      name.append(shell, shell.find_last_of('/') + 1);
      terminal.startProcess(shell, {}, env, name, home);
    }
    terminal.grab_focus();
  }

  void sizeChanged(vantrelle::LocalProcessTerminalView&, int, int) override {}
  void setTerminalTitle(vantrelle::LocalProcessTerminalView&, const std::string& title) override { set_title(title); }
  void hostCurrentDirectoryUpdate(vantrelle::TerminalView&, const std::optional<std::string>&) override {}
  void processTerminated(vantrelle::TerminalView&, std::optional<int32_t> waitStatus) override {
    exitStatus = vantrelle::demo::exitStatusOf(waitStatus);
    close();
  }

 private:
  void useGpu() {
    terminal.gpuState.shaderDirectory = VANTRELLE_DEMO_SHADERS;
    try {
      terminal.setUseMetal(true);
    } catch (const vantrelle::MetalError& error) {
      std::fprintf(stderr, "vantrelle-demo: no OpenGL drawing (%s); drawing with Cairo\n", error.description().c_str());
    }
  }

  vantrelle::LocalProcessTerminalView terminal;
  int& exitStatus;
};

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = parseOptions(argc, argv, error);
  if (!options) {
    if (!error.empty()) std::fprintf(stderr, "vantrelle-demo: %s\n", error.c_str());
    std::fputs(usage, error.empty() ? stdout : stderr);
    return error.empty() ? 0 : 2;
  }
  if (!options->command.empty()) {
    auto program = vantrelle::demo::programPath(options->command[0]);
    if (!program) {
      std::fprintf(stderr, "vantrelle-demo: %s: command not found\n", options->command[0].c_str());
      return 127;
    }
    options->program = *program;
  }
  auto app = Gtk::Application::create("local.zorvel.vantrelle-demo", Gio::Application::Flags::NON_UNIQUE);
  app->signal_startup().connect([&app] { vantrelle::preferCairoOnSoftwareGL(*app); });
  int exitStatus = 0;
  int status = app->make_window_and_run<DemoWindow>(1, argv, *options, exitStatus);
  return status != 0 ? status : exitStatus;
}
