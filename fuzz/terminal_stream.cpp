// Feeds arbitrary bytes to a terminal in chunks, with occasional resizes, and checks that the
// cursor and the line ring stay consistent after every step.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Vantrelle/Terminal/Terminal.h"

namespace {

class NullHost : public vantrelle::TerminalDelegate {
 public:
  void send(vantrelle::Terminal&, std::span<const uint8_t>) override {}
  std::optional<vantrelle::Bytes> clipboardRead(vantrelle::Terminal&) override { return vantrelle::Bytes{'h', 'i'}; }
};

// Holds deferred work (the synchronized-output time-out) until the input says to run it.
class HeldScheduler : public vantrelle::WorkScheduler {
 public:
  struct Work : vantrelle::ScheduledWork {
    std::function<void()> work;
    bool cancelled = false;
    void cancel() override { cancelled = true; }
  };
  std::shared_ptr<vantrelle::ScheduledWork> schedule(double, std::function<void()> work) override {
    auto item = std::make_shared<Work>();
    item->work = std::move(work);
    if (held.size() < 64) held.push_back(item);
    return item;
  }
  void runAll() {
    auto due = std::move(held);
    held.clear();
    for (auto& item : due)
      if (!item->cancelled) item->work();
  }
  std::vector<std::shared_ptr<Work>> held;
};

void check(bool condition) {
  if (!condition) std::abort();
}

void checkInvariants(vantrelle::Terminal& t) {
  for (vantrelle::Buffer* b : {t.normalBuffer.get(), t.altBuffer.get()}) {
    check(b->cols() == t.cols && b->rows() == t.rows);
    check(b->x >= 0 && b->x <= t.cols);
    check(b->y >= 0 && b->y < t.rows);
    check(b->scrollTop <= b->scrollBottom && b->scrollBottom < t.rows);
    auto& lines = b->lines();
    check(lines.count() <= lines.maxLength());
    check(b->yDisp >= 0 && b->yDisp <= b->yBase);
    if (lines.count() > 0) check(b->yBase + t.rows <= lines.count());
  }
  check(t.buffer == t.normalBuffer.get() || t.buffer == t.altBuffer.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NullHost host;
  vantrelle::TerminalOptions options;
  options.cols = 40;
  options.rows = 12;
  options.scrollback = 50;
  vantrelle::Terminal terminal(&host, options);
  HeldScheduler scheduler;
  terminal.scheduler = &scheduler;
  size_t i = 0;
  while (i < size) {
    const uint8_t header = data[i++];
    // One header in sixteen resizes; the others give the length of the next chunk.
    if ((header & 0x0F) == 0x0F && i + 2 <= size) {
      terminal.resize(data[i] % 200, data[i + 1] % 50);
      i += 2;
    } else if ((header & 0x1F) == 0x0E && i + 3 <= size) {
      // A mouse event as the view would report it, anywhere (even off the screen).
      const uint8_t flags = data[i];
      const int button = terminal.encodeButton(flags & 7, flags & 8, flags & 16, flags & 32, flags & 64);
      if (flags & 128)
        terminal.sendMotion(button, data[i + 1] * 9, data[i + 2] * 9, data[i + 1], data[i + 2]);
      else
        terminal.sendEvent(button, data[i + 1] * 9, data[i + 2] * 9, data[i + 1], data[i + 2]);
      i += 3;
    } else if ((header & 0x1F) == 0x0D && i + 1 <= size) {
      // An operating system command around the next bytes, so each payload parser sees them.
      static constexpr int kOscNumbers[] = {0, 4, 6, 7, 8, 9, 10, 11, 12, 52, 104, 112, 777, 1337};
      const int number = kOscNumbers[data[i++] % std::size(kOscNumbers)];
      const size_t length = std::min<size_t>(size - i, (header >> 5) * 16 + 1);
      terminal.feed("\x1b]" + std::to_string(number) + ";");
      terminal.feed(std::span<const uint8_t>(data + i, length));
      terminal.feed("\x1b\\");
      i += length;
    } else if ((header & 0x1F) == 0x0C && i + 2 <= size) {
      // The view's reads of untrusted text: the link under a cell and the text of a range.
      const vantrelle::Position at(data[i] % 128, data[i + 1] % 64);
      (void)terminal.link(vantrelle::LinkLookupLocation::screen(at), vantrelle::LinkLookupMode::explicitAndImplicit);
      (void)terminal.getText(vantrelle::Position(0, 0), at);
      i += 2;
    } else if ((header & 0x1F) == 0x1E) {
      // The host's timers come due: its deferred work runs, and the output has rested.
      scheduler.runAll();
      terminal.outputRests();
    } else {
      const size_t length = std::min<size_t>(size - i, (header >> 2) + 1);
      terminal.feed(std::span<const uint8_t>(data + i, length));
      i += length;
    }
    checkInvariants(terminal);
  }
  return 0;
}
