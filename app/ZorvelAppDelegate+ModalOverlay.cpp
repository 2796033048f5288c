#include <webkit/webkit.h>

#include "app/WebBridge.h"
#include "app/ZorvelAppDelegate.h"

namespace zorvel {

// The overlay lives as long as the delegate and is only called from it, so its host may hold the
// delegate itself.
void ZorvelAppDelegate::makeModalOverlay() {
  modalOverlay = std::make_shared<ModalOverlayController>(ModalOverlayController::Host{
      rootContainer,
      [this]() -> WebKitWebView* { return webBridge ? webBridge->makeWebView() : nullptr; },
      [this] { return darkTheme; },
      [this] { return uiLoaded; },
      [this] {
        if (window) window->present();
      },
      [this](const std::string& script) { evaluatePageScript(script); },
      [this] {
        if (window) window->present();
        // The page had the keyboard before the dialog; a task terminal takes it back if one is active.
        if (webView) gtk_widget_grab_focus(GTK_WIDGET(webView));
        restoreActiveTerminalFocusAfterSidebarRefresh();
      },
  });
}

void ZorvelAppDelegate::showModalOverlay(const std::string& kind, const std::optional<nlohmann::json>& errorEvent,
                                         const std::optional<nlohmann::json>& payload, bool prewarming) {
  modalOverlay->showModalOverlay(kind, errorEvent, payload, prewarming);
}

void ZorvelAppDelegate::closeModalOverlay(bool restoreTerminalFocus) {
  modalOverlay->closeModalOverlay(restoreTerminalFocus);
}

void ZorvelAppDelegate::prepareModalOverlayWebView() { modalOverlay->prepareModalOverlayWebView(); }

void ZorvelAppDelegate::dispatchModalOverlayOpen(const std::string& kind,
                                                 const std::optional<nlohmann::json>& errorEvent,
                                                 const std::optional<nlohmann::json>& payload,
                                                 std::int64_t generation) {
  modalOverlay->dispatchModalOverlayOpen(kind, errorEvent, payload, generation);
}

void ZorvelAppDelegate::dispatchModalOverlayResult(const nlohmann::json& result) {
  modalOverlay->dispatchModalOverlayResult(result);
}

void ZorvelAppDelegate::resizeModalOverlay(double width, double height) {
  modalOverlay->resizeModalOverlay(width, height);
}

void ZorvelAppDelegate::prewarmModalOverlayIfPossible() { modalOverlay->prewarmModalOverlayIfPossible(); }

void ZorvelAppDelegate::updateModalOverlayFrame() { modalOverlay->updateModalOverlayFrame(); }

bool ZorvelAppDelegate::modalOverlayDidBecomeReady() { return modalOverlay->modalOverlayDidBecomeReady(); }

void ZorvelAppDelegate::modalOverlayHostDidBecomeReady() { modalOverlay->modalOverlayHostDidBecomeReady(); }

}  // namespace zorvel
