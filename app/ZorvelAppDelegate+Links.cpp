#include <webkit/webkit.h>

#include "app/ApplicationLinks.h"
#include "app/DialogText.h"
#include "app/DialogWindows.h"
#include "app/PageFocus.h"
#include "app/URL.h"
#include "app/WebBridge.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/URLSession.h"

namespace zorvel {

namespace L = ApplicationLinks;

namespace {

const platform::Logger& linksLog() {
  static const platform::Logger log("local.zorvel.desktop", "links");
  return log;
}

}  // namespace

void ZorvelAppDelegate::handleGetURL(const std::string& link) {
  if (!URL::parse(link)) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  platform::DispatchQueue::main().async([weak, link] {
    if (auto self = weak.lock()) self->receiveOpenLink(link);
  });
}

void ZorvelAppDelegate::receiveOpenLink(const std::string& link, WebKitWebView* page) {
  auto interpreted = L::interpret(link);
  if (auto* capture = std::get_if<L::CaptureLink>(&interpreted)) {
    // One question at a time: another would stack over it, each to be answered.
    if (!captureQuestion.expired()) {
      linksLog().error("Not asking to capture the clipboard: the question is asked already");
      return;
    }
    auto clipboard = Gdk::Display::get_default() ? Gdk::Display::get_default()->get_clipboard() : nullptr;
    if (!clipboard) return;
    auto ticket = std::make_shared<bool>();
    captureQuestion = ticket;
    std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
    GWeak<WebKitWebView> asking(page);
    const unsigned askingPage = PageFocus::page(page);
    clipboard->read_text_async([weak, clipboard, projectID = capture->projectID, asking, askingPage, ticket,
                                fromPage = page != nullptr](Glib::RefPtr<Gio::AsyncResult>& result) {
      Glib::ustring text;
      try {
        text = clipboard->read_text_finish(result);
      } catch (const Glib::Error&) {
        return;  // nothing readable on the clipboard
      }
      auto self = weak.lock();
      if (!self || L::isBlank(text.raw())) return;
      auto confirm = [weak, text = text.raw(), projectID, ticket] {
        if (auto self = weak.lock()) self->confirmCapture(text, projectID, ticket);
      };
      // The question a page's link asks waits for the user to be at that page.
      auto view = asking.get();
      if (!fromPage) {
        confirm();
      } else if (view && PageFocus::page(view.get()) == askingPage) {
        PageFocus::whenBack(view.get(), "the clipboard capture question", confirm);
      }
    });
    return;
  }
  auto* open = std::get_if<ZorvelOpenLink>(&interpreted);
  if (!open) return;
  pendingOpenLink = *open;
  dispatchPendingOpenLinkIfPossible();
  // The page that followed the link is in the window already, and is not to raise it over the
  // program the user is typing in.
  if (window && !page) window->present();
}

void ZorvelAppDelegate::confirmCapture(const std::string& text, const std::string& projectID,
                                       std::shared_ptr<void> ticket) {
  auto* dialog =
      new Gtk::MessageDialog(L::captureAlertMessage, false, Gtk::MessageType::QUESTION, Gtk::ButtonsType::NONE, false);
  if (window) dialog->set_transient_for(*window);
  showTextWithinDialog(*dialog, L::captureAlertInformativeText(projectID, text));
  dialog->add_button("Capture", Gtk::ResponseType::ACCEPT);
  dialog->add_button("Cancel", Gtk::ResponseType::CANCEL);
  dialog->set_default_response(Gtk::ResponseType::ACCEPT);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  dialog->signal_response().connect([weak, dialog, text, projectID, ticket](int response) mutable {
    ticket.reset();
    dialog->hide();
    // The dialog is deleted once its signal handler has returned.
    platform::DispatchQueue::main().async([dialog] { delete dialog; });
    auto self = weak.lock();
    if (!self || response != static_cast<int>(Gtk::ResponseType::ACCEPT)) return;
    self->pendingCapture = PendingCapture{text, projectID};
    self->dispatchPendingCaptureIfPossible();
    if (self->window) self->window->present();
  });
  dialog->present();
  auto* capture = dialog->get_widget_for_response(Gtk::ResponseType::ACCEPT);
  DialogWindows::holdAnswer(GTK_WINDOW(dialog->gobj()), capture ? capture->gobj() : nullptr, [capture] {
    if (capture) capture->grab_focus();
  });
}

void ZorvelAppDelegate::dispatchPendingOpenLinkIfPossible() {
  if (!uiLoaded || !pendingOpenLink) return;
  auto link = std::move(*pendingOpenLink);
  pendingOpenLink.reset();
  if (auto script = L::openLinkScript(link)) evaluatePageScript(*script);
}

void ZorvelAppDelegate::dispatchPendingCaptureIfPossible() {
  if (!coreSupervisor.hasReadyCore() || !pendingCapture) return;
  auto base = URL::parse(baseURL);
  auto url = base ? base->resolving("/tasks/capture") : std::nullopt;
  if (!url) return;
  auto body = L::captureRequestBody(*pendingCapture);
  if (!body) return;
  pendingCapture.reset();
  platform::URLRequest request{
      url->string(), "POST", {{"Content-Type", "application/json"}}, std::move(*body), std::chrono::seconds(60)};
  coreAccess.authorize(request);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  platform::URLSession::shared().dataTask(std::move(request), [weak](platform::URLResponse response) {
    const int status = response.status > 0 ? response.status : 599;
    if (!response.error && status < 400) return;
    std::string message = response.error ? *response.error : L::captureFailureMessage(status);
    linksLog().error("%{public}s", message.c_str());
    platform::DispatchQueue::main().async([weak, message] {
      auto self = weak.lock();
      if (self && self->webBridge) self->webBridge->showWebFailure(message, true);
    });
  });
}

}  // namespace zorvel
