#pragma once
// The core's end of the control channel: lines from the application on standard input, lines to
// it on standard output. A reader thread frames the input and hands each line to the GLib main
// context, where everything else of the core runs; writes are whole lines under one lock.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>

typedef struct _GMainContext GMainContext;

namespace refcore {

class ControlChannel {
 public:
  using LineHandler = std::function<void(std::string line)>;
  using ClosedHandler = std::function<void()>;

  ControlChannel(int inputFD, int outputFD);
  ~ControlChannel();

  // Starts reading; both handlers run on `context`.
  void start(GMainContext* context, LineHandler onLine, ClosedHandler onClosed);

  // Stops reading standard input after the next whole line (tests use it for a core that no
  // longer takes what the application writes), or reads again.
  void stallAfterNextLine();
  void resumeReading();
  // Bytes the application wrote that the core has not read yet.
  int unreadBytes() const;

  // Writes one compact JSON object and a line feed. False when the application is gone.
  bool send(const nlohmann::json& message);
  // Writes text exactly as given (tests use it to send malformed or merged lines).
  bool sendRaw(std::string_view text);

 private:
  void readLoop(GMainContext* context);

  int inputFD;
  int outputFD;
  std::mutex writeMutex;
  std::mutex readingMutex;
  std::condition_variable readingChanged;
  bool stallPending = false;
  bool stalled = false;
  LineHandler onLine;
  ClosedHandler onClosed;
  std::thread reader;
};

}  // namespace refcore
