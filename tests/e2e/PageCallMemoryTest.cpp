// Values handed to a page by call leave nothing behind in the application once the page has them:
// an event stream carries such a call for every event, for as long as the application runs.
#include "ProcessMemory.h"
#include "WebBridgeHarness.h"
#include "app/PageCalls.h"

using namespace e2e;

namespace {

using process_memory::heapBytesInUse;

TEST(PageCallMemory, ValuesSentToAPageAreReleased) {
  FakeCore core;
  BridgeWindow ui{core.baseURL()};
  ui.load(zorvel::WebBridge::indexURL);
  ASSERT_TRUE(ui.waitForLoad());
  ui.evaluate("(() => { window.__received = 0; window.__take = () => { ++window.__received; }; return 1; })()");

  const std::string value(1 << 20, 'x');
  constexpr int calls = 64;
  const std::size_t before = heapBytesInUse();
  for (int i = 0; i < calls; ++i) zorvel::PageCalls::callFunction(ui.view(), "__take", nlohmann::json::array({value}));
  // Calls reach the page in order, so once the last has arrived every value has been read.
  ASSERT_TRUE(ui.waitForTrue("window.__received === " + std::to_string(calls)));
  const std::size_t grown = heapBytesInUse() - std::min(heapBytesInUse(), before);
  EXPECT_LT(grown, std::size_t(calls / 4) << 20) << "a MiB value held for each of " << calls << " calls";
}

}  // namespace
