#pragma once
// Splits a byte stream into lines at 0x0A. A line longer than the limit is dropped whole (up to
// and including its line feed) so a peer that never sends a line feed cannot exhaust memory.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace refcore {

class LineFramer {
 public:
  explicit LineFramer(size_t maximumLineSize = 16 * 1024 * 1024) : limit(maximumLineSize) {}

  // Calls `line` for every complete line in `bytes`, in order, without its line feed.
  void feed(std::string_view bytes, const std::function<void(std::string_view)>& line);
  size_t pendingSize() const { return pending.size(); }

 private:
  size_t limit;
  std::string pending;
  bool discarding = false;
};

}  // namespace refcore
