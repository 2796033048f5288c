#include "app/PagePrinting.h"

#include <gtkmm.h>
#include <gtkmm/printunixdialog.h>
#include <webkit/webkit.h>

#include <memory>
#include <vector>

#include "app/DialogWindows.h"
#include "app/PageActivation.h"
#include "app/PageFocus.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace zorvel::PagePrinting {

namespace {

constexpr const char* openDialogKey = "zorvel-print-dialog";

const platform::Logger& printLog() {
  static const platform::Logger log("local.zorvel.desktop", "dialogs");
  return log;
}

// Keeps a print operation until the engine has finished with it.
void printWhenFinishedRelease(GObjectPtr<WebKitPrintOperation> operation) {
  auto* held = operation.release();
  g_signal_connect(held, "finished", G_CALLBACK(+[](WebKitPrintOperation* finished, gpointer) {
                     GObjectPtr<WebKitPrintOperation> release(finished);
                   }),
                   nullptr);
  webkit_print_operation_print(held);
}

class PrintDialog {
 public:
  explicit PrintDialog(WebKitWebView* view) : view(view), page(PageFocus::page(view)), dialog("Print") {
    if (auto* root = gtk_widget_get_root(GTK_WIDGET(view)); root && GTK_IS_WINDOW(root))
      gtk_window_set_transient_for(GTK_WINDOW(dialog.gobj()), GTK_WINDOW(root));
    dialog.set_embed_page_setup(true);
    dialog.set_manual_capabilities(Gtk::PrintCapabilities::PAGE_SET | Gtk::PrintCapabilities::COPIES |
                                   Gtk::PrintCapabilities::COLLATE | Gtk::PrintCapabilities::REVERSE |
                                   Gtk::PrintCapabilities::SCALE | Gtk::PrintCapabilities::GENERATE_PDF |
                                   Gtk::PrintCapabilities::NUMBER_UP | Gtk::PrintCapabilities::NUMBER_UP_LAYOUT);
    dialog.signal_response().connect([this](int response) {
      if (response == static_cast<int>(Gtk::ResponseType::OK)) print();
      finish();
    });
    // Hidden by anything else (quitting among it), the dialog prints nothing; nor once the page's
    // view or its process is gone.
    dialog.signal_hide().connect([this] { finish(); });
    for (const char* signal : {"destroy", "web-process-terminated"}) {
      handlers.push_back(
          g_signal_connect_swapped(view, signal, G_CALLBACK(+[](PrintDialog* self) { self->finish(); }), this));
    }
    g_object_set_data(G_OBJECT(view), openDialogKey, this);
  }
  PrintDialog(const PrintDialog&) = delete;
  PrintDialog& operator=(const PrintDialog&) = delete;

  // Asked for while the user types elsewhere, the dialog waits for the keyboard to be back on the
  // page; until then it counts as open, so the page cannot ask for another.
  void show() {
    std::weak_ptr<PrintDialog*> self = alive;
    PageFocus::whenBack(
        view.get().get(), "the print dialog",
        [self] {
          auto live = self.lock();
          if (!live) return;
          auto& dialog = (*live)->dialog;
          dialog.present();
          auto* print = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog.gobj()), GTK_RESPONSE_OK);
          DialogWindows::holdAnswer(GTK_WINDOW(dialog.gobj()), print);
        },
        [self] {
          // Another page would be printed in its stead.
          if (auto live = self.lock()) (*live)->finish();
        });
  }

 private:
  // The page as it is now, with what the user chose; a print of its own, as the page's call has
  // long returned.
  void print() {
    auto live = view.get();
    if (!live) return;
    // What the view shows now is not what asked to be printed.
    if (PageFocus::page(live.get()) != page) {
      printLog().error("Not printing the page: the page that asked for it has gone");
      return;
    }
    GObjectPtr<WebKitPrintOperation> operation(webkit_print_operation_new(live.get()));
    if (auto settings = dialog.get_settings()) {
      if (auto printer = dialog.get_selected_printer()) settings->set_printer(printer->get_name());
      webkit_print_operation_set_print_settings(operation.get(), settings->gobj());
    }
    if (auto setup = dialog.get_page_setup()) webkit_print_operation_set_page_setup(operation.get(), setup->gobj());
    printWhenFinishedRelease(std::move(operation));
  }

  // The dialog is deleted in a later turn, never from within one of its own signal handlers.
  void finish() {
    if (finished) return;
    finished = true;
    alive.reset();
    if (auto live = view.get()) {
      for (auto handler : handlers) g_signal_handler_disconnect(live.get(), handler);
      g_object_set_data(G_OBJECT(live.get()), openDialogKey, nullptr);
    }
    dialog.set_visible(false);
    platform::DispatchQueue::main().async([this] { delete this; });
  }

  GWeak<WebKitWebView> view;
  unsigned page;
  std::vector<gulong> handlers;
  Gtk::PrintUnixDialog dialog;
  bool finished = false;
  // Held by what waits to show the dialog, which must not outlive it.
  std::shared_ptr<PrintDialog*> alive = std::make_shared<PrintDialog*>(this);
};

gboolean printRequested(WebKitWebView* view, WebKitPrintOperation*, gpointer) {
  // A page that printed again as soon as the dialog closed would hold the user in it.
  if (g_object_get_data(G_OBJECT(view), openDialogKey)) {
    printLog().error("Not printing the page: its print dialog is open");
  } else if (PageActivation::consumeOrRefuse(view, "Not printing the page")) {
    (new PrintDialog(view))->show();
  }
  return TRUE;
}

}  // namespace

void attach(WebKitWebView* view) { g_signal_connect(view, "print", G_CALLBACK(printRequested), nullptr); }

}  // namespace zorvel::PagePrinting
