// Page messages, event streams and URLs from the page or the core: decode, route and parse them
// without a display. The first byte picks the input kind.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/CoreRecords.h"
#include "app/EventStreamParser.h"
#include "app/EventStreamRequest.h"
#include "app/FetchProxy.h"
#include "app/ScriptMessageDispatcher.h"

namespace {

using namespace zorvel;

class NullTarget : public ScriptMessageTarget {
 public:
  std::map<std::string, std::string>& taskTitles() override { return titles; }
  std::map<std::string, TaskStatisticsDisplay>& taskStatistics() override { return statistics; }
  bool& sidebarResizeInProgress() override { return resizing; }
  std::optional<std::int64_t> activeModalOverlayGeneration() const override { return 1; }
  void recordWebMemoryProfile(const nlohmann::json&) override {}
  void applyTheme(bool) override {}
  void showModalOverlay(const std::string&, const std::optional<nlohmann::json>&, const std::optional<nlohmann::json>&,
                        bool) override {}
  void dispatchModalOverlayResult(const nlohmann::json&) override {}
  void closeModalOverlay(bool) override {}
  void resizeModalOverlay(double, double) override {}
  bool modalOverlayReady() override { return true; }
  void modalOverlayHostReady() override {}
  void scheduleNativeNotification(const nlohmann::json&) override {}
  void logNativeNotificationDebug(std::int64_t, const std::string&, bool) override {}
  void proxyFetch(const nlohmann::json& body, WebKitWebView*) override { FetchProxy::makeRequest(body, base, "token"); }
  void openEventStream(const nlohmann::json& body) override { EventStreamRequest::make(body, base, "token"); }
  void closeEventStream(const std::string&) override {}
  void showWebFailure(const std::string&, bool) override {}
  void pickExecutable(const std::string&) override {}
  void pickProjectDirectory(const std::optional<std::string>&) override {}
  void startAgentProfileLogin(const std::string&) override {}
  void enterTerminalLayout() override {}
  void exitTerminalLayout() override {}
  bool hasTerminal(const std::string&) const override { return false; }
  void showTerminal(const std::string&, bool) override {}
  void createTerminal(const TaskMessage&) override {}
  void showPlaceholder(const std::string&, const std::optional<std::string>&, const std::optional<std::string>&,
                       const std::optional<TaskStatisticsDisplay>&) override {}
  void showTriageProgress(const std::string&, const std::string&, const TriageDisplay&) override {}
  void showTriageRecovery(const TriageRecoveryMessage&) override {}
  void stopTerminal(const std::string&) override {}
  void preserveActiveTerminalFocusForSidebarRefresh() override {}
  void restoreActiveTerminalFocusAfterSidebarRefresh() override {}
  void logTerminalResize(const std::string&) override {}
  void endTaskSidebarResize(double) override {}
  void setTaskSidebarWidth(double, bool, bool) override {}

  URL base = *URL::parse("http://127.0.0.1:7332");
  std::map<std::string, std::string> titles;
  std::map<std::string, TaskStatisticsDisplay> statistics;
  bool resizing = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      auto body = nlohmann::json::parse(input, nullptr, false);
      if (body.is_discarded()) return 0;
      NullTarget target;
      ScriptMessageDispatcher(target).dispatch(ScriptMessageDispatcher::handlerName, body, nullptr);
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
