#include <filesystem>

#include "app/ProfileLoginController.h"
#include "app/WebBridge.h"
#include "app/WebDataFolders.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"

namespace zorvel {

void ZorvelAppDelegate::startAgentProfileLogin(const std::string& profileID) {
  if (profileLogin && profileLogin->profileID == profileID) {
    profileLogin->showWindow();
    return;
  }
  if (profileLogin) profileLogin->close();
  auto environment = TerminalEnvironment::loginEnvironment(
      executableSearchPath, TerminalEnvironment::processEnvironment(), terminalLocations());
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  profileLogin = ProfileLoginController::make(baseURL, coreAccess, profileID, cliPath, environment, [weak] {
    auto self = weak.lock();
    if (!self) return;
    // The controller may be inside its own call; let it return first.
    auto closing = std::move(self->profileLogin);
    platform::DispatchQueue::main().async([closing] {});
    self->evaluatePageScript("window.dispatchEvent(new Event('zorvel:profile-login-changed'));");
  });
  if (application) application->add_window(profileLogin->window);
  profileLogin->showWindow();
}

void ZorvelAppDelegate::makeWebBridge() {
  if (webBridge) return;
  WebDataFolders::makeDefaultSessionPrivate();
  auto& bundle = platform::Bundle::main();
  auto base = URL::parse(baseURL);
  WebBridge::Settings settings{
      base ? *base : *URL::parse("http://127.0.0.1"), coreAccess, desktopDataDirectory,
      bundle.infoString("ZorvelDistributionChannel"),
      bundle.resourcePath().empty() ? std::nullopt : std::optional<std::filesystem::path>(bundle.resourcePath())};
  webBridge = std::make_shared<WebBridge>(std::move(settings));
  webBridge->onApplicationMessage = [this](const PageMessages::ApplicationMessage& message, WebKitWebView* source) {
    handlePageMessage(message, source);
  };
  webBridge->onApplicationLink = [this](const std::string& link, WebKitWebView* source) {
    std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
    platform::DispatchQueue::main().async([weak, link, page = GWeak<WebKitWebView>(source)] {
      auto self = weak.lock();
      auto view = page.get();
      if (self && view) self->receiveOpenLink(link, view.get());
    });
  };
  webBridge->onMainPageLoaded = [this] {
    uiLoaded = true;
    dispatchPendingOpenLinkIfPossible();
    modalOverlay->prepareModalOverlayWebView();
  };
}

}  // namespace zorvel
