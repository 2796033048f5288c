#pragma once
#include <sys/ioctl.h>

#include <cstdint>
#include <optional>
#include <span>

namespace vantrelle {

class LocalProcess;

// The owner of a LocalProcess: receives its output and exit, and sizes its pseudo-terminal.
// Held weakly; called on the process's dispatch queue.
class LocalProcessDelegate {
 public:
  virtual ~LocalProcessDelegate() = default;
  // The child has ended; `exitCode` is the raw wait status, not decoded (exit code 1 is 256).
  virtual void processTerminated(LocalProcess& source, std::optional<int32_t> exitCode) = 0;
  // A chunk of the child's output, in order.
  virtual void dataReceived(std::span<const uint8_t> slice) = 0;
  // The size to give the pseudo-terminal at start.
  virtual winsize getWindowSize() = 0;
  // When the delegate next needs its queue for itself, e.g. to draw the output delivered so far
  // on the display's next frame (steady-clock nanoseconds; 0 when nothing is due). Delivery that
  // would run past it stops there and goes on once the queue is free again.
  virtual uint64_t deliveryDeadlineNs() { return 0; }
  // Delivery stopped at that deadline. True when the delegate holds the rest back until it calls
  // LocalProcess::deliverPendingNow (after the frame it stopped for, say); held output goes on by
  // itself after LocalProcess::heldDeliveryLimitNs all the same.
  virtual bool deliveryDeadlineReached() { return false; }
};

}  // namespace vantrelle
