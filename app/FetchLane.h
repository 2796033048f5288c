#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/GLibPtr.h"
#include "platform/URLSession.h"

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// The page's fetches of one web view. They run on a session of their own, so a page that asks for
// thousands at once holds up neither the application's own requests to the core (task terminals,
// reports) nor another view's page: a few run at once and the rest wait in the order the page
// made them. All their answers find the view through one weak reference, as each reference a view
// holds costs every other one a step when it goes.
class FetchLane {
 public:
  // A page may keep this many requests, or this many bytes of them, waiting; one more is answered
  // at once with a failure.
  static constexpr std::size_t maximumWaiting = 50000;
  static constexpr std::size_t maximumWaitingBytes = 256 * 1024 * 1024;
  static constexpr std::size_t maximumRunning = 6;

  // The view's lane, made on first use and ended with the view; main thread only. The lane must
  // also be let go on the main thread: it ends the session's thread.
  static std::shared_ptr<FetchLane> of(WebKitWebView* view);

  explicit FetchLane(WebKitWebView* view);
  FetchLane(const FetchLane&) = delete;
  FetchLane& operator=(const FetchLane&) = delete;

  // The completion runs on the session's delegate queue.
  void send(platform::URLRequest request, std::function<void(platform::URLResponse)> completion);
  // The view while it lives, else null.
  GObjectPtr<WebKitWebView> view() const { return webView.get(); }

 private:
  GWeak<WebKitWebView> webView;
  std::shared_ptr<platform::URLSession> session;
};

}  // namespace zorvel
