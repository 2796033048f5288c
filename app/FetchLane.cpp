#include "app/FetchLane.h"

#include <glib-object.h>
#include <webkit/webkit.h>

namespace zorvel {

namespace {

constexpr const char* laneKey = "zorvel-fetch-lane";

}  // namespace

std::shared_ptr<FetchLane> FetchLane::of(WebKitWebView* view) {
  if (!view) return nullptr;
  using Holder = std::shared_ptr<FetchLane>;
  if (auto* held = static_cast<Holder*>(g_object_get_data(G_OBJECT(view), laneKey))) return *held;
  auto lane = std::make_shared<FetchLane>(view);
  g_object_set_data_full(G_OBJECT(view), laneKey, new Holder(lane),
                         [](gpointer held) { delete static_cast<Holder*>(held); });
  return lane;
}

FetchLane::FetchLane(WebKitWebView* view)
    : webView(view),
      session(platform::URLSession::makeEphemeral({maximumRunning, maximumWaiting, maximumWaitingBytes})) {}

void FetchLane::send(platform::URLRequest request, std::function<void(platform::URLResponse)> completion) {
  session->dataTask(std::move(request), std::move(completion));
}

}  // namespace zorvel
