#include <webkit/webkit.h>

#include "app/PageFocus.h"
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
      [this](const std::string& script) { evaluatePageScript(script); },
      [this] {
        // The page had the keyboard before the dialog; a task terminal takes it back if one is
        // active. Within the window only: a page may close its overlay at any time, and the user
        // may be at another program by then.
        if (webView) gtk_widget_grab_focus(GTK_WIDGET(webView));
        restoreActiveTerminalFocusAfterSidebarRefresh();
      },
      [this] { return PageFocus::page(webView); },
  });
}

}  // namespace zorvel
