#include "RunnerProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

#include "tools/reference-core/Base64.h"

extern char** environ;

std::string RunnerProcess::executable() { return std::string(ZORVEL_BUNDLE_DIR) + "/libexec/zorvel/zorvel-runner"; }

RunnerProcess::RunnerProcess(Launch launch) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
  std::vector<std::string> arguments = {
      executable(),    "serve-desktop",        "--data-dir",   dataFolder.path().string(),
      "--port",        std::to_string(port()), "--parent-pid", std::to_string(launch.parentPID.value_or(getpid())),
      "--auth-control"};
  // The runner appends to its record, and a file named after a process id may be left from an
  // earlier process that had the same id; each runner's record holds its own run alone.
  if (!launch.recordPath.empty()) {
    recordPath = launch.recordPath;
    std::remove(recordPath.c_str());
    launch.environment["ZORVEL_REFCORE_RECORD"] = recordPath;
  }
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text(*entry);
    if (!launch.environment.count(text.substr(0, text.find('=')))) environment.push_back(text);
  }
  for (const auto& [name, value] : launch.environment) environment.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (auto& argument : arguments) argv.push_back(argument.data());
  for (auto& entry : environment) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  child = fork();
  if (child == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  input = in[1];
  output = out[0];
  error = err[0];
  processFD = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  if (processFD < 0) throw std::runtime_error("pidfd_open");
}

RunnerProcess::~RunnerProcess() {
  closeInput();
  if (!waitForExit(std::chrono::seconds(2))) {
    kill(child, SIGKILL);
    waitForExit(std::chrono::seconds(2));
  }
  close(output);
  close(error);
  close(processFD);
  if (!recordPath.empty()) std::remove(recordPath.c_str());
}

std::string RunnerProcess::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

void RunnerProcess::sendLine(const std::string& text) {
  const std::string line = text + "\n";
  if (input >= 0) (void)!write(input, line.data(), line.size());
}

std::optional<std::string> RunnerProcess::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t end = outputBuffer.find('\n');
    if (end != std::string::npos) {
      std::string line = outputBuffer.substr(0, end);
      outputBuffer.erase(0, end + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd descriptor{output, POLLIN, 0};
    if (poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t count = read(output, buffer, sizeof buffer);
    if (count <= 0) return std::nullopt;
    outputBuffer.append(buffer, static_cast<size_t>(count));
  }
}

void RunnerProcess::closeInput() {
  if (input >= 0) close(input);
  input = -1;
}

std::optional<int> RunnerProcess::waitForExit(std::chrono::milliseconds timeout) {
  if (exitStatus) return exitStatus;
  pollfd ended{processFD, POLLIN, 0};
  while (poll(&ended, 1, static_cast<int>(timeout.count())) < 0 && errno == EINTR) {
  }
  int status = 0;
  if (waitpid(child, &status, WNOHANG) != child) return std::nullopt;
  exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exitStatus;
}

std::string RunnerProcess::readStandardError() {
  std::string text;
  char buffer[4096];
  pollfd descriptor{error, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t count = read(error, buffer, sizeof buffer);
    if (count <= 0) break;
    text.append(buffer, static_cast<size_t>(count));
  }
  return text;
}

std::string RunnerProcess::bootstrap() {
  const std::string token =
      signToken(signingKey, tokenClaims(runtimeID, "5d1c7a3e-0000-4000-8000-000000000001", "desktop"));
  bootstrap({{"kind", "bootstrap"},
             {"runtime_id", runtimeID},
             {"signing_key", refcore::base64Encode(signingKey)},
             {"active_tokens", {token}}});
  return token;
}

void RunnerProcess::bootstrap(const nlohmann::json& message) {
  bootstrapped = true;
  send(message);
}

bool RunnerProcess::waitUntilListening() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitForExit(std::chrono::milliseconds(0))) return false;
    const auto answer = request("GET", "/desktop-runtime", "");
    // Once bootstrapped, wait until the runner has also read the bootstrap line.
    const bool waiting = bootstrapped && answer.body.find("not bootstrapped") != std::string::npos;
    if (answer.status != 0 && !waiting) return true;
    // The runner tells no one when it has bound its port or read its input, so ask again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

platform::URLResponse RunnerProcess::request(const std::string& method, const std::string& path,
                                             const std::string& token, const std::string& body) {
  platform::URLRequest request;
  request.url = url(path);
  request.method = method;
  request.body = body;
  request.timeout = std::chrono::seconds(10);
  if (!token.empty()) {
    request.headers.emplace_back("Authorization", "Bearer " + token);
    request.serverProcess = [runner = child] { return runner; };
  }
  if (!body.empty()) request.headers.emplace_back("Content-Type", "application/json");
  return platform::URLSession::shared().sendSynchronously(request);
}

std::string signToken(const std::string& key, const nlohmann::json& claims) {
  const std::string payload = claims.dump();
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(payload.data()),
       payload.size(), mac, &size);
  return refcore::base64URLEncode(payload) + "." +
         refcore::base64URLEncode(std::string(reinterpret_cast<char*>(mac), size));
}

nlohmann::json tokenClaims(const std::string& runtimeID, const std::string& tokenID, const std::string& role) {
  return {{"access", "project"}, {"project_id", nullptr},   {"report_id", nullptr},
          {"role", role},        {"runtime_id", runtimeID}, {"session_id", nullptr},
          {"task_id", nullptr},  {"token_id", tokenID},     {"version", 1}};
}
