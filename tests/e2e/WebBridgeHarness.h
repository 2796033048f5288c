#pragma once

// A web view on a real window, wired to the bridge, against a small in-process stand-in for the
// core (libsoup server on the main context) that records what reached it.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit/webkit.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/WebBridge.h"
#include "tests/TemporaryFolder.h"

namespace e2e {

constexpr const char* desktopToken = "TEST-DESKTOP-TOKEN";

struct ArrivedRequest {
  std::string method;
  std::string path;
  std::string authorization;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

class FakeCore {
 public:
  FakeCore();
  ~FakeCore();
  int port() const { return listeningPort; }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(listeningPort); }
  std::vector<ArrivedRequest> arrived;
  std::vector<nlohmann::json> errorReports;
  // Streams held open by /events?hold=1 and /held-page, so a test can push more or end them.
  void pushToHeldStreams(const std::string& bytes, bool end);

 private:
  static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable* query, gpointer self);
  void serve(SoupServerMessage* message, const std::string& path, GHashTable* query);

  SoupServer* server = nullptr;
  int listeningPort = 0;
  std::vector<SoupServerMessage*> heldStreams;
};

// Iterates the main context until the condition holds or the time runs out.
bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(15));
void runFor(std::chrono::milliseconds duration);

class BridgeWindow {
 public:
  explicit BridgeWindow(const std::string& baseURL);
  ~BridgeWindow();

  zorvel::WebBridge& bridge() { return *webBridge; }
  WebKitWebView* view() { return webView; }
  std::vector<std::string> openedExternally;

  void load(const std::string& url);
  bool waitForLoad();
  // Evaluates an expression (awaiting a promise) and returns its JSON text.
  std::string evaluate(const std::string& expression);
  nlohmann::json evaluateJSON(const std::string& expression);
  // Waits until the expression, evaluated repeatedly, is true.
  bool waitForTrue(const std::string& expression, std::chrono::milliseconds limit = std::chrono::seconds(15));
  std::string labelText();
  bool labelVisible();

 private:
  testing::TemporaryFolder dataFolder{"zorvel-e2e-data"};
  std::shared_ptr<zorvel::WebBridge> webBridge;
  GtkWidget* window = nullptr;
  GtkWidget* overlay = nullptr;
  WebKitWebView* webView = nullptr;
  void* errorLabel = nullptr;
  int finishedLoads = 0;
};

}  // namespace e2e
