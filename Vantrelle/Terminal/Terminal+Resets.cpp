// Full and soft reset, and synchronized output with its time-out.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::cmdReset() {
  const bool hidden = cursorHidden;
  parser.reset();
  setup(true);
  cursorHidden = hidden;
  updateFullScreen();
}

void Terminal::cmdSoftReset() { buffer->softReset(); }

void Terminal::beginSynchronizedOutput() {
  if (synchronizedOutputActive) return;
  synchronizedOutputActive = true;
  if (scheduler) {
    synchronizedOutputTimeoutItem =
        scheduler->schedule(synchronizedOutputTimeoutSeconds, [this] { endSynchronizedOutput(); });
  }
  if (tdel) tdel->synchronizedOutputChanged(*this, true);
}

void Terminal::endSynchronizedOutput() {
  if (!synchronizedOutputActive) return;
  synchronizedOutputActive = false;
  if (synchronizedOutputTimeoutItem) {
    synchronizedOutputTimeoutItem->cancel();
    synchronizedOutputTimeoutItem.reset();
  }
  if (tdel) tdel->synchronizedOutputChanged(*this, false);
}

}  // namespace vantrelle
