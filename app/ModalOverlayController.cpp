#include "app/ModalOverlayController.h"

#include <webkit/webkit.h>

#include "app/DialogWindows.h"
#include "app/ModalOverlay.h"
#include "app/PageCalls.h"
#include "app/WebViewProcesses.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace zorvel {

namespace {

constexpr const char* overlayStyle = R"css(
.zorvel-modal-panel { background-color: transparent; }
.zorvel-modal-backdrop { background-color: transparent; }
.zorvel-modal-backdrop.zorvel-dark { background-color: rgba(0, 0, 0, 0.52); }
.zorvel-modal-backdrop.zorvel-light { background-color: rgba(0, 0, 0, 0.32); }
.zorvel-modal-host { background-color: transparent; border-radius: 8px; }
.zorvel-modal-host.zorvel-dark { box-shadow: 0 6px 18px rgba(0, 0, 0, 0.38); }
.zorvel-modal-host.zorvel-light { box-shadow: 0 6px 18px rgba(0, 0, 0, 0.2); }
)css";

void installOverlayStyle() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(overlayStyle);
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void detach(WebKitWebView* view) {
  auto* widget = GTK_WIDGET(view);
  auto* parent = gtk_widget_get_parent(widget);
  if (parent && GTK_IS_BOX(parent)) gtk_box_remove(GTK_BOX(parent), widget);
}

void setPageBackground(WebKitWebView* view, bool dark) {
  GdkRGBA colour = dark ? GdkRGBA{31.0f / 255, 31.0f / 255, 31.0f / 255, 1} : GdkRGBA{1, 1, 1, 1};
  webkit_web_view_set_background_color(view, &colour);
}

}  // namespace

ModalOverlayController::ModalOverlayController(Host host) : host(std::move(host)) {}

ModalOverlayController::~ModalOverlayController() = default;

void ModalOverlayController::showModalOverlay(const std::string& kind, const std::optional<nlohmann::json>& errorEvent,
                                              const std::optional<nlohmann::json>& payload, bool prewarming) {
  if (!ModalOverlay::canOpen(kind, errorEvent, payload)) return;
  closeModalOverlay(false);
  const std::int64_t generation = ++modalOverlayGeneration;
  activeModalOverlayGeneration = generation;
  prepareModalOverlayWebView();
  if (!modalOverlayWebView) return;
  installOverlayStyle();

  auto content = prewarming ? ModalOverlay::prewarmContentSize : ModalOverlay::kind(kind)->contentSize;
  const bool dark = host.darkTheme();
  const char* theme = dark ? "zorvel-dark" : "zorvel-light";

  auto panel = std::make_unique<ModalOverlayPanel>();
  panel->set_halign(Gtk::Align::FILL);
  panel->set_valign(Gtk::Align::FILL);
  panel->set_opacity(1);

  auto* backdrop = Gtk::make_managed<ModalBackdropView>();
  if (!prewarming) backdrop->add_css_class(theme);
  std::weak_ptr<ModalOverlayController> weak = weak_from_this();
  backdrop->onDismiss = [weak] {
    auto self = weak.lock();
    if (self && self->modalOverlayWebView)
      PageCalls::runScript(self->modalOverlayWebView.get(), ModalOverlay::dismissScript);
  };
  panel->append(*backdrop);

  auto* view = modalOverlayWebView.get();
  auto* viewWidget = GTK_WIDGET(view);
  setPageBackground(view, dark);
  gtk_widget_set_opacity(viewWidget, prewarming ? 1 : 0);
  gtk_widget_set_hexpand(viewWidget, TRUE);
  gtk_widget_set_vexpand(viewWidget, TRUE);

  auto* contentHost = Gtk::make_managed<ModalContentHostView>();
  if (!prewarming) contentHost->add_css_class(theme);
  detach(view);
  gtk_box_append(GTK_BOX(contentHost->gobj()), viewWidget);
  backdrop->setContent(contentHost);

  modalOverlayWidthConstraint = content.width;
  modalOverlayHeightConstraint = content.height;
  backdrop->setContentWidth(content.width);
  backdrop->setContentHeight(content.height);
  modalOverlayBackdrop = backdrop;

  pendingModalOverlayKind = kind;
  pendingModalOverlayErrorEvent = errorEvent;
  pendingModalOverlayPayload = payload;
  modalOverlayPrewarming = prewarming;

  if (prewarming) {
    // Rendered but never seen, never clicked and never given the keyboard.
    panel->set_opacity(0);
    panel->set_can_target(false);
    panel->set_focusable(false);
    panel->set_can_focus(false);
  }
  host.rootContainer.add_overlay(*panel);
  // Opened while the keyboard is on the page (the application's caller waits for that), the
  // overlay takes it within the window; the window itself is not raised over what the user is at.
  // What the user was typing into the page as it came up is not its answer: it takes no key from
  // the start until a moment after it shows.
  if (!prewarming) {
    modalOverlayPage = host.mainPage();
    DialogWindows::holdKeys(GTK_WIDGET(panel->gobj()));
    panel->grab_focus();
  }
  modalOverlayPanel = std::move(panel);

  if (modalOverlayHostReady) {
    clearPendingOpening();
    dispatchModalOverlayOpen(kind, errorEvent, payload, generation);
  }
}

void ModalOverlayController::prepareModalOverlayWebView() {
  if (modalOverlayWebView) return;
  auto* view = host.makeWebView();
  if (!view) return;
  g_object_ref_sink(view);
  GdkRGBA clear{0, 0, 0, 0};
  webkit_web_view_set_background_color(view, &clear);
  gtk_widget_set_focus_on_click(GTK_WIDGET(view), TRUE);
  gtk_widget_set_opacity(GTK_WIDGET(view), 0);

  auto* weak = new std::weak_ptr<ModalOverlayController>(weak_from_this());
  g_signal_connect_data(
      view, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView* terminated, WebKitWebProcessTerminationReason, gpointer data) {
        if (WebViewProcesses::endedOnQuit(terminated)) return;
        // Replaced in a later turn: the view must not be released while it emits this signal,
        // and the other handlers of the signal must still find it.
        std::weak_ptr<ModalOverlayController> weak = *static_cast<std::weak_ptr<ModalOverlayController>*>(data);
        std::shared_ptr<WebKitWebView> held(WEBKIT_WEB_VIEW(g_object_ref(terminated)), platform::GObjectUnref());
        platform::DispatchQueue::main().async([weak, held] {
          if (auto self = weak.lock()) self->modalOverlayWebContentProcessDidTerminate(held.get());
        });
      }),
      weak, [](gpointer data, GClosure*) { delete static_cast<std::weak_ptr<ModalOverlayController>*>(data); },
      GConnectFlags(0));

  modalOverlayWebView.reset(view);
  webkit_web_view_load_uri(view, ModalOverlay::hostURL(host.darkTheme()).c_str());
}

// A dead overlay page can never report ready again: the panel would cover the window for good.
// The opening is given up, and a fresh overlay web view starts over as if never loaded.
void ModalOverlayController::modalOverlayWebContentProcessDidTerminate(WebKitWebView* view) {
  if (!modalOverlayWebView || modalOverlayWebView.get() != view) return;
  closeModalOverlay(false);
  detach(view);
  modalOverlayWebView.reset();
  modalOverlayHostReady = false;
  modalOverlayPrewarmed = false;
  if (host.uiLoaded()) prepareModalOverlayWebView();
}

void ModalOverlayController::dispatchModalOverlayOpen(const std::string& kind,
                                                      const std::optional<nlohmann::json>& errorEvent,
                                                      const std::optional<nlohmann::json>& payload,
                                                      std::int64_t generation) {
  if (!modalOverlayWebView) return;
  if (auto script = ModalOverlay::openScript(kind, host.darkTheme(), generation, errorEvent, payload))
    PageCalls::runScript(modalOverlayWebView.get(), *script);
}

void ModalOverlayController::dispatchModalOverlayResult(std::int64_t generation, const std::string& answer) {
  auto script = ModalOverlay::resultScript(generation, answer, activeModalOverlayGeneration);
  if (!script) return;
  // A page loaded since the opening did not ask: the answer is its opener's alone.
  if (host.mainPage() == modalOverlayPage) {
    host.evaluatePageScript(*script);
  } else {
    static const platform::Logger log("local.zorvel.desktop", "dialogs");
    log.notice("Not handing the overlay's answer to the page: the page that asked for it has gone");
  }
  closeModalOverlay(true);
}

void ModalOverlayController::closeModalOverlay(bool restoreTerminalFocus) {
  if (!modalOverlayPanel) return;
  auto script = ModalOverlay::closedScript(activeModalOverlayGeneration);
  if (modalOverlayWebView) {
    PageCalls::runScript(modalOverlayWebView.get(), script);
    gtk_widget_set_opacity(GTK_WIDGET(modalOverlayWebView.get()), 0);
    detach(modalOverlayWebView.get());
  }
  // The host goes before the panel, so no view is finalized while it still holds a child.
  if (modalOverlayBackdrop) modalOverlayBackdrop->setContent(nullptr);
  host.rootContainer.remove_overlay(*modalOverlayPanel);
  modalOverlayPanel.reset();
  modalOverlayBackdrop = nullptr;
  activeModalOverlayGeneration.reset();
  modalOverlayPrewarming = false;
  modalOverlayWidthConstraint.reset();
  modalOverlayHeightConstraint.reset();
  clearPendingOpening();
  if (restoreTerminalFocus) host.restorePageFocus();
}

void ModalOverlayController::clearPendingOpening() {
  pendingModalOverlayKind.reset();
  pendingModalOverlayErrorEvent.reset();
  pendingModalOverlayPayload.reset();
}

void ModalOverlayController::resizeModalOverlay(double width, double height) {
  if (modalOverlayPrewarming || !modalOverlayPanel || !modalOverlayBackdrop) return;
  ModalOverlay::Size available{static_cast<double>(host.rootContainer.get_width()),
                               static_cast<double>(host.rootContainer.get_height())};
  auto size = ModalOverlay::clampedContentSize(available, width, height);
  modalOverlayWidthConstraint = size.width;
  modalOverlayHeightConstraint = size.height;
  modalOverlayBackdrop->setContentWidth(size.width);
  modalOverlayBackdrop->setContentHeight(size.height);
}

void ModalOverlayController::prewarmModalOverlayIfPossible() {
  if (!modalOverlayHostReady || modalOverlayPrewarmed || modalOverlayPrewarming || modalOverlayPanel) return;
  showModalOverlay(std::string(ModalOverlay::prewarmKind), std::nullopt, ModalOverlay::prewarmPayload(), true);
}

void ModalOverlayController::updateModalOverlayFrame() {
  // The panel is a layer of the window's content and follows it; only a fresh layout is needed.
  if (modalOverlayPrewarming || !modalOverlayPanel) return;
  modalOverlayPanel->queue_resize();
}

bool ModalOverlayController::modalOverlayDidBecomeReady() {
  if (!modalOverlayPanel) return false;
  const bool wasPrewarming = modalOverlayPrewarming;
  modalOverlayPrewarmed = true;
  if (wasPrewarming) {
    closeModalOverlay(false);
    return true;
  }
  modalOverlayPanel->set_opacity(1);
  DialogWindows::shownWithKeys(GTK_WIDGET(modalOverlayPanel->gobj()));
  if (modalOverlayWebView) {
    gtk_widget_set_opacity(GTK_WIDGET(modalOverlayWebView.get()), 1);
    modalOverlayPanel->grab_focus();
    gtk_widget_grab_focus(GTK_WIDGET(modalOverlayWebView.get()));
  }
  return true;
}

void ModalOverlayController::modalOverlayHostDidBecomeReady() {
  modalOverlayHostReady = true;
  if (pendingModalOverlayKind) {
    auto kind = std::move(*pendingModalOverlayKind);
    auto errorEvent = std::move(pendingModalOverlayErrorEvent);
    auto payload = std::move(pendingModalOverlayPayload);
    clearPendingOpening();
    dispatchModalOverlayOpen(kind, errorEvent, payload, activeModalOverlayGeneration.value_or(modalOverlayGeneration));
    return;
  }
  prewarmModalOverlayIfPossible();
}

}  // namespace zorvel
