#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "TestHTTPServer.h"
#include "platform/Dispatch.h"
#include "platform/URLSession.h"

using namespace std::chrono_literals;
using platform::DispatchQueue;
using platform::URLRequest;
using platform::URLResponse;
using platform::URLSession;

namespace {

URLResponse fetch(URLSession& session, URLRequest request) {
  std::promise<URLResponse> promise;
  auto answer = promise.get_future();
  session.dataTask(std::move(request), [&](URLResponse response) { promise.set_value(std::move(response)); });
  EXPECT_EQ(answer.wait_for(10s), std::future_status::ready);
  return answer.get();
}

// Everything a stream task reported, in the order it arrived.
struct StreamLog {
  std::mutex mutex;
  std::string events;
  std::string data;
  int dataCalls = 0;
  std::promise<std::optional<std::string>> completed;
  std::promise<void> firstData;
  bool sawData = false;

  std::shared_ptr<platform::URLStreamTask> start(URLSession& session, const std::string& url) {
    URLRequest request;
    request.url = url;
    return session.streamTask(
        request,
        [this](int status, const platform::HTTPHeaders&) {
          std::lock_guard lock(mutex);
          events += "response " + std::to_string(status) + ";";
        },
        [this](std::string_view chunk) {
          std::lock_guard lock(mutex);
          if (events.find("data") == std::string::npos) events += "data;";
          data.append(chunk);
          dataCalls += 1;
          if (!sawData) firstData.set_value();
          sawData = true;
        },
        [this](std::optional<std::string> error) {
          {
            std::lock_guard lock(mutex);
            events += "complete;";
          }
          completed.set_value(std::move(error));
        });
  }
};

}  // namespace

TEST(URLSession, DataTaskCarriesMethodHeadersAndBodyBothWays) {
  TestHTTPServer server;
  URLRequest request;
  request.url = server.url("/echo");
  request.method = "POST";
  request.headers = {{"X-Test", "seen value"}, {"Authorization", "Bearer abc"}};
  request.serverProcess = [] { return ::getpid(); };
  request.body = std::string("hello\0world", 11);
  std::promise<bool> onMain;
  std::promise<URLResponse> promise;
  URLSession::shared().dataTask(request, [&](URLResponse response) {
    onMain.set_value(DispatchQueue::isMainThread());
    promise.set_value(std::move(response));
  });
  const URLResponse response = promise.get_future().get();
  EXPECT_FALSE(onMain.get_future().get());
  EXPECT_EQ(response.error, std::nullopt);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, std::string("POST\nhello\0world", 16));
  EXPECT_EQ(response.header("x-seen"), "seen value");
  EXPECT_EQ(response.header("X-AUTH"), "Bearer abc");
  EXPECT_EQ(response.header("Content-Type"), "text/plain");
}

TEST(URLSession, ErrorStatusesAndBinaryBodiesArriveIntact) {
  TestHTTPServer server;
  URLRequest missing;
  missing.url = server.url("/missing");
  const URLResponse notFound = URLSession::shared().sendSynchronously(missing);
  EXPECT_EQ(notFound.error, std::nullopt);
  EXPECT_EQ(notFound.status, 404);
  EXPECT_EQ(notFound.body, R"({"detail": "not here"})");
  URLRequest binary;
  binary.url = server.url("/binary");
  const URLResponse bytes = fetch(URLSession::shared(), binary);
  EXPECT_EQ(bytes.status, 200);
  EXPECT_EQ(bytes.body, TestHTTPServer::binaryBody);
}

TEST(URLSession, TransportFailuresAndUnsafeRequestsAreErrorsNotResponses) {
  TestHTTPServer server;
  auto failed = [](const URLResponse& response) { return response.status == 0 && response.error.has_value(); };
  URLRequest refused;
  refused.url = "http://127.0.0.1:1/";
  EXPECT_TRUE(failed(URLSession::shared().sendSynchronously(refused)));
  for (const char* url : {"not a url", "file:///etc/passwd", "http:///nohost", ""}) {
    URLRequest bad;
    bad.url = url;
    EXPECT_TRUE(failed(URLSession::shared().sendSynchronously(bad))) << url;
  }
  URLRequest injected;
  injected.url = server.url("/echo");
  injected.headers = {{"X-Test", "a\r\nX-Evil: b"}};
  EXPECT_TRUE(failed(URLSession::shared().sendSynchronously(injected)));
  injected.headers = {{"Bad Name", "a"}};
  EXPECT_TRUE(failed(URLSession::shared().sendSynchronously(injected)));
  injected.headers = {};
  injected.method = "GET /x";
  EXPECT_TRUE(failed(URLSession::shared().sendSynchronously(injected)));
}

// Credentials go out only with a process named to check the far end against; without one the
// request is refused before a connection is made, whoever listens on the port.
TEST(URLSession, CredentialsWithoutAServerProcessAreRefusedUnsent) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  for (const char* name : {"Authorization", "authorization"}) {
    URLRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/events";
    request.headers = {{name, "Bearer secret"}};
    request.timeout = 2s;
    EXPECT_EQ(URLSession::shared().sendSynchronously(request).error, std::string(URLSession::credentialsWithoutServer))
        << name;
    std::promise<std::optional<std::string>> ended;
    auto stream = URLSession::shared().streamTask(request, nullptr, nullptr,
                                                  [&](std::optional<std::string> error) { ended.set_value(error); });
    EXPECT_EQ(ended.get_future().get(), std::string(URLSession::credentialsWithoutServer)) << name;
  }
  pollfd waiting{listener, POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "a connection reached the listener";
  ::close(listener);
}

TEST(URLSession, CredentialsNeverFollowARedirectToAnotherServer) {
  TestHTTPServer core;
  TestHTTPServer elsewhere;
  URLRequest request;
  request.url = core.url("/redirect?to=" + elsewhere.url("/echo"));
  const URLResponse plain = URLSession::shared().sendSynchronously(request);
  EXPECT_EQ(plain.status, 200);
  EXPECT_EQ(elsewhere.echoesServed(), 1);
  request.headers = {{"Authorization", "Bearer secret"}};
  request.serverProcess = [] { return ::getpid(); };
  const URLResponse withToken = URLSession::shared().sendSynchronously(request);
  EXPECT_EQ(withToken.status, 302);
  EXPECT_EQ(withToken.header("Location"), elsewhere.url("/echo"));
  EXPECT_EQ(elsewhere.echoesServed(), 1);
}

TEST(URLSession, SilentServerTimesOut) {
  TestHTTPServer server;
  URLRequest request;
  request.url = server.url("/silent");
  request.timeout = 150ms;
  const auto start = std::chrono::steady_clock::now();
  const URLResponse response = URLSession::shared().sendSynchronously(request);
  EXPECT_EQ(response.error, "The request timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST(URLSession, SynchronousRequestFromACompletionDoesNotDeadlock) {
  TestHTTPServer server;
  URLRequest request;
  request.url = server.url("/echo");
  std::promise<int> inner;
  URLSession::shared().dataTask(
      request, [&](URLResponse) { inner.set_value(URLSession::shared().sendSynchronously(request).status); });
  auto status = inner.get_future();
  ASSERT_EQ(status.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(status.get(), 200);
}

TEST(URLStreamTask, DeliversResponseThenChunksThenCompletionInOrder) {
  TestHTTPServer server;
  auto session = URLSession::makeEphemeral();
  StreamLog log;
  auto task = log.start(*session, server.url("/stream?count=3"));
  auto completed = log.completed.get_future();
  ASSERT_EQ(completed.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(completed.get(), std::nullopt);
  std::lock_guard lock(log.mutex);
  EXPECT_EQ(log.events, "response 200;data;complete;");
  EXPECT_EQ(log.data, "tick 0\ntick 1\ntick 2\n");
}

TEST(URLStreamTask, CancelledStreamSaysNothingMoreAndClosesTheConnection) {
  TestHTTPServer server;
  auto session = URLSession::makeEphemeral();
  StreamLog log;
  auto task = log.start(*session, server.url("/stream"));
  ASSERT_EQ(log.firstData.get_future().wait_for(10s), std::future_status::ready);
  task->cancel();
  EXPECT_TRUE(task->isCancelled());
  int callsAtCancel = 0;
  {
    std::lock_guard lock(log.mutex);
    callsAtCancel = log.dataCalls;
  }
  // The server sees the connection close once the client has let the stream go; callbacks arrive in order,
  // so when a request sent after that has been answered, whatever the stream left has arrived.
  EXPECT_TRUE(server.waitUntil([&] { return server.streamsOpen() == 0; }));
  URLRequest after;
  after.url = server.url("/echo");
  EXPECT_EQ(fetch(*session, after).status, 200);
  std::lock_guard lock(log.mutex);
  EXPECT_LE(log.dataCalls, callsAtCancel + 1);  // one chunk may already have been on its way
  EXPECT_EQ(log.events.find("complete"), std::string::npos);
}

TEST(URLSession, InvalidatedSessionCancelsRunningTasksAndRefusesNewOnes) {
  TestHTTPServer server;
  auto session = URLSession::makeEphemeral();
  StreamLog log;
  auto task = log.start(*session, server.url("/stream"));
  ASSERT_EQ(log.firstData.get_future().wait_for(10s), std::future_status::ready);
  session->invalidateAndCancel();
  auto completed = log.completed.get_future();
  ASSERT_EQ(completed.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(completed.get().has_value());
  URLRequest later;
  later.url = server.url("/echo");
  EXPECT_TRUE(fetch(*session, later).error.has_value());
}

TEST(URLSession, DestroyingASessionWithWorkInFlightCompletesIt) {
  TestHTTPServer server;
  auto session = URLSession::makeEphemeral();
  URLRequest request;
  request.url = server.url("/silent");
  std::promise<URLResponse> promise;
  session->dataTask(request, [&](URLResponse response) { promise.set_value(std::move(response)); });
  ASSERT_TRUE(server.waitUntil([&] { return server.silentRequests() == 1; }));
  const auto start = std::chrono::steady_clock::now();
  session.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  auto answer = promise.get_future();
  ASSERT_EQ(answer.wait_for(1s), std::future_status::ready);
  EXPECT_TRUE(answer.get().error.has_value());
}

// A burst waits for places in the order it came, and a request's time runs only once it is sent:
// before, requests of a long burst timed out while they waited and never reached the server.
TEST(URLSession, ARequestThatWaitedForAPlaceIsSentAndGetsItsWholeTime) {
  TestHTTPServer server;
  auto session = URLSession::makeEphemeral({.running = 2});
  constexpr int burst = 6;
  std::vector<std::promise<URLResponse>> answers(burst);
  for (auto& answer : answers) {
    URLRequest request;
    request.url = server.url("/silent");
    request.timeout = 500ms;
    session->dataTask(request, [&answer](URLResponse response) { answer.set_value(std::move(response)); });
  }
  for (auto& answer : answers) {
    auto response = answer.get_future();
    ASSERT_EQ(response.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(response.get().error, "The request timed out.");
  }
  EXPECT_TRUE(server.waitUntil([&] { return server.silentRequests() == burst; })) << server.silentRequests();
}

// A caller that keeps making requests faster than they are answered gets a failure for each one
// beyond the bound, at once, rather than growing the queue without end.
TEST(URLSession, RequestsBeyondTheWaitingBoundFailAtOnce) {
  struct Case {
    const char* name;
    platform::URLSessionLimits limits;
    std::size_t refusedBody;  // the body of a request that no longer fits
    std::size_t keptBody;     // and of one that still does
  };
  const Case cases[] = {
      {"by count", {.running = 1, .waiting = 1}, 0, 0},
      {"by bytes", {.running = 1, .waitingBytes = 4096}, 8192, 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestHTTPServer server;
    auto session = URLSession::makeEphemeral(c.limits);
    auto send = [&](std::size_t bodySize) {
      auto answer = std::make_shared<std::promise<URLResponse>>();
      URLRequest request;
      request.url = server.url("/silent");
      request.method = "POST";
      request.body.assign(bodySize, 'x');
      session->dataTask(request, [answer](URLResponse response) { answer->set_value(std::move(response)); });
      return answer->get_future();
    };
    auto running = send(0);
    ASSERT_TRUE(server.waitUntil([&] { return server.silentRequests() == 1; }));
    auto kept = send(c.keptBody);
    auto refused = send(c.refusedBody);
    ASSERT_EQ(refused.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(refused.get().error, URLSession::tooManyWaiting);
    EXPECT_NE(kept.wait_for(0s), std::future_status::ready);
    session.reset();
    ASSERT_EQ(kept.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(kept.get().error, "The session was invalidated.");
  }
}
