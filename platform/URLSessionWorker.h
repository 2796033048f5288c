#pragma once
// The worker behind a URLSession: one thread, one GMainContext, one SoupSession, the transfers
// running on it and those waiting for a place. Everything but start/invalidate/cancel runs on the
// worker thread.
#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"
#include "platform/URLSession.h"

typedef struct _SoupSession SoupSession;
typedef struct _SoupMessage SoupMessage;
typedef struct _GCancellable GCancellable;
typedef struct _GInputStream GInputStream;

namespace platform::detail {

// One request in flight. The handlers run on the worker thread; onData returns false to stop the
// transfer with the given error.
class SessionWorker;

struct Transfer : std::enable_shared_from_this<Transfer> {
  URLRequest request;
  std::function<void(int, const HTTPHeaders&)> onResponse;
  std::function<bool(std::string_view, std::string& error)> onData;
  std::function<void(std::optional<std::string>)> onComplete;

  GObjectPtr<GCancellable> cancellable;
  GObjectPtr<SoupMessage> message;
  GObjectPtr<GInputStream> stream;
  SessionWorker* owner = nullptr;
  bool holdsPlace = false;          // counted among the session's running transfers
  AttachedSourcePtr timeoutSource;  // on the worker's context
  bool timedOut = false;
  // For a request bound to a server process: the connection seen to lead to it, or why none did.
  std::optional<unsigned long long> checkedConnection;
  std::optional<std::string> refusal;
  bool finished = false;
  std::optional<std::string> stopReason;
  // Shared with the callbacks queued for the caller, which may outlive the transfer itself.
  std::shared_ptr<std::atomic<bool>> callerCancelled = std::make_shared<std::atomic<bool>>(false);

  Transfer();
  ~Transfer();
  void cancel();
  // What the request holds while it waits: its URL, fields and body.
  std::size_t waitingBytes() const;
};

class SessionWorker {
 public:
  explicit SessionWorker(URLSession::Limits limits);
  ~SessionWorker();

  void start(std::shared_ptr<Transfer> transfer);
  void invalidate();
  bool isCurrent() const { return std::this_thread::get_id() == thread.get_id(); }
  DispatchQueue& delegateQueue() { return delegate; }

 private:
  // Runs the work on the worker thread; false once the worker is stopping.
  bool submit(std::function<void()> work);
  void run();
  void failWaiting(const char* reason);
  // Begins waiting transfers, oldest first, while there are places.
  void admit();
  void begin(const std::shared_ptr<Transfer>& transfer);
  void armTimeout(Transfer& transfer);
  static void disarmTimeout(Transfer& transfer);
  void readNext(Transfer& transfer);
  void finish(Transfer& transfer, std::optional<std::string> error);
  std::optional<std::string> failureText(const Transfer& transfer, const char* error) const;

  // Holds a request bound to a server process to a connection made for it and checked.
  static void watchConnection(Transfer& transfer);
  static void onNetworkEvent(SoupMessage* message, int event, void* connection, void* data);
  static void onStarting(SoupMessage* message, void* data);
  static void refuse(Transfer& transfer, std::string reason);
  static void onSent(void* source, void* result, void* data);
  static void onRead(void* source, void* result, void* data);
  static int onTimeout(void* data);

  const URLSession::Limits limits;
  GMainContextPtr context;
  GObjectPtr<SoupSession> session;
  std::mutex mutex;
  bool stopping = false;                          // guarded by mutex
  std::deque<std::shared_ptr<Transfer>> waiting;  // guarded by mutex, oldest first
  std::size_t waitingBytes = 0;                   // guarded by mutex
  bool admitScheduled = false;                    // guarded by mutex: a call of admit() is on its way
  std::atomic<bool> invalidated{false};
  std::size_t running = 0;
  bool admitting = false;
  std::set<std::shared_ptr<Transfer>> active;
  DispatchQueue delegate{"URLSession.delegate"};
  std::thread thread;
};

}  // namespace platform::detail
