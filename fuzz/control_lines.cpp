// The core's standard output: arbitrary bytes in arbitrary chunks go through the line splitter
// and the request decoder, and every decoded request must be one that passed validation.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/ControlMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zorvel::ControlLineReader reader(4096);
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t position = 0;
  while (position < input.size()) {
    // The first byte of each step picks the chunk length, so splits land everywhere.
    size_t length = 1 + static_cast<unsigned char>(input[position]) % 64;
    auto chunk = input.substr(position + 1, length);
    position += 1 + length;
    reader.feed(chunk, [](nlohmann::json&& object) {
      auto message = zorvel::decodeControlMessage(object);
      if (!message) return;
      if (auto* bind = std::get_if<zorvel::BindRequest>(&*message)) {
        if (bind->pid < 2) __builtin_trap();
      }
      if (auto* issue = std::get_if<zorvel::IssueRequest>(&*message)) {
        zorvel::encodeControlLine({{"kind", "issued"}, {"request_id", issue->requestID}});
      }
    });
  }
  return 0;
}
