// A window with one terminal running the user's shell: the quickest way to see the view work.
#include <gtkmm/application.h>
#include <gtkmm/applicationwindow.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Vantrelle/View/LocalProcessTerminalView.h"

namespace {

std::string userShell() {
  if (const char* shell = std::getenv("SHELL"); shell && *shell) return shell;
  if (passwd* entry = getpwuid(getuid()); entry && entry->pw_shell && *entry->pw_shell) return entry->pw_shell;
  return "/bin/sh";
}

class DemoWindow : public Gtk::ApplicationWindow, public vantrelle::LocalProcessTerminalViewDelegate {
 public:
  // Runs the user's shell, or the command given on the command line.
  explicit DemoWindow(const std::vector<std::string>& command) {
    set_title("Vantrelle");
    set_default_size(800, 500);
    terminal.processDelegate = this;
    set_child(terminal);
    auto env = vantrelle::Terminal::getEnvironmentVariables("xterm-256color", true);
    std::optional<std::string> home;
    if (const char* value = std::getenv("HOME")) home = value;
    if (!command.empty()) {
      terminal.startProcess(command[0], {command.begin() + 1, command.end()}, env, std::nullopt, home);
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
  void processTerminated(vantrelle::TerminalView&, std::optional<int32_t>) override { close(); }

 private:
  vantrelle::LocalProcessTerminalView terminal;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> command(argv + 1, argv + argc);
  auto app = Gtk::Application::create("local.zorvel.vantrelle-demo", Gio::Application::Flags::NON_UNIQUE);
  return app->make_window_and_run<DemoWindow>(1, argv, command);
}
