#include <gtest/gtest.h>

#include "app/CoreAccess.h"
#include "app/EventStreamRequest.h"
#include "app/FetchProxy.h"
#include "app/NavigationPolicy.h"
#include "platform/URLSession.h"

using nlohmann::json;
using namespace zorvel;

namespace {

const URL base = *URL::parse("http://127.0.0.1:7332");

// A fetch message as the page sends it, decoded and then built as the bridge builds it.
std::variant<FetchProxy::Request, FetchProxy::Answer> build(const json& message) {
  auto fetch = PageMessages::Fetch::decode(message);
  EXPECT_TRUE(fetch) << message.dump();
  if (!fetch) return FetchProxy::Answer{};
  return FetchProxy::makeRequest(*fetch, base);
}

FetchProxy::Request request(const json& message) {
  auto result = build(message);
  EXPECT_TRUE(std::holds_alternative<FetchProxy::Request>(result)) << message.dump();
  return std::holds_alternative<FetchProxy::Request>(result) ? std::get<FetchProxy::Request>(result)
                                                             : FetchProxy::Request{};
}

std::optional<std::string> field(const FetchProxy::Request& r, const std::string& name) {
  for (const auto& [n, v] : r.headers)
    if (n == name) return v;
  return std::nullopt;
}

}  // namespace

TEST(FetchProxyRequest, BuildsCoreRequestsWithoutThePagesCredentials) {
  auto plain = request({{"id", "1"}, {"path", "/tasks?limit=5"}});
  EXPECT_EQ(plain.url, "http://127.0.0.1:7332/tasks?limit=5");
  EXPECT_EQ(plain.method, "GET");
  EXPECT_TRUE(plain.body.empty());
  EXPECT_TRUE(plain.headers.empty());

  auto forged = request({{"id", "1"},
                         {"path", "/x"},
                         {"method", "POST"},
                         {"body", "{}"},
                         {"headers", {{"authorization", "Bearer page"}, {"Content-Type", "application/json"}}}});
  EXPECT_EQ(forged.method, "POST");
  EXPECT_EQ(forged.body, "{}");
  EXPECT_FALSE(field(forged, "Authorization"));
  EXPECT_FALSE(field(forged, "authorization"));
  EXPECT_EQ(field(forged, "Content-Type"), "application/json");

  auto numericHeader = request({{"id", "1"}, {"path", "/x"}, {"headers", {{"A", "b"}, {"C", 1}}}, {"body", ""}});
  EXPECT_TRUE(numericHeader.headers.empty());
  EXPECT_TRUE(numericHeader.body.empty());

  auto injected = request({{"id", "1"}, {"path", "/x"}, {"headers", {{"X-A", "1\r\nX-B: 2"}, {"Bad Name", "v"}}}});
  EXPECT_TRUE(injected.headers.empty());
}

// The one writer of the bearer field: whatever fields a request already has, the core gets one,
// the desktop's, and the request goes to the given core's process or to none.
TEST(CoreAccess, WritesTheOneBearerFieldAndBindsTheRequestToTheCore) {
  platform::URLRequest request;
  request.headers = {{"authorization", "Bearer page"}, {"Accept", "*/*"}, {"AUTHORIZATION", "Basic eA=="}};
  CoreAccess{"TOKEN", [] { return pid_t(42); }}.authorize(request);
  EXPECT_EQ(request.headers, (platform::HTTPHeaders{{"Authorization", "Bearer TOKEN"}, {"Accept", "*/*"}}));
  ASSERT_TRUE(request.serverProcess);
  EXPECT_EQ(request.serverProcess(), 42);

  platform::URLRequest unbound;
  CoreAccess{"TOKEN", nullptr}.authorize(unbound);
  ASSERT_TRUE(unbound.serverProcess);
  EXPECT_EQ(unbound.serverProcess(), 0);
}

// What a browser keeps a page from setting never reaches the core beside the desktop's token.
TEST(FetchProxyRequest, DropsTheFieldsABrowserKeepsAPageFromSetting) {
  struct Case {
    const char* name;
    const char* value;
    bool sent;
  };
  const Case cases[] = {
      {"Host", "evil", false},
      {"host", "evil", false},
      {"Connection", "close", false},
      {"Upgrade", "websocket", false},
      {"Cookie", "session=1", false},
      {"COOKIE2", "x", false},
      {"Set-Cookie", "a=b", false},
      {"Origin", "https://evil.example", false},
      {"Referer", "https://evil.example/", false},
      {"Content-Length", "0", false},
      {"Transfer-Encoding", "chunked", false},
      {"TE", "trailers", false},
      {"Trailer", "X", false},
      {"Keep-Alive", "timeout=5", false},
      {"Expect", "100-continue", false},
      {"Date", "Thu, 01 Jan 1970 00:00:00 GMT", false},
      {"DNT", "1", false},
      {"Via", "1.1 proxy", false},
      {"Accept-Charset", "utf-8", false},
      {"Accept-Encoding", "gzip", false},
      {"Access-Control-Request-Headers", "x", false},
      {"Access-Control-Request-Method", "PUT", false},
      {"Proxy-Authorization", "Basic eA==", false},
      {"proxy-", "x", false},
      {"Sec-Fetch-Site", "same-origin", false},
      {"sec-websocket-key", "x", false},
      {"X-HTTP-Method-Override", "TRACE", false},
      {"X-HTTP-Method", "connect", false},
      {"X-Method-Override", "GET, track", false},
      {"X-HTTP-Method-Override", " PUT ,\tTrace ", false},
      // Names that only look alike, and overrides to methods a page may use, pass.
      {"X-HTTP-Method-Override", "PATCH", true},
      {"X-HTTP-Method-Override", "TRACED", true},
      {"X-Method-Override", "", true},
      {"Hosts", "x", true},
      {"Proxy", "x", true},
      {"Second", "x", true},
      {"X-Sec-Token", "x", true},
      {"X-Forwarded-Host", "x", true},
      {"Accept", "application/json", true},
      {"Content-Type", "application/json", true},
      {"Last-Event-ID", "3", true},
  };
  for (const auto& c : cases) {
    auto sent = request({{"id", "1"}, {"path", "/x"}, {"headers", {{c.name, c.value}}}});
    EXPECT_EQ(field(sent, c.name).has_value(), c.sent) << c.name << ": " << c.value;
    EXPECT_EQ(sent.headers.size(), c.sent ? 1u : 0u) << c.name;
  }
  // However the page spells it, its own credentials stay behind.
  auto spoofed = request({{"id", "1"},
                          {"path", "/x"},
                          {"headers", {{"AUTHORIZATION", "Bearer page"}, {"Host", "evil"}, {"Accept", "*/*"}}}});
  EXPECT_EQ(spoofed.headers, (decltype(spoofed.headers){{"Accept", "*/*"}}));
}

TEST(FetchProxyRequest, TheTokenNeverLeavesForAnotherOrigin) {
  for (const char* path : {"https://evil.example/steal", "//evil.example/steal", "http://127.0.0.1:7333/tasks",
                           "http://localhost:7332/tasks"}) {
    auto result = build({{"id", "7"}, {"path", path}});
    ASSERT_TRUE(std::holds_alternative<FetchProxy::Answer>(result)) << path;
    const auto& answer = std::get<FetchProxy::Answer>(result);
    EXPECT_EQ(answer.id, "7");
    EXPECT_EQ(answer.status, 599);
    EXPECT_TRUE(json::parse(answer.body)["detail"].is_string());
  }
  EXPECT_EQ(request({{"id", "1"}, {"path", "http://127.0.0.1:7332/ok"}}).url, "http://127.0.0.1:7332/ok");
  EXPECT_FALSE(PageMessages::Fetch::decode({{"path", "/x"}}));
  EXPECT_FALSE(PageMessages::Fetch::decode({{"id", "1"}, {"path", 4}}));
  for (const char* path : {"/a b", "/\\host/x", " /x", "\t/x"}) {
    auto result = build({{"id", "9"}, {"path", path}});
    ASSERT_TRUE(std::holds_alternative<FetchProxy::Answer>(result)) << path;
    EXPECT_EQ(std::get<FetchProxy::Answer>(result).status, 599) << path;
    EXPECT_EQ(json::parse(std::get<FetchProxy::Answer>(result).body)["detail"], "Invalid request path") << path;
  }
  EXPECT_TRUE(std::holds_alternative<FetchProxy::Answer>(
      build({{"id", "1"}, {"path", "/a"}, {"method", "GET /x HTTP/1.1\r\n"}})));
  // Methods a browser refuses a page fail as one that is no token does; look-alikes go out.
  for (const char* method : {"CONNECT", "trace", "Track"}) {
    auto result = build({{"id", "3"}, {"path", "/a"}, {"method", method}});
    ASSERT_TRUE(std::holds_alternative<FetchProxy::Answer>(result)) << method;
    EXPECT_EQ(json::parse(std::get<FetchProxy::Answer>(result).body)["detail"], "Invalid request method") << method;
  }
  for (const char* method : {"TRACES", "PATCH", "delete"})
    EXPECT_EQ(request({{"id", "3"}, {"path", "/a"}, {"method", method}}).method, method);
}

TEST(FetchProxyAnswer, StatusHeadersAndBody) {
  auto ok =
      FetchProxy::makeAnswer("1", 404, {{"Set-Cookie", "a"}, {"set-cookie", "b"}}, R"({"detail":"x"})", std::nullopt);
  EXPECT_EQ(ok.status, 404);
  EXPECT_EQ(ok.body, R"({"detail":"x"})");
  ASSERT_EQ(ok.headers.size(), 1u);
  EXPECT_EQ(ok.headers[0].second, "a, b");

  EXPECT_EQ(FetchProxy::makeAnswer("1", 200, {}, "\xff\xfe", std::nullopt).body, "");
  auto down = FetchProxy::makeAnswer("1", 0, {}, "", std::string("Could not connect: \"refused\""));
  EXPECT_EQ(down.status, 599);
  EXPECT_EQ(json::parse(down.body)["detail"], "Could not connect: \"refused\"");
  EXPECT_TRUE(down.headers.empty());
}

TEST(EventStreamOpen, IdAndURLChecks) {
  auto open = [](const json& id, const json& url) {
    auto decoded = PageMessages::EventStreamOpen::decode({{"id", id}, {"url", url}});
    return decoded ? EventStreamRequest::make(*decoded, base) : std::nullopt;
  };
  EXPECT_TRUE(open(std::string(128, 'a'), "http://127.0.0.1:7332/events"));
  EXPECT_FALSE(open(std::string(129, 'a'), "http://127.0.0.1:7332/events"));
  EXPECT_TRUE(open("", "http://127.0.0.1:7332/events"));
  EXPECT_TRUE(open("caf\xc3\xa9-e\xcc\x81-\xd9\xa3", "http://127.0.0.1:7332/events/"));
  EXPECT_FALSE(open("a_b", "http://127.0.0.1:7332/events"));
  EXPECT_FALSE(open("a.b", "http://127.0.0.1:7332/events"));
  EXPECT_FALSE(open(3, "http://127.0.0.1:7332/events"));
  EXPECT_FALSE(open("s", "http://127.0.0.1:7333/events"));
  EXPECT_FALSE(open("s", "http://localhost:7332/events"));
  EXPECT_FALSE(open("s", "http://127.0.0.1:7332/events/more"));
  EXPECT_FALSE(open("s", "/events"));

  auto withQuery = EventStreamRequest::make(
      *PageMessages::EventStreamOpen::decode(
          {{"id", "s"}, {"url", "http://127.0.0.1:7332/events?since=4"}, {"last_event_id", "12"}}),
      base);
  ASSERT_TRUE(withQuery);
  EXPECT_EQ(withQuery->request.url, "http://127.0.0.1:7332/events?since=4");
  EXPECT_EQ(withQuery->request.headers, (decltype(withQuery->request.headers){{"Last-Event-ID", "12"}}));
}

TEST(NavigationPolicy, Decisions) {
  const auto b = *URL::parse("http://127.0.0.1:7332");
  EXPECT_EQ(decideNavigation("zorvel-ui://app/index.html?native-overlay=host&theme=dark", b),
            NavigationDecision::allow);
  EXPECT_EQ(decideNavigation("http://127.0.0.1:7332/tasks", b), NavigationDecision::allow);
  EXPECT_EQ(decideNavigation("http://127.0.0.1:7333/tasks", b), NavigationDecision::cancelAndOpenExternally);
  EXPECT_EQ(decideNavigation("http://localhost:7332/tasks", b), NavigationDecision::cancelAndOpenExternally);
  EXPECT_EQ(decideNavigation("https://example.com/", b), NavigationDecision::cancelAndOpenExternally);
  EXPECT_EQ(decideNavigation("mailto:a@example.com", b), NavigationDecision::cancelAndOpenExternally);
  for (const char* blocked :
       {"about:blank", "javascript:alert(1)", "Data:text/html,x", "blob:zorvel-ui://app/1", "vbscript:x"})
    EXPECT_EQ(decideNavigation(blocked, b), NavigationDecision::cancel) << blocked;
  EXPECT_EQ(decideNavigation(std::nullopt, b), NavigationDecision::cancel);
}
