#include "tools/reference-core/LineFramer.h"

namespace refcore {

void LineFramer::feed(std::string_view bytes, const std::function<void(std::string_view)>& line) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view part = bytes.substr(0, end);
    if (!discarding) {
      if (pending.size() + part.size() > limit) {
        pending.clear();
        discarding = true;
      } else {
        pending.append(part);
      }
    }
    if (end == std::string_view::npos) return;
    if (!discarding) line(pending);
    pending.clear();
    discarding = false;
    bytes.remove_prefix(end + 1);
  }
}

}  // namespace refcore
