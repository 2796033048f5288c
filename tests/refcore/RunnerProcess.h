#pragma once
// Starts zorvel-runner from the build's bundle as a child with pipes on its three standard
// streams, and talks to it over the control channel and HTTP.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/URLSession.h"
#include "tests/LoopbackPort.h"
#include "tests/TemporaryFolder.h"

class RunnerProcess {
 public:
  struct Launch {
    std::map<std::string, std::string> environment;  // added to the test's own environment
    std::optional<pid_t> parentPID;                  // --parent-pid; the test process by default
    std::string recordPath;                          // ZORVEL_REFCORE_RECORD when not empty
  };

  explicit RunnerProcess(Launch launch);
  RunnerProcess() : RunnerProcess(Launch{}) {}
  ~RunnerProcess();

  static std::string executable();

  pid_t pid() const { return child; }
  int port() const { return listenPort.port(); }
  std::string url(const std::string& path) const;

  void sendLine(const std::string& text);
  void send(const nlohmann::json& message) { sendLine(message.dump()); }
  // The next line the runner wrote on standard output, or nothing after the timeout.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void closeInput();
  // The exit status once the runner has exited within the timeout.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  std::string readStandardError();

  // Bootstraps with a fresh runtime and returns the desktop token, listed as the only active one.
  std::string bootstrap();
  // Bootstraps with the message given.
  void bootstrap(const nlohmann::json& message);
  // Waits until the runner answers HTTP, and has taken the bootstrap when one was sent; false when
  // it has ended first (as when it could not listen).
  bool waitUntilListening();

  platform::URLResponse request(const std::string& method, const std::string& path, const std::string& token,
                                const std::string& body = {});

  std::string runtimeID = "0b5f1f6c-3c55-4a39-9a5e-6a0f2c7d9e11";
  std::string signingKey = std::string(32, '\x5a');

 private:
  testing::TemporaryFolder dataFolder{"zorvel-refcore-data"};  // --data-dir, the runner's alone
  pid_t child = -1;
  testing::LoopbackPort listenPort;  // the runner's, for as long as it may hold it
  std::string recordPath;
  int input = -1;
  int output = -1;
  int error = -1;
  int processFD = -1;  // readable once the runner has ended
  std::string outputBuffer;
  std::optional<int> exitStatus;
  bool bootstrapped = false;
};

// Signs claims the way the application's authority does: sorted compact JSON, HMAC-SHA256,
// unpadded base64url parts.
std::string signToken(const std::string& key, const nlohmann::json& claims);
nlohmann::json tokenClaims(const std::string& runtimeID, const std::string& tokenID, const std::string& role);
