#include "app/ScriptDialogs.h"

#include <gtkmm.h>
#include <webkit/webkit.h>

#include <memory>
#include <vector>

#include "app/DialogText.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"

namespace zorvel::ScriptDialogs {

namespace {

// Enough for any message a page means a person to read; the rest is cut off with an ellipsis.
constexpr std::size_t shownCharacters = 2000;
// A prompt's default text is the answer when the user changes nothing, so it is cut without a mark.
constexpr std::size_t longestAnswer = 10000;

// WebKit hands a dialog's text over as a C string, so a NUL of the page's text would end what the
// dialog shows. The page's own alert, confirm and prompt show it as its symbol before it gets there.
constexpr const char* visibleNULScript = R"js((() => {
  for (const name of ['alert', 'confirm', 'prompt']) {
    const ask = window[name];
    if (typeof ask !== 'function') continue;
    window[name] = {
      [name](message, ...rest) {
        if (arguments.length === 0) return Reflect.apply(ask, window, []);
        return Reflect.apply(ask, window, [`${message}`.replaceAll('\0', '\u2400'), ...rest]);
      },
    }[name];
  }
})();)js";

// Answers the page when the request is let go, whatever became of the dialog: WebKit holds the
// page's script until then.
struct CloseRequest {
  void operator()(WebKitScriptDialog* request) const {
    webkit_script_dialog_close(request);
    webkit_script_dialog_unref(request);
  }
};
using RequestPtr = std::unique_ptr<WebKitScriptDialog, CloseRequest>;

class PageDialog {
 public:
  PageDialog(WebKitWebView* view, WebKitScriptDialog* request)
      : request(webkit_script_dialog_ref(request)),
        type(webkit_script_dialog_get_dialog_type(request)),
        view(view),
        window(type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM ? "Leave this page?" : "", false,
               Gtk::MessageType::OTHER, Gtk::ButtonsType::NONE, true) {
    build(view);
    // The page's view can go away, or its page with its process, while the question is open:
    // nobody is left to answer.
    for (const char* signal : {"destroy", "web-process-terminated"}) {
      handlers.push_back(
          g_signal_connect_swapped(view, signal, G_CALLBACK(+[](PageDialog* self) { self->finish(); }), this));
    }
  }
  PageDialog(const PageDialog&) = delete;
  PageDialog& operator=(const PageDialog&) = delete;
  ~PageDialog() {
    if (auto live = view.get()) {
      for (auto handler : handlers) {
        if (g_signal_handler_is_connected(live.get(), handler)) g_signal_handler_disconnect(live.get(), handler);
      }
    }
  }

  void show() {
    window.present();
    if (entry) entry->grab_focus();
  }

 private:
  void build(WebKitWebView* source) {
    if (auto* root = gtk_widget_get_root(GTK_WIDGET(source)); root && GTK_IS_WINDOW(root))
      gtk_window_set_transient_for(GTK_WINDOW(window.gobj()), GTK_WINDOW(root));
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
      window.set_secondary_text("Changes you made may not be saved.");
      window.add_button("Stay", Gtk::ResponseType::CANCEL);
      window.add_button("Leave", Gtk::ResponseType::OK);
    } else {
      const char* text = webkit_script_dialog_get_message(request.get());
      auto message = boundedText(text ? text : "", shownCharacters);
      showTextWithinDialog(window, message.cut ? message.text + "\u2026" : message.text);
      if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) addEntry();
      if (type != WEBKIT_SCRIPT_DIALOG_ALERT) window.add_button("Cancel", Gtk::ResponseType::CANCEL);
      window.add_button("OK", Gtk::ResponseType::OK);
    }
    window.set_default_response(Gtk::ResponseType::OK);
    window.signal_response().connect([this](int response) {
      answer(response == static_cast<int>(Gtk::ResponseType::OK));
      finish();
    });
  }

  void addEntry() {
    const char* initial = webkit_script_dialog_prompt_get_default_text(request.get());
    entry = Gtk::make_managed<Gtk::Entry>();
    entry->set_text(boundedText(initial ? initial : "", longestAnswer).text);
    entry->set_activates_default(true);
    entry->set_margin_top(8);
    window.get_message_area()->append(*entry);
  }

  void answer(bool confirmed) {
    if (!request) return;
    if (type == WEBKIT_SCRIPT_DIALOG_PROMPT && confirmed && entry)
      webkit_script_dialog_prompt_set_text(request.get(), entry->get_text().c_str());
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM || type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
      webkit_script_dialog_confirm_set_confirmed(request.get(), confirmed);
  }

  // The page hears the answer at once; the dialog is deleted in a later turn, never from within one
  // of its own signal handlers.
  void finish() {
    if (finished) return;
    finished = true;
    request.reset();
    window.set_visible(false);
    platform::DispatchQueue::main().async([this] { delete this; });
  }

  RequestPtr request;
  WebKitScriptDialogType type;
  GWeak<WebKitWebView> view;
  std::vector<gulong> handlers;
  Gtk::MessageDialog window;
  Gtk::Entry* entry = nullptr;
  bool finished = false;
};

}  // namespace

void attach(WebKitWebView* view) {
  if (auto* manager = webkit_web_view_get_user_content_manager(view)) {
    auto* script = webkit_user_script_new(visibleNULScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                          WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
  }
  g_signal_connect(view, "script-dialog", G_CALLBACK(+[](WebKitWebView* v, WebKitScriptDialog* request) -> gboolean {
                     (new PageDialog(v, request))->show();
                     return TRUE;
                   }),
                   nullptr);
}

}  // namespace zorvel::ScriptDialogs
