#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include "app/ZorvelAppDelegate.h"
#include "platform/Dispatch.h"
#include "platform/UserDefaults.h"

namespace zorvel {

namespace {

constexpr auto settleDelay = std::chrono::milliseconds(120);
constexpr auto liveResizeQuietPeriod = std::chrono::milliseconds(250);

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

void ZorvelAppDelegate::redrawActiveTerminalAfterResize(
    const std::shared_ptr<vantrelle::LocalProcessTerminalView>& view) {
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

// GTK reports a window's size through its default size and full screen through a property of its
// own; it has no live-resize phase and no notice before a full-screen change. A run of size
// changes in terminal layout stands in for a live resize, ending once the size has stayed put.
void ZorvelAppDelegate::connectWindowLayoutNotifications() {
  if (!window) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  auto resized = [weak] {
    if (auto self = weak.lock()) self->windowSizeChanged();
  };
  window->property_default_width().signal_changed().connect(resized);
  window->property_default_height().signal_changed().connect(resized);
  window->property_maximized().signal_changed().connect([weak] {
    if (auto self = weak.lock()) self->windowDidResize();
  });
  window->property_fullscreened().signal_changed().connect([weak] {
    auto self = weak.lock();
    if (!self || !self->window) return;
    if (self->window->is_fullscreen()) {
      self->windowWillEnterFullScreen();
      self->windowDidEnterFullScreen();
    } else {
      self->windowWillExitFullScreen();
      self->windowDidExitFullScreen();
    }
  });
}

void ZorvelAppDelegate::windowSizeChanged() {
  windowWillStartLiveResize();
  if (windowResizeInProgress) {
    if (liveResizeEnd) liveResizeEnd->cancel();
    std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
    liveResizeEnd = platform::DispatchQueue::main().asyncAfter(liveResizeQuietPeriod, [weak] {
      if (auto self = weak.lock()) self->windowDidEndLiveResize();
    });
  }
  windowDidResize();
}

void ZorvelAppDelegate::windowWillEnterFullScreen() { logWindowLayout("fullscreen-will-enter"); }

void ZorvelAppDelegate::windowDidEnterFullScreen() {
  modalOverlay->updateModalOverlayFrame();
  refreshActiveTerminalLayout();
  logWindowLayout("fullscreen-did-enter");
}

void ZorvelAppDelegate::windowWillExitFullScreen() { logWindowLayout("fullscreen-will-exit"); }

void ZorvelAppDelegate::windowDidExitFullScreen() {
  modalOverlay->updateModalOverlayFrame();
  refreshActiveTerminalLayout();
  logWindowLayout("fullscreen-did-exit");
}

void ZorvelAppDelegate::windowWillStartLiveResize() {
  if (!terminalLayoutActive || windowResizeInProgress) return;
  windowResizeInProgress = true;
  logTerminalResize("window-begin");
}

void ZorvelAppDelegate::windowDidEndLiveResize() {
  if (!windowResizeInProgress) return;
  windowResizeInProgress = false;
  if (liveResizeEnd) liveResizeEnd->cancel();
  liveResizeEnd.reset();
  if (sidebarResizeInProgress) return;
  refreshActiveTerminalLayout();
  if (activeTaskID) {
    auto views = terminals();
    if (auto found = views.find(*activeTaskID); found != views.end()) redrawActiveTerminalAfterResize(found->second);
  }
  logTerminalResize("window-end");
}

void ZorvelAppDelegate::windowDidResize() {
  modalOverlay->updateModalOverlayFrame();
  if (!terminalLayoutActive || sidebarResizeInProgress) return;
  if (!windowResizeInProgress) {
    refreshActiveTerminalLayout();
  } else {
    // The panels' sizes are requests here, not frames: stale ones would hold the window wide.
    layoutPlaceholder();
  }
}

}  // namespace zorvel
