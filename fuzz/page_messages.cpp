// Page messages, event streams and URLs from the page or the core: decode and parse them
// without a display. The first byte picks the input kind.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/CoreRecords.h"
#include "app/EventStreamParser.h"
#include "app/EventStreamRequest.h"
#include "app/FetchProxy.h"
#include "app/PageMessages.h"

namespace {

using namespace zorvel;

// Takes a decoded message as far as it goes without a display: the bridge's requests to the core.
void followWithoutDisplay(const PageMessages::PageMessage& message) {
  static const auto base = *URL::parse("http://127.0.0.1:7332");
  auto* bridge = std::get_if<PageMessages::BridgeMessage>(&message);
  if (!bridge) return;
  if (auto* fetch = std::get_if<PageMessages::Fetch>(bridge)) FetchProxy::makeRequest(*fetch, base);
  if (auto* open = std::get_if<PageMessages::EventStreamOpen>(bridge)) EventStreamRequest::make(*open, base);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      auto body = nlohmann::json::parse(input, nullptr, false);
      if (body.is_discarded()) return 0;
      if (auto message = PageMessages::decode(PageMessages::handlerName, body)) followWithoutDisplay(*message);
      TerminalLaunchPlan::decode(body);
      TaskCleanupState::decode(body);
      break;
    }
    case 1: {
      EventStreamParser parser([](ServerSentEvent) {});
      // Feed in uneven chunks so line endings split across them.
      std::size_t step = 1;
      for (std::size_t at = 0; at < input.size(); at += step, step = step % 7 + 1)
        parser.append(input.substr(at, step));
      break;
    }
    default: {
      auto base = *URL::parse("http://127.0.0.1:7332");
      if (auto resolved = base.resolving(input)) {
        resolved->path();
        resolved->host();
        resolved->port();
        resolved->string();
      }
      percentEncodePathSegment(input);
      break;
    }
  }
  return 0;
}
