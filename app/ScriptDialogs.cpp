#include "app/ScriptDialogs.h"

#include <gtkmm.h>
#include <webkit/webkit.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "app/DialogText.h"
#include "app/DialogWindows.h"
#include "app/PageActivation.h"
#include "app/PageFocus.h"
#include "app/UserScripts.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"

namespace zorvel::ScriptDialogs {

namespace {

using Clock = std::chrono::steady_clock;

// Enough for any message a page means a person to read; the rest is cut off with an ellipsis.
constexpr std::size_t shownCharacters = 2000;
// The most characters an entry holds. A prompt's default text up to this long is edited whole; a
// longer one can only be taken as it is or cancelled, as the entry could hold only a part of it and
// an edited part would lose the rest.
constexpr std::size_t longestAnswer = 65535;
// A dialog that opens this soon after the page's last one was answered is one of a row, which the
// user may want to end: a page that asks again and again would otherwise hold the dialog up for
// as long as it likes.
constexpr auto rowGap = std::chrono::seconds(3);

// WebKit hands a dialog's text over as a C string, so a NUL of the page's text would end what the
// dialog shows. The page's own alert, confirm and prompt show it as its symbol before it gets there,
// a prompt's default text too; an answer that leaves the default as it was shown is the page's own
// default, NULs and all. A default left out (or undefined) is the empty text, which has no NUL.
constexpr const char* visibleNULScript = R"js((() => {
  const shown = (text) => `${text}`.replaceAll('\0', '\u2400');
  for (const name of ['alert', 'confirm', 'prompt']) {
    const ask = window[name];
    if (typeof ask !== 'function') continue;
    window[name] = {
      [name](message, ...rest) {
        if (arguments.length === 0) return Reflect.apply(ask, window, []);
        if (name !== 'prompt' || rest[0] === undefined) return Reflect.apply(ask, window, [shown(message), ...rest]);
        const given = `${rest[0]}`;
        const answer = Reflect.apply(ask, window, [shown(message), shown(given), ...rest.slice(1)]);
        return answer === shown(given) ? given : answer;
      },
    }[name];
  }
})();)js";

// What a web view's dialogs know of its page since it last loaded.
struct PageState {
  unsigned load = 0;  // counts the page's loads, so an answer given to an older page stays with it
  Clock::time_point loaded = Clock::now();
  bool stopped = false;  // the user asked to see no more of this page's dialogs
  std::optional<Clock::time_point> lastAnswered;
};
using PagePtr = std::shared_ptr<PageState>;

// Answers the page when the request is let go, whatever became of the dialog: WebKit holds the
// page's script until then.
struct CloseRequest {
  void operator()(WebKitScriptDialog* request) const {
    webkit_script_dialog_close(request);
    webkit_script_dialog_unref(request);
  }
};
using RequestPtr = std::unique_ptr<WebKitScriptDialog, CloseRequest>;

// The application the dialog's window belongs to: its Quit then reaches the dialog too.
GtkApplication* applicationOf(GtkWidget* widget) {
  if (auto* root = gtk_widget_get_root(widget); root && GTK_IS_WINDOW(root)) {
    if (auto* application = gtk_window_get_application(GTK_WINDOW(root))) return application;
  }
  auto* fallback = g_application_get_default();
  return fallback && GTK_IS_APPLICATION(fallback) ? GTK_APPLICATION(fallback) : nullptr;
}

class PageDialog {
 public:
  PageDialog(WebKitWebView* view, WebKitScriptDialog* request, PagePtr page)
      : request(webkit_script_dialog_ref(request)),
        type(webkit_script_dialog_get_dialog_type(request)),
        view(view),
        page(std::move(page)),
        load(this->page->load),
        window(type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM ? "Leave this page?" : "", false,
               Gtk::MessageType::OTHER, Gtk::ButtonsType::NONE, false) {
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

  // The page waits while the user types elsewhere (see PageFocus): the dialog comes up once the
  // keyboard is back on the page, and then takes it. A page that goes first is answered no.
  void show() {
    std::weak_ptr<PageDialog*> self = alive;
    PageFocus::whenBack(
        view.get().get(), "a dialog of the page",
        [self] {
          if (auto dialog = self.lock()) (*dialog)->present();
        },
        [self] {
          if (auto dialog = self.lock()) (*dialog)->finish();
        });
  }

 private:
  // The keyboard starts in the entry, or else on the default button once it answers: on the choice
  // to stop the page's dialogs, Return would tick it rather than answer.
  void present() {
    window.present();
    if (entry) entry->grab_focus();
    auto* answer = window.get_widget_for_response(Gtk::ResponseType::OK);
    std::weak_ptr<PageDialog*> self = alive;
    DialogWindows::holdAnswer(GTK_WINDOW(window.gobj()), answer ? answer->gobj() : nullptr, [self, answer] {
      auto dialog = self.lock();
      if (dialog && !(*dialog)->entry && answer) answer->grab_focus();
    });
  }

  void build(WebKitWebView* source) {
    if (auto* root = gtk_widget_get_root(GTK_WIDGET(source)); root && GTK_IS_WINDOW(root))
      gtk_window_set_transient_for(GTK_WINDOW(window.gobj()), GTK_WINDOW(root));
    const bool inARow = page->lastAnswered && Clock::now() - *page->lastAnswered < rowGap;
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
      window.set_secondary_text("Changes you made may not be saved.");
      if (inARow) addStopChoice();
      window.add_button("Stay", Gtk::ResponseType::CANCEL);
      window.add_button("Leave", Gtk::ResponseType::OK);
    } else {
      const char* text = webkit_script_dialog_get_message(request.get());
      auto message = boundedText(text ? text : "", shownCharacters);
      showTextWithinDialog(window, message.cut ? message.text + "\u2026" : message.text);
      if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) addEntry();
      if (inARow) addStopChoice();
      if (type != WEBKIT_SCRIPT_DIALOG_ALERT) window.add_button("Cancel", Gtk::ResponseType::CANCEL);
      window.add_button("OK", Gtk::ResponseType::OK);
    }
    window.set_default_response(Gtk::ResponseType::OK);
    belongToApplication(GTK_WIDGET(source));
    window.signal_response().connect([this](int response) {
      answer(response == static_cast<int>(Gtk::ResponseType::OK));
      if (page->load == load) {
        page->lastAnswered = Clock::now();
        if (stopChoice && stopChoice->get_active()) page->stopped = true;
      }
      finish();
    });
    // Hidden by anything else, the application's quitting among them, the dialog answers no.
    window.signal_hide().connect([this] {
      answer(false);
      finish();
    });
  }

  // The dialog belongs to the application, so quitting hides it, which answers the page no. (Like
  // every window besides the main one, it holds only a window group of its own and hears the Quit
  // keys, so quitting and closing the main window work while the page waits.)
  void belongToApplication(GtkWidget* source) {
    if (auto* application = applicationOf(source)) gtk_window_set_application(GTK_WINDOW(window.gobj()), application);
  }

  // A default the entry cannot hold whole is shown as far as it can, and cannot be changed: OK
  // answers with the whole of it.
  void addEntry() {
    const char* initial = webkit_script_dialog_prompt_get_default_text(request.get());
    auto shown = boundedText(initial ? initial : "", longestAnswer);
    entry = Gtk::make_managed<Gtk::Entry>();
    entry->set_max_length(static_cast<int>(longestAnswer));
    entry->set_text(shown.text);
    entry->set_activates_default(true);
    entry->set_margin_top(8);
    window.get_message_area()->append(*entry);
    if (!shown.cut) return;
    entry->set_editable(false);
    auto* note = Gtk::make_managed<Gtk::Label>(
        "The suggested answer is too long to change here. OK gives it whole, as the page suggested it.");
    note->set_wrap(true);
    note->set_max_width_chars(60);
    note->set_margin_top(4);
    window.get_message_area()->append(*note);
  }

  // Left as shown, the answer is the page's own default, NULs and all, rather than the text shown.
  void answerPrompt() {
    const std::string typed = entry->get_text();
    const char* initial = webkit_script_dialog_prompt_get_default_text(request.get());
    bool unchanged = initial && (!entry->get_editable() || typed == boundedText(initial, longestAnswer).text) &&
                     g_utf8_validate(initial, -1, nullptr);
    webkit_script_dialog_prompt_set_text(request.get(), unchanged ? initial : typed.c_str());
  }

  void addStopChoice() {
    stopChoice = Gtk::make_managed<Gtk::CheckButton>("_Don't allow this page to show more dialogs", true);
    stopChoice->set_margin_top(8);
    window.get_message_area()->append(*stopChoice);
  }

  void answer(bool confirmed) {
    if (!request) return;
    if (type == WEBKIT_SCRIPT_DIALOG_PROMPT && confirmed && entry) answerPrompt();
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM || type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
      webkit_script_dialog_confirm_set_confirmed(request.get(), confirmed);
  }

  // The page hears the answer at once; the dialog is deleted in a later turn, never from within one
  // of its own signal handlers.
  void finish() {
    if (finished) return;
    finished = true;
    alive.reset();
    request.reset();
    window.set_visible(false);
    platform::DispatchQueue::main().async([this] { delete this; });
  }

  RequestPtr request;
  WebKitScriptDialogType type;
  GWeak<WebKitWebView> view;
  PagePtr page;
  unsigned load;
  std::vector<gulong> handlers;
  Gtk::MessageDialog window;
  Gtk::Entry* entry = nullptr;
  Gtk::CheckButton* stopChoice = nullptr;
  bool finished = false;
  // Held by what waits to show the dialog, which must not outlive it.
  std::shared_ptr<PageDialog*> alive = std::make_shared<PageDialog*>(this);
};

// A page whose dialogs the user stopped is answered at once, as if each had been cancelled: a
// confirm is false and a prompt null. The question before a page is left is asked only of a page
// the user has pressed on since it loaded, as browsers do, and not of a stopped one: those pages
// are left without it.
bool answeredWithoutAsking(WebKitWebView* view, WebKitScriptDialog* request, const PageState& page) {
  auto type = webkit_script_dialog_get_dialog_type(request);
  // WebKit closes a request that nobody holds once the signal has been handled; closing it here
  // would leave WebKit to let go of one it no longer has.
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    const auto pressed = PageActivation::lastPress(view);
    const bool leaveUnasked = page.stopped || !pressed || *pressed < page.loaded;
    if (leaveUnasked) webkit_script_dialog_confirm_set_confirmed(request, TRUE);
    return leaveUnasked;
  }
  if (!page.stopped) return false;
  if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) webkit_script_dialog_confirm_set_confirmed(request, FALSE);
  return true;
}

void releasePage(gpointer page, GClosure*) { delete static_cast<PagePtr*>(page); }

}  // namespace

void attach(WebKitWebView* view) {
  if (auto* manager = webkit_web_view_get_user_content_manager(view))
    UserScripts::add(manager, visibleNULScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES);
  auto page = std::make_shared<PageState>();
  g_signal_connect_data(view, "script-dialog",
                        G_CALLBACK(+[](WebKitWebView* v, WebKitScriptDialog* request, PagePtr* state) -> gboolean {
                          if (!answeredWithoutAsking(v, request, **state)) (new PageDialog(v, request, *state))->show();
                          return TRUE;
                        }),
                        new PagePtr(page), releasePage, GConnectFlags(0));
  // A page that loads again may show dialogs again, and its first is not one of a row.
  g_signal_connect_data(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, PagePtr* state) {
                          if (event != WEBKIT_LOAD_COMMITTED) return;
                          auto& page = **state;
                          ++page.load;
                          page.loaded = Clock::now();
                          page.stopped = false;
                          page.lastAnswered.reset();
                        }),
                        new PagePtr(page), releasePage, GConnectFlags(0));
}

}  // namespace zorvel::ScriptDialogs
