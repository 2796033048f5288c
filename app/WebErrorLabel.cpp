#include "app/WebErrorLabel.h"

#include <glibmm/ustring.h>
#include <gtkmm/label.h>

#include <chrono>

#include "platform/Dispatch.h"

namespace zorvel {

namespace {
constexpr auto transientDuration = std::chrono::seconds(5);
}

WebErrorLabel::WebErrorLabel(Scheduler scheduler) : scheduleTransientHide(std::move(scheduler)) {
  if (!scheduleTransientHide) {
    scheduleTransientHide = [](std::function<void()> work) {
      platform::DispatchQueue::main().asyncAfter(transientDuration, std::move(work));
    };
  }
}

void WebErrorLabel::attach(Gtk::Label* newLabel) {
  label = newLabel;
  if (!label) return;
  label->set_wrap(true);
  label->set_visible(visible);
  if (visible) label->set_text(Glib::ustring(shownText).validate() ? shownText : "");
}

void WebErrorLabel::showWebFailure(const std::string& message, bool transient) {
  if (coreFailureShown) return;
  show((transient ? transientPrefix : loadFailurePrefix) + message);
  if (!transient) return;
  auto g = webErrorGeneration;
  std::weak_ptr<WebErrorLabel> weak = weak_from_this();
  scheduleTransientHide([weak, g] {
    auto self = weak.lock();
    if (self && self->webErrorGeneration == g) self->hide();
  });
}

void WebErrorLabel::showCoreFailure(const std::string& reason) {
  coreFailureShown = true;
  show("Zorvel could not start a compatible core.\n" + reason + "\n\nQuit and reopen the app to retry.");
}

void WebErrorLabel::hideAfterLoad() {
  if (!coreFailureShown) hide();
}

void WebErrorLabel::clearCoreFailure() {
  coreFailureShown = false;
  hide();
}

void WebErrorLabel::show(std::string text) {
  ++webErrorGeneration;
  visible = true;
  shownText = std::move(text);
  if (label) {
    // Failures are always shown in the error colour, whatever status the label showed before.
    label->remove_css_class("zorvel-secondary");
    label->set_text(Glib::ustring(shownText).validate() ? shownText : "Invalid UTF-8 in the error message");
    label->set_visible(true);
  }
}

void WebErrorLabel::hide() {
  ++webErrorGeneration;
  visible = false;
  if (label) label->set_visible(false);
}

}  // namespace zorvel
