// The core's port is anyone's to take while no core holds it: before a start and between a crash
// and the next start. Another user listening there must get none of the application's requests,
// nor the desktop token they carry, and must not pass for the core.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "tests/e2e/DesktopHarness.h"

using e2e::DesktopRun;
using namespace std::chrono_literals;

namespace {

bool logHas(const DesktopRun& run, const std::string& text) { return run.log().find(text) != std::string::npos; }

// Says it waits for the port, takes it as soon as it is free and says so, then tells of every connection and the first
// bytes that came on it; it answers any request as the core would answer the readiness probe, with
// the pid of the newest core on that port, which /proc shows to every user.
const char* intruderScript = R"(
import json, os, socket, sys, threading, time
port = int(sys.argv[1])
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
print('waiting', flush=True)
while True:
    try:
        listener.bind(('127.0.0.1', port))
        break
    except OSError:
        time.sleep(0.001)
listener.listen(64)
print('listening', flush=True)

def newest_core():
    found = 0
    for name in os.listdir('/proc'):
        try:
            with open('/proc/%s/cmdline' % name, 'rb') as f:
                words = f.read().split(b'\0')
        except OSError:
            continue
        if b'serve-desktop' in words and str(port).encode() in words:
            found = max(found, int(name))
    return found

def serve(connection):
    data = b''
    connection.settimeout(5)
    try:
        while b'\r\n\r\n' not in data:
            chunk = connection.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    print(json.dumps({'received': data.decode('latin-1')}), flush=True)
    if data:
        body = json.dumps({'kind': 'zorvel-desktop', 'protocol_version': 3, 'pid': newest_core()}).encode()
        head = 'HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n' % len(body)
        try:
            connection.sendall(head.encode() + body)
        except OSError:
            pass
    connection.close()

while True:
    connection, _ = listener.accept()
    print('connection', flush=True)
    threading.Thread(target=serve, args=(connection,), daemon=True).start()
)";

// The listener above, run as the user nobody.
class Intruder {
 public:
  explicit Intruder(int port) {
    testing::programs::require("setpriv");
    testing::programs::require("python3");
    platform::ChildProcess::Options options;
    options.executable = "/usr/bin/env";
    // Debian's python3, which nobody may run: one found first on the PATH can lie in a home.
    options.arguments = {"setpriv", "--reuid=nobody", "--regid=nogroup",   "--clear-groups", "/usr/bin/python3", "-I",
                         "-c",      intruderScript,   std::to_string(port)};
    options.output = platform::ChildProcess::Stream::pipe;
    process = platform::ChildProcess::launch(options, nullptr);
    if (!process) return;
    std::thread([state = state, process = process] {
      char chunk[4096];
      ssize_t got;
      while ((got = ::read(process->outputDescriptor(), chunk, sizeof chunk)) > 0) {
        std::lock_guard guard(state->mutex);
        state->text.append(chunk, static_cast<size_t>(got));
      }
    }).detach();
  }
  ~Intruder() {
    if (process) process->terminateAndReap(2s);
  }

  std::string output() const {
    std::lock_guard guard(state->mutex);
    return state->text;
  }
  bool waiting() const { return output().find("waiting\n") != std::string::npos; }
  bool listening() const { return output().find("listening\n") != std::string::npos; }
  // What reached it: every request line and field it was sent.
  std::string received() const {
    std::string all;
    std::istringstream lines(output());
    for (std::string line; std::getline(lines, line);) {
      auto record = nlohmann::json::parse(line, nullptr, false);
      if (record.is_object()) all += record.value("received", "");
    }
    return all;
  }

  std::shared_ptr<platform::ChildProcess> process;

 private:
  struct State {
    std::mutex mutex;
    std::string text;
  };
  std::shared_ptr<State> state = std::make_shared<State>();
};

bool skipUnlessRoot() { return ::geteuid() != 0; }

}  // namespace

TEST(ForeignListener, ABoundPortBeforeALaunchGetsNoRequestAndIsNotTakenForTheCore) {
  if (skipUnlessRoot()) GTEST_SKIP() << "starting a listener of another user on the core's port needs root";
  DesktopRun run;
  Intruder intruder(run.port);
  ASSERT_TRUE(e2e::waitUntil([&] { return intruder.listening(); }, 10s)) << intruder.output();
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "Zorvel could not start a compatible core"); }, 30s)) << run.log();
  EXPECT_NE(run.log().find("Address already in use"), std::string::npos) << run.log();
  EXPECT_FALSE(logHas(run, "is ready"));
  EXPECT_EQ(intruder.received(), "") << "a request reached another user's listener";
}

TEST(ForeignListener, APortTakenAfterACrashGetsNoneOfThePagesRequests) {
  if (skipUnlessRoot()) GTEST_SKIP() << "starting a listener of another user on the core's port needs root";
  DesktopRun run;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 30s)) << run.log();
  // The page is up once its event stream has reached the core.
  ASSERT_TRUE(run.waitUntil(
      [&] {
        for (auto& request : run.ofType("request")) {
          if (request.value("path", "") == "/events") return true;
        }
        return false;
      },
      30s));
  // It waits for the port, and takes it the moment the core has gone, before the next start.
  Intruder intruder(run.port);
  ASSERT_TRUE(e2e::waitUntil([&] { return intruder.waiting(); }, 10s)) << intruder.output();
  run.killCore(run.corePIDs().at(0));
  ASSERT_TRUE(e2e::waitUntil([&] { return intruder.listening(); }, 10s)) << intruder.output();
  const size_t listening = run.log().size();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "Zorvel could not start a compatible core"); }, 30s)) << run.log();
  // The page opens its stream again three seconds after it ended, and then asks for the runtime:
  // wait until the stream it opened while the listener had the port has been refused.
  ASSERT_TRUE(run.waitUntil(
      [&] { return run.log().find("A page's event stream was not opened", listening) != std::string::npos; }, 30s))
      << run.log();
  EXPECT_EQ(intruder.received(), "") << "a request reached another user's listener";
  EXPECT_EQ(run.log().find("is ready"), run.log().rfind("is ready")) << "the listener was taken for the core";
}
