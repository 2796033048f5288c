#include <webkit/webkit.h>

#include "app/FilePickers.h"
#include "app/PageFocus.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"

namespace zorvel {

void ZorvelAppDelegate::pickExecutable(const std::string& agent, std::shared_ptr<void> ticket) {
  runFilePicker(FilePickers::executable(agent), std::move(ticket));
}

void ZorvelAppDelegate::pickProjectDirectory(const std::optional<std::string>& projectID,
                                             std::shared_ptr<void> ticket) {
  runFilePicker(FilePickers::projectDirectory(projectID), std::move(ticket));
}

void ZorvelAppDelegate::runFilePicker(const FilePickerRequest& request, std::shared_ptr<void> ticket) {
  auto action = request.canChooseDirectories ? Gtk::FileChooser::Action::SELECT_FOLDER : Gtk::FileChooser::Action::OPEN;
  // The chooser has no separate message line; the title carries the request and the message
  // follows it, so the user sees what the choice is for.
  auto chooser =
      Gtk::FileChooserNative::create(request.title + " \u2014 " + request.message, action, request.prompt, "Cancel");
  if (window) chooser->set_transient_for(*window);
  chooser->set_select_multiple(false);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  // What is chosen answers the page that asked, and no page loaded since in its place.
  GWeak<WebKitWebView> asking(webView);
  const unsigned page = PageFocus::page(webView);
  // The chooser keeps itself, and its ticket, alive through its own handler until it has answered.
  chooser->signal_response().connect([weak, chooser, request, ticket, asking, page](int response) mutable {
    auto keep = chooser;
    chooser.reset();
    ticket.reset();
    keep->hide();
    // Released in a later turn: the chooser must outlive the emission of its own signal.
    platform::DispatchQueue::main().async([keep] {});
    if (response != static_cast<int>(Gtk::ResponseType::ACCEPT)) return;
    auto file = keep->get_file();
    if (!file) return;
    auto path = file->get_path();
    if (path.empty()) return;
    auto script = FilePickers::pickedScript(request, path);
    auto self = weak.lock();
    if (!script || !self) return;
    auto view = asking.get();
    if (!view || view.get() != self->webView || PageFocus::page(view.get()) != page) {
      static const platform::Logger log("local.zorvel.desktop", "dialogs");
      log.notice("Not handing the chosen path to the page: the page that asked for it has gone");
      return;
    }
    self->evaluatePageScript(*script);
  });
  chooser->show();
}

}  // namespace zorvel
