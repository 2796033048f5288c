#include "tools/reference-core/ControlChannel.h"

#include <glib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "tools/reference-core/LineFramer.h"

namespace refcore {

namespace {

void invokeOn(GMainContext* context, std::function<void()> work) {
  g_main_context_invoke_full(
      context, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(work)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace

ControlChannel::ControlChannel(int inputFD, int outputFD) : inputFD(inputFD), outputFD(outputFD) {}

ControlChannel::~ControlChannel() {
  // The reader blocks in read() on standard input; the process exits around it.
  if (reader.joinable()) reader.detach();
}

void ControlChannel::start(GMainContext* context, LineHandler lineHandler, ClosedHandler closedHandler) {
  onLine = std::move(lineHandler);
  onClosed = std::move(closedHandler);
  reader = std::thread([this, context] { readLoop(context); });
}

void ControlChannel::readLoop(GMainContext* context) {
  LineFramer framer;
  char buffer[65536];
  for (;;) {
    {
      std::unique_lock guard(readingMutex);
      readingChanged.wait(guard, [this] { return !stalled; });
    }
    const ssize_t count = read(inputFD, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    framer.feed(std::string_view(buffer, static_cast<size_t>(count)), [&](std::string_view line) {
      invokeOn(context, [this, text = std::string(line)]() mutable { onLine(std::move(text)); });
      std::lock_guard guard(readingMutex);
      if (stallPending) {
        stallPending = false;
        stalled = true;
      }
    });
  }
  invokeOn(context, [this] { onClosed(); });
}

void ControlChannel::stallAfterNextLine() {
  std::lock_guard guard(readingMutex);
  stallPending = true;
}

void ControlChannel::resumeReading() {
  std::lock_guard guard(readingMutex);
  stallPending = false;
  stalled = false;
  readingChanged.notify_all();
}

int ControlChannel::unreadBytes() const {
  int count = 0;
  return ioctl(inputFD, FIONREAD, &count) == 0 ? count : 0;
}

bool ControlChannel::send(const nlohmann::json& message) {
  return sendRaw(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

bool ControlChannel::sendRaw(std::string_view text) {
  std::lock_guard lock(writeMutex);
  while (!text.empty()) {
    const ssize_t written = write(outputFD, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace refcore
