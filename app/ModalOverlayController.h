#pragma once

#include <gtkmm.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/ModalOverlayViews.h"
#include "platform/GLibPtr.h"

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// The modal overlay: one web view for the life of the process, a new panel over the window's
// content for every opening, and the generations that tell one opening's messages from another's.
// It lives on the main thread; what it needs of the window and the main page comes through `Host`.
class ModalOverlayController : public std::enable_shared_from_this<ModalOverlayController> {
 public:
  struct Host {
    // The window's content, which the panel covers.
    Gtk::Overlay& rootContainer;
    // A new web view wired to the page bridge (floating), or null while there is no bridge.
    std::function<WebKitWebView*()> makeWebView;
    std::function<bool()> darkTheme;
    // Whether the main page has loaded; a dead overlay page is only replaced after that.
    std::function<bool()> uiLoaded;
    std::function<void(const std::string& script)> evaluatePageScript;
    // The main page had the keyboard before the dialog: it, or the active terminal, takes it back.
    std::function<void()> restorePageFocus;
    // Which page the main view shows (PageFocus::page): an answer goes to the page that asked.
    std::function<unsigned()> mainPage;
  };

  explicit ModalOverlayController(Host host);
  ~ModalOverlayController();
  ModalOverlayController(const ModalOverlayController&) = delete;
  ModalOverlayController& operator=(const ModalOverlayController&) = delete;

  void showModalOverlay(const std::string& kind, const std::optional<nlohmann::json>& errorEvent,
                        const std::optional<nlohmann::json>& payload, bool prewarming);
  void closeModalOverlay(bool restoreTerminalFocus);
  void prepareModalOverlayWebView();
  void dispatchModalOverlayOpen(const std::string& kind, const std::optional<nlohmann::json>& errorEvent,
                                const std::optional<nlohmann::json>& payload, std::int64_t generation);
  // The overlay page's answer (JSON text) for the opening of `generation`.
  void dispatchModalOverlayResult(std::int64_t generation, const std::string& answer);
  void resizeModalOverlay(double width, double height);
  void prewarmModalOverlayIfPossible();
  void updateModalOverlayFrame();
  // The page's "modal-overlay-ready" of the active generation; false when no panel is shown.
  bool modalOverlayDidBecomeReady();
  void modalOverlayHostDidBecomeReady();

  std::unique_ptr<ModalOverlayPanel> modalOverlayPanel;
  GObjectPtr<WebKitWebView> modalOverlayWebView;
  // The dimmed area of the shown panel, which sizes the dialog; owned by the panel.
  ModalBackdropView* modalOverlayBackdrop = nullptr;
  std::optional<double> modalOverlayWidthConstraint;
  std::optional<double> modalOverlayHeightConstraint;
  bool modalOverlayHostReady = false;
  bool modalOverlayPrewarming = false;
  bool modalOverlayPrewarmed = false;
  std::int64_t modalOverlayGeneration = 0;
  std::optional<std::int64_t> activeModalOverlayGeneration;
  // The main page the shown opening was made for.
  unsigned modalOverlayPage = 0;
  // An opening waits here until the overlay page's host is ready for it.
  std::optional<std::string> pendingModalOverlayKind;
  std::optional<nlohmann::json> pendingModalOverlayErrorEvent;
  std::optional<nlohmann::json> pendingModalOverlayPayload;

 private:
  void modalOverlayWebContentProcessDidTerminate(WebKitWebView* view);
  void clearPendingOpening();

  Host host;
};

}  // namespace zorvel
