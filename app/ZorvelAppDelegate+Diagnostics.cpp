#include <sys/ioctl.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "app/LayoutDiagnostics.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/Log.h"

namespace zorvel {

namespace {

const platform::Logger& layoutLog() {
  static const platform::Logger log(platform::Bundle::main().bundleIdentifier().value_or("local.zorvel.desktop"),
                                    "layout");
  return log;
}

std::string frameOf(const Gtk::Widget& widget) {
  auto allocation = widget.get_allocation();
  return LayoutDiagnostics::rectangle(allocation.get_x(), allocation.get_y(), allocation.get_width(),
                                      allocation.get_height());
}

std::string boundsOf(const Gtk::Widget& widget) {
  return LayoutDiagnostics::rectangle(0, 0, widget.get_width(), widget.get_height());
}

Glib::RefPtr<Gdk::Monitor> monitorOf(Gtk::Window& window) {
  auto surface = window.get_surface();
  if (!surface) return {};
  return window.get_display()->get_monitor_at_surface(surface);
}

std::string withoutLineFeeds(std::string text) {
  std::erase(text, '\n');
  return text;
}

}  // namespace

void ZorvelAppDelegate::logWindowLayout(const std::string& stage) {
  if (!releaseDebugLoggingEnabled() || !window || !webView) return;
  using LayoutDiagnostics::number;
  const std::string zero = LayoutDiagnostics::rectangle(0, 0, 0, 0);
  std::string terminalFrame = zero;
  std::string grid = "0x0";
  if (activeTaskID) {
    auto views = terminals();
    if (auto found = views.find(*activeTaskID); found != views.end()) {
      terminalFrame = frameOf(*found->second);
      auto [cols, rows] = found->second->getTerminal().getDims();
      grid = std::to_string(cols) + "x" + std::to_string(rows);
    }
  }
  auto& bundle = platform::Bundle::main();
  // GTK 4 has no portable work area, so the visible frame is the monitor's whole frame.
  std::string screen = zero;
  if (auto monitor = monitorOf(*window)) {
    Gdk::Rectangle geometry;
    monitor->get_geometry(geometry);
    screen =
        LayoutDiagnostics::rectangle(geometry.get_x(), geometry.get_y(), geometry.get_width(), geometry.get_height());
  }
  std::string windowFrame = LayoutDiagnostics::rectangle(0, 0, window->get_width(), window->get_height());
  Gtk::Widget& web = *Glib::wrap(GTK_WIDGET(webView));
  std::string text =
      "Zorvel window layout [" + stage + "]" + " fullscreen=" + (window->is_fullscreen() ? "true" : "false") +
      " zoomed=" + (window->is_maximized() ? "true" : "false") +
      " bundleVersion=" + bundle.infoString("CFBundleVersion").value_or("missing") +
      " safeAreaCompatibility=" + bundle.infoString("NSPrefersDisplaySafeAreaCompatibilityMode").value_or("missing") +
      " screen=" + screen + " visible=" + screen + " scale=" + number(window->get_scale_factor()) +
      " window=" + windowFrame + " contentLayout=" + windowFrame +
      " contentView=" + (window->get_child() ? frameOf(*window->get_child()) : zero) +
      " root=" + frameOf(rootContainer) + "/" + boundsOf(rootContainer) + " web=" + frameOf(web) + "/" + boundsOf(web) +
      " sidebar=" + number(terminalLeadingConstraint ? terminalLeadingConstraint->constant() : 0) +
      " container=" + frameOf(terminalContainer) + "/" + boundsOf(terminalContainer) +
      " hidden=" + (terminalContainer.get_visible() ? "false" : "true") + " terminal=" + terminalFrame +
      " grid=" + grid + " remainder=" + zero;
  text = withoutLineFeeds(text);
  layoutLog().notice("%{public}s", text.c_str());
  appendTerminalResizeLog(text);
}

void ZorvelAppDelegate::logTerminalResize(const std::string& stage) {
  if (!releaseDebugLoggingEnabled()) return;
  logWindowLayout(stage);
  std::shared_ptr<vantrelle::LocalProcessTerminalView> view;
  if (activeTaskID) {
    auto views = terminals();
    if (auto found = views.find(*activeTaskID); found != views.end()) view = found->second;
  }
  if (!view) {
    layoutLog().notice("Zorvel terminal resize [%{public}s] no active terminal", stage.c_str());
    return;
  }
  int fd = view->process ? view->process->childfd() : -1;
  winsize size{};
  int result = -1;
  pid_t group = -1;
  if (fd >= 0) {
    result = ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? 0 : -1;
    if (result != 0) size = {};
    group = ::tcgetpgrp(fd);
  }
  auto [cols, rows] = view->getTerminal().getDims();
  std::string text =
      "Zorvel terminal resize [" + stage +
      "] sidebar=" + LayoutDiagnostics::number(terminalLeadingConstraint ? terminalLeadingConstraint->constant() : 0) +
      " hidden=" + (terminalContainer.get_visible() ? "false" : "true") +
      " container=" + LayoutDiagnostics::number(terminalContainer.get_width()) + "x" +
      LayoutDiagnostics::number(terminalContainer.get_height()) +
      " terminal=" + LayoutDiagnostics::number(view->get_width()) + "x" +
      LayoutDiagnostics::number(view->get_height()) + " grid=" + std::to_string(cols) + "x" + std::to_string(rows) +
      " pty=" + std::to_string(size.ws_col) + "x" + std::to_string(size.ws_row) + " ioctl=" + std::to_string(result) +
      " foreground-pgid=" + std::to_string(group) +
      " shell-pid=" + std::to_string(view->process ? view->process->shellPid() : 0);
  text = withoutLineFeeds(text);
  layoutLog().notice("%{public}s", text.c_str());
  appendTerminalResizeLog(text);
}

void ZorvelAppDelegate::appendTerminalResizeLog(const std::string& text) {
  if (!releaseDebugLoggingEnabled()) return;
  LayoutDiagnostics::append(std::filesystem::path(desktopDataDirectory) / "terminal-resize.log", text,
                            std::time(nullptr));
}

}  // namespace zorvel
