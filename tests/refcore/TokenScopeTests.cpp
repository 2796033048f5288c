// What each token may act on, and streams that end as soon as their client has gone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <sstream>

#include "RunnerProcess.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string projectA = "aaaaaaaa-0000-4000-8000-00000000000a";
const std::string projectB = "bbbbbbbb-0000-4000-8000-00000000000b";

json parse(const platform::URLResponse& response) { return json::parse(response.body, nullptr, false); }

std::string recordFile(const char* name) {
  return testing::TempDir() + name + "-" + std::to_string(getpid()) + ".jsonl";
}

class Scopes : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop = runner.bootstrap();
    ASSERT_TRUE(runner.waitUntilListening());
    taskA = createTask(desktop, projectA);
    otherTaskA = createTask(desktop, projectA);
    taskB = createTask(desktop, projectB);
    taskOfNone = createTask(desktop, std::nullopt);
    // The core may ask for a project id in either case; the scope does not depend on it.
    auto claims = tokenClaims(runner.runtimeID, "c0ffee00-0000-4000-8000-000000000001", "project-agent");
    claims["project_id"] = "AAAAAAAA-0000-4000-8000-00000000000A";
    project = signToken(runner.signingKey, claims);
    claims["token_id"] = "c0ffee00-0000-4000-8000-000000000002";
    claims["task_id"] = taskA;
    task = signToken(runner.signingKey, claims);
    runner.send({{"kind", "sync"}, {"request_id", "scopes"}, {"active_tokens", {desktop, project, task}}});
    ASSERT_TRUE(runner.readLine());
  }

  std::string createTask(const std::string& token, const std::optional<std::string>& projectID) {
    json body = {{"title", "t"}};
    if (projectID) body["project_id"] = *projectID;
    return parse(runner.request("POST", "/tasks", token, body.dump())).value("id", "");
  }
  int status(const std::string& token, const std::string& method, const std::string& path, const json& body = {}) {
    return runner.request(method, path, token, body.is_null() ? std::string() : body.dump()).status;
  }

  RunnerProcess runner{RunnerProcess::Launch{{}, std::nullopt, recordFile("scopes")}};
  std::string desktop, project, task;
  std::string taskA, otherTaskA, taskB, taskOfNone;
};

}  // namespace

TEST_F(Scopes, AProjectTokenActsOnlyOnItsOwnProjectAndATaskTokenOnItsTask) {
  struct Case {
    const std::string* token;
    std::string method;
    std::string path;
    json body;
    int expected;
  };
  const json plan = {{"agent", "codex"}, {"login", false}};
  const std::vector<Case> cases = {
      {&project, "GET", "/tasks/" + taskB, {}, 403},
      {&project, "PATCH", "/tasks/" + taskB, {{"status", "done"}}, 403},
      {&project, "POST", "/tasks/" + taskB + "/stop", {}, 403},
      {&project, "POST", "/tasks/" + taskB + "/terminal-plan", plan, 403},
      {&project, "GET", "/tasks/" + taskOfNone, {}, 403},
      {&project, "GET", "/tasks/" + taskA, {}, 200},
      {&project, "POST", "/tasks/" + otherTaskA + "/terminal-plan", plan, 200},
      {&project, "POST", "/tasks", {{"title", "x"}, {"project_id", projectB}}, 403},
      {&project, "POST", "/tasks/capture", {{"content", "x"}, {"project_id", projectB}}, 403},
      {&project, "POST", "/tasks/capture", {{"content", "x"}, {"project_id", projectA}}, 201},
      {&project, "POST", "/diagnostics/error-events", {{"message", "x"}, {"project_id", projectB}}, 403},
      {&project, "POST", "/diagnostics/error-events", {{"message", "from A"}}, 202},
      {&project, "POST", "/agent-profiles/default/login-plan", {}, 403},
      {&task, "GET", "/tasks/" + otherTaskA, {}, 403},
      {&task, "PATCH", "/tasks/" + taskA, {{"status", "done"}}, 200},
      {&task, "POST", "/tasks", {{"title", "x"}}, 403},
      {&desktop, "GET", "/tasks/" + taskB, {}, 200},
      {&desktop, "POST", "/agent-profiles/default/login-plan", {}, 200},
  };
  for (const auto& item : cases) {
    EXPECT_EQ(status(*item.token, item.method, item.path, item.body), item.expected)
        << item.method << " " << item.path << " " << (item.token == &project ? "project" : "other");
  }

  // A project's listing and its new tasks stay in the project.
  auto made = parse(runner.request("POST", "/tasks", project, R"({"title": "mine"})"));
  EXPECT_EQ(made["project_id"], projectA);
  std::set<std::string> listed;
  auto listing = parse(runner.request("GET", "/tasks", project));
  for (const auto& entry : listing["tasks"]) listed.insert(entry["id"]);
  EXPECT_TRUE(listed.count(taskA) && listed.count(otherTaskA) && listed.count(made.value("id", ""))) << listing;
  EXPECT_FALSE(listed.count(taskB) || listed.count(taskOfNone));
  EXPECT_EQ(status(desktop, "POST", "/diagnostics/error-events", {{"message", "from B"}, {"project_id", projectB}}),
            202);
  auto reports = parse(runner.request("GET", "/diagnostics/error-events", project))["events"];
  ASSERT_EQ(reports.size(), 1u) << reports;
  EXPECT_EQ(reports[0]["message"], "from A");
  EXPECT_EQ(parse(runner.request("GET", "/diagnostics/error-events", desktop))["events"].size(), 2u);
}

TEST_F(Scopes, AProjectsStreamCarriesOnlyItsProjectsEvents) {
  std::mutex mutex;
  std::condition_variable more;
  std::string received;
  std::promise<void> opened;
  platform::URLRequest request;
  request.url = runner.url("/events");
  request.headers = {{"Authorization", "Bearer " + project}};
  request.serverProcess = [pid = runner.pid()] { return pid; };
  auto session = platform::URLSession::makeEphemeral();
  auto stream = session->streamTask(
      request,
      [&](int status, const platform::HTTPHeaders&) {
        if (status == 200) opened.set_value();
      },
      [&](std::string_view chunk) {
        std::lock_guard lock(mutex);
        received.append(chunk);
        more.notify_all();
      },
      [](std::optional<std::string>) {});
  ASSERT_EQ(opened.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(status(desktop, "PATCH", "/tasks/" + taskB, {{"status", "secret-of-b"}}), 200);
  EXPECT_EQ(status(desktop, "PATCH", "/tasks/" + taskA, {{"status", "news-of-a"}}), 200);
  // Events go out in the order they happen, so once A's news is here B's would have been too.
  std::unique_lock lock(mutex);
  EXPECT_TRUE(more.wait_for(lock, 10s, [&] { return received.find("news-of-a") != std::string::npos; }));
  EXPECT_EQ(received.find("secret-of-b"), std::string::npos);
  stream->cancel();
}

namespace {

// Sockets of the core's port whose client has closed and the core has not (CLOSE_WAIT).
int halfClosed(int port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  int count = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    auto colon = local.find(':');
    if (colon == std::string::npos) continue;
    if (std::stoi(local.substr(colon + 1), nullptr, 16) == port && state == "08") ++count;
  }
  return count;
}

// A connection of the test's own with the request written on it; -1 when either fails.
int sendRaw(int port, const std::string& request) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
  if (!sent) ::close(fd);
  return sent ? fd : -1;
}

int openRawStream(int port, const std::string& token) {
  const int fd =
      sendRaw(port, "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token + "\r\n\r\n");
  if (fd < 0) return -1;
  std::string answer;
  char chunk[512];
  while (answer.find(": connected") == std::string::npos) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    answer.append(chunk, static_cast<size_t>(got));
  }
  return fd;
}

// Reads until the other side closes, keeping what came in `received`; false when it has not closed
// within the time.
bool readsToTheEnd(int fd, std::chrono::milliseconds limit, std::string* received = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char chunk[512];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd readable{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got == 0) return true;
    if (got < 0) return errno == ECONNRESET;
    if (received) received->append(chunk, static_cast<size_t>(got));
  }
}

// The harness's state, asked on a connection that is read until the core has closed its side. The
// core writes an answer before it closes the connection, so a client that takes the answer and
// leaves at once can find the core's side still half-closed for a moment; waiting for the close
// means every connection the core answered before this one is closed too. Null when the core did
// not close the connection.
json stateOnAClosedConnection(int port) {
  const int fd = sendRaw(port, "GET /__test/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  std::string answer;
  const bool closed = fd >= 0 && readsToTheEnd(fd, 10s, &answer);
  if (fd >= 0) ::close(fd);
  const size_t body = answer.find("\r\n\r\n");
  if (!closed || body == std::string::npos) return nullptr;
  return json::parse(answer.substr(body + 4), nullptr, false);
}

}  // namespace

// No socket is left half-closed: neither a stream's nor that of a request whose client closed its
// connection after the answer.
TEST_F(Scopes, ConnectionsWhoseClientLeftAreClosedWithoutWaitingForAWrite) {
  std::vector<int> clients;
  for (int i = 0; i < 20; ++i) clients.push_back(openRawStream(runner.port(), desktop));
  auto streams = [&] { return parse(runner.request("GET", "/__test/state", ""))["event_streams"]; };
  ASSERT_EQ(streams(), 20);
  // No event is pushed: the core must notice on its own. Each client ends its side, which the
  // core sees just as a close, and reads on until the core has closed its own side too.
  for (int fd : clients) ::shutdown(fd, SHUT_WR);
  for (int fd : clients) EXPECT_TRUE(readsToTheEnd(fd, 10s));
  for (int fd : clients) ::close(fd);
  const json state = stateOnAClosedConnection(runner.port());
  EXPECT_EQ(state["event_streams"], 0) << state;
  EXPECT_EQ(halfClosed(runner.port()), 0);
}
