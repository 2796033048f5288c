#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include "app/ZorvelAppDelegate.h"
#include "platform/Dispatch.h"
#include "platform/UserDefaults.h"

namespace zorvel {

namespace {

constexpr auto settleDelay = std::chrono::milliseconds(120);

}  // namespace

void ZorvelAppDelegate::enterTerminalLayout() {
  if (terminalLayoutActive) return;
  terminalLayoutActive = true;
  updateTerminalContainerVisibility();
}

void ZorvelAppDelegate::exitTerminalLayout() {
  if (!terminalLayoutActive) return;
  if (activeTaskID) terminalSessions.touch(*activeTaskID);
  activeTaskID.reset();
  terminalLayoutActive = false;
  updateTerminalContainerVisibility();
}

void ZorvelAppDelegate::updateTerminalContainerVisibility() {
  terminalContainer.set_visible(terminalLayoutActive);
  if (!terminalContainer.get_visible()) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  platform::DispatchQueue::main().async([weak] {
    if (auto self = weak.lock()) self->refreshActiveTerminalLayout();
  });
}

void ZorvelAppDelegate::setTaskSidebarWidth(double width, bool resizeTerminal, bool persist) {
  double clamped = std::min(std::max(width, 280.0), 560.0);
  if (!terminalLeadingConstraint) return;
  bool changed = clamped != terminalLeadingConstraint->constant();
  if (persist) platform::UserDefaults::standard().set("zorvel.sidebarWidth", clamped);
  if (!changed) return;
  terminalLeadingConstraint->setConstant(clamped);
  rootContainer.queue_resize();
  if (resizeTerminal) refreshActiveTerminalLayout();
}

void ZorvelAppDelegate::endTaskSidebarResize(double width) {
  if (!sidebarResizeInProgress) {
    setTaskSidebarWidth(width, true, true);
    return;
  }
  sidebarResizeInProgress = false;
  setTaskSidebarWidth(width, true, true);
  refreshActiveTerminalLayout();
  notifyActiveTerminalOfResize();
  if (activeTaskID) {
    auto views = terminals();
    if (auto found = views.find(*activeTaskID); found != views.end()) redrawActiveTerminalAfterResize(found->second);
  }
  logTerminalResize("end");
}

void ZorvelAppDelegate::notifyActiveTerminalOfResize() {
  if (!activeTaskID) return;
  auto views = terminals();
  auto found = views.find(*activeTaskID);
  if (found == views.end() || !found->second->process || !found->second->process->running()) return;
  const auto& process = *found->second->process;
  int fd = process.childfd();
  pid_t group = fd >= 0 ? ::tcgetpgrp(fd) : -1;
  if (group > 0) {
    ::kill(-group, SIGWINCH);
  } else if (process.shellPid() >= 1) {
    ::kill(-process.shellPid(), SIGWINCH);
  }
}

void ZorvelAppDelegate::redrawActiveTerminalAfterResize(const std::shared_ptr<vantrelle::LocalProcessTerminalView>& view) {
  int64_t generation = ++terminalResizeGeneration;
  view->queue_draw();
  std::weak_ptr<vantrelle::LocalProcessTerminalView> weakView = view;
  std::weak_ptr<ZorvelAppDelegate> weakSelf = weak_from_this();
  platform::DispatchQueue::main().async([weakView] {
    if (auto view = weakView.lock()) view->queue_draw();
  });
  platform::DispatchQueue::main().asyncAfter(settleDelay, [weakSelf, weakView, generation] {
    auto self = weakSelf.lock();
    auto view = weakView.lock();
    if (!self || !view || self->terminalResizeGeneration != generation) return;
    if (self->windowResizeInProgress || self->sidebarResizeInProgress || !self->activeTaskID) return;
    auto views = self->terminals();
    auto active = views.find(*self->activeTaskID);
    if (active == views.end() || active->second != view) return;
    self->sizeTerminalToContainer(*view);
    self->notifyActiveTerminalOfResize();
    view->queue_draw();
    self->logTerminalResize("settled");
  });
}

// GTK reports a finished resize through the window's default size and full screen through its
// own property; there is no live-resize phase to bracket.
void ZorvelAppDelegate::connectWindowLayoutNotifications() {
  if (!window) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  auto resized = [weak] {
    if (auto self = weak.lock()) self->windowDidResize();
  };
  window->property_default_width().signal_changed().connect(resized);
  window->property_default_height().signal_changed().connect(resized);
  window->property_fullscreened().signal_changed().connect([weak] {
    auto self = weak.lock();
    if (!self || !self->window) return;
    self->refreshActiveTerminalLayout();
    self->logWindowLayout(self->window->is_fullscreen() ? "fullscreen-did-enter" : "fullscreen-did-exit");
  });
}

void ZorvelAppDelegate::windowWillStartLiveResize() {
  if (!terminalLayoutActive || windowResizeInProgress) return;
  windowResizeInProgress = true;
  logTerminalResize("window-begin");
}

void ZorvelAppDelegate::windowDidEndLiveResize() {
  if (!windowResizeInProgress) return;
  windowResizeInProgress = false;
  if (sidebarResizeInProgress) return;
  refreshActiveTerminalLayout();
  if (activeTaskID) {
    auto views = terminals();
    if (auto found = views.find(*activeTaskID); found != views.end()) redrawActiveTerminalAfterResize(found->second);
  }
  logTerminalResize("window-end");
}

void ZorvelAppDelegate::windowDidResize() {
  if (terminalLayoutActive && !windowResizeInProgress && !sidebarResizeInProgress) refreshActiveTerminalLayout();
}

}  // namespace zorvel
