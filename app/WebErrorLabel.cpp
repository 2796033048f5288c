#include "app/WebErrorLabel.h"

#include <chrono>

#include <glibmm/markup.h>
#include <gtkmm/label.h>

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
  label->add_css_class("error");
  label->set_wrap(true);
  label->set_visible(visible);
  label->set_markup(visible ? "<span foreground=\"#e0241b\">" + Glib::Markup::escape_text(shownText) + "</span>" : "");
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
    label->set_markup("<span foreground=\"#e0241b\">" + Glib::Markup::escape_text(shownText) + "</span>");
    label->set_visible(true);
  }
}

void WebErrorLabel::hide() {
  ++webErrorGeneration;
  visible = false;
  if (label) label->set_visible(false);
}

}  // namespace zorvel
