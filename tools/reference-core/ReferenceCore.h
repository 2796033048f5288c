#pragma once
// The reference core: serves the application's HTTP interface on 127.0.0.1, speaks the control
// channel on standard input and output, checks the bearer token of every request, and keeps tasks
// in memory. Everything runs on one GLib main loop; only the control reader has its own thread.
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/GLibPtr.h"
#include "tools/reference-core/ControlChannel.h"
#include "tools/reference-core/EventHub.h"
#include "tools/reference-core/HTTPSupport.h"
#include "tools/reference-core/Recorder.h"
#include "tools/reference-core/RunnerOptions.h"
#include "tools/reference-core/TaskStore.h"
#include "tools/reference-core/TokenScope.h"
#include "tools/reference-core/TokenVerifier.h"

typedef struct _GMainLoop GMainLoop;
typedef struct _SoupServer SoupServer;

namespace refcore {

class ReferenceCore {
 public:
  ReferenceCore(RunnerOptions options, TestSwitches switches, std::vector<std::string> arguments);
  ~ReferenceCore();

  // Serves until the parent is gone or standard input closes; the process exit status.
  int run();

 private:
  // Start-up and shutdown.
  bool listen();
  void recordStart();
  void startChildKeepingPort(const std::string& mode);
  void quit(int status);
  static int watchParent(void* self);

  // Control channel.
  void handleControlLine(std::string line);
  void handleBootstrap(const nlohmann::json& message);
  void handleSync(const nlohmann::json& message);
  void handleAnswer(const nlohmann::json& message);
  void emitStartupControl();

  // HTTP.
  static void onRequest(SoupServer* server, SoupServerMessage* message, const char* path, GHashTable* query,
                        void* self);
  void dispatch(Request& request);
  // The scope of the request's token, or nothing once the request has been refused.
  std::optional<TokenScope> authorize(Request& request);
  bool routeRuntime(Request& request, const TokenScope& scope);
  bool routeTasks(Request& request, const TokenScope& scope);
  bool routeAgentProfiles(Request& request, const TokenScope& scope);
  bool routeTestAPI(Request& request);
  bool routeTestHarness(Request& request);

  void answerReadiness(Request& request);
  void holdReadiness(SoupServerMessage* message, int milliseconds);
  void sendReadiness(SoupServerMessage* message);
  void errorEventsRequest(Request& request, const TokenScope& scope);
  void createTask(Request& request, const TokenScope& scope);
  void captureTask(Request& request, const TokenScope& scope);
  void taskRequest(Request& request, Task& task, const std::string& action);
  void terminalPlan(Request& request, Task& task);
  void sendControlForTest(Request& request);
  void setControlReadingForTest(Request& request);
  void publishTask(const Task& task);
  std::string terminalShell() const;

  RunnerOptions options;
  TestSwitches switches;
  std::vector<std::string> arguments;
  Recorder recorder;
  ControlChannel control;
  TaskStore tasks;
  EventHub events;
  std::unique_ptr<TokenVerifier> verifier;
  std::string runtimeID;
  std::vector<nlohmann::json> errorEvents;
  int64_t startedAt = 0;
  bool announcedReady = false;
  bool heldFirstProbe = false;
  int exitStatus = 0;
  int originalParent = 0;

  struct PendingAnswer;
  std::map<std::string, PendingAnswer*> pendingAnswers;

  platform::GMainLoopPtr loop;
  platform::GObjectPtr<SoupServer> server;
};

}  // namespace refcore
