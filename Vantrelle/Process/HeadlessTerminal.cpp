#include "Vantrelle/Process/HeadlessTerminal.h"

#include <algorithm>
#include <cstddef>

namespace vantrelle {

namespace {
uint16_t winsizeField(int value) { return uint16_t(std::clamp(value, 0, 65535)); }
}  // namespace

HeadlessTerminal::HeadlessTerminal(platform::DispatchQueue* queue, TerminalOptions options,
                                   std::function<void(std::optional<int32_t>)> onEnd)
    : onEnd(std::move(onEnd)),
      selfHandle(static_cast<LocalProcessDelegate*>(this), [](LocalProcessDelegate*) {}),
      scheduler(queue),
      outputRest(scheduler, [this] { terminal->outputRests(); }) {
  terminal = std::make_unique<Terminal>(this, std::move(options));
  terminal->scheduler = &scheduler;
  process = std::make_shared<LocalProcess>(selfHandle, queue);
}

HeadlessTerminal::~HeadlessTerminal() {
  terminal->tdel = nullptr;
  process->setDelegate({});
}

void HeadlessTerminal::send(const std::vector<uint8_t>& data) { process->send(data); }

void HeadlessTerminal::changeScrollback(std::optional<int> lines) {
  terminal->changeScrollback(lines);
  terminal->options.scrollback = lines.value_or(0);
  terminal->updateRange(0);
  terminal->updateRange(terminal->rows - 1);
}

void HeadlessTerminal::resize(int cols, int rows) {
  terminal->resize(cols, rows);
  process->setWindowSize(getWindowSize());
}

void HeadlessTerminal::send(Terminal&, std::span<const uint8_t> data) { process->sendReply(data); }

void HeadlessTerminal::hostCurrentDirectoryUpdated(Terminal& source) { dir = source.hostCurrentDirectory; }

void HeadlessTerminal::createImageFromBitmap(Terminal&, std::vector<uint8_t>& bytes, int width, int height) {
  images.push_back({bytes, width, height});
  size_t total = 0;
  for (const Image& image : images) total += image.bytes.size();
  size_t drop = 0;
  while (images.size() - drop > 1 && (images.size() - drop > maximumImages || total > maximumImageBytes)) {
    total -= images[drop].bytes.size();
    drop++;
  }
  images.erase(images.begin(), images.begin() + std::ptrdiff_t(drop));
}

void HeadlessTerminal::processTerminated(LocalProcess&, std::optional<int32_t> exitCode) {
  if (onEnd) onEnd(exitCode);
}

void HeadlessTerminal::dataReceived(std::span<const uint8_t> slice) {
  terminal->feed(slice);
  outputRest.noteOutput();
}

winsize HeadlessTerminal::getWindowSize() {
  return {winsizeField(terminal->rows), winsizeField(terminal->cols), 16, 16};
}

}  // namespace vantrelle
