#pragma once
// A small HTTP server on a thread of its own for exercising the client:
//   /echo     200, body "<METHOD>\n<request body>", X-Seen = request X-Test, X-Auth = Authorization
//   /missing  404 {"detail": "not here"}
//   /binary   200 with bytes that are not UTF-8, NULs included
//   /redirect 302 to ?to=<url>, else to /echo
//   /silent   never answers
//   /stream   chunked "tick N\n" every 20 ms; ?count=N ends after N chunks, else runs until the
//             client goes away (streamsOpen() counts those still running)
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/GLibPtr.h"

typedef struct _GMainLoop GMainLoop;
typedef struct _SoupServer SoupServer;

class TestHTTPServer {
 public:
  TestHTTPServer();
  ~TestHTTPServer();

  std::string url(const std::string& path) const;
  int streamsOpen() const { return openStreams.load(); }
  int echoesServed() const { return echoCount.load(); }
  int silentRequests() const { return silentCount.load(); }
  // Waits until the condition, read over the counts above, holds after something the server did.
  bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));

  static const std::string binaryBody;

 private:
  void run();
  void changed();

  // Held here, not by the server's thread: the thread ends while stopping it still uses the context.
  platform::GMainContextPtr context{g_main_context_new()};
  GMainLoop* loop = nullptr;
  SoupServer* server = nullptr;
  int port = 0;
  std::atomic<bool> ready{false};
  std::atomic<int> openStreams{0};
  std::atomic<int> echoCount{0};
  std::atomic<int> silentCount{0};
  std::mutex mutex;
  std::condition_variable changes;
  std::thread thread;

  friend struct TestHTTPServerHandlers;
};
