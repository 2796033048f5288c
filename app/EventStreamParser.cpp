#include "app/EventStreamParser.h"

#include <vector>

#include "app/TextEncoding.h"

namespace zorvel {

void EventStreamParser::append(std::string_view chunk) {
  std::size_t i = 0;
  while (i < chunk.size()) {
    if (lastWasCR) {
      lastWasCR = false;
      if (chunk[i] == '\n') {
        ++i;
        continue;
      }
    }
    std::size_t stop = chunk.find_first_of("\r\n", i);
    std::size_t runEnd = stop == std::string_view::npos ? chunk.size() : stop;
    std::size_t run = runEnd - i;
    lineLength += run;
    if (!overflowed) {
      if (block.size() + run > maximumBlockSize) {
        overflowed = true;
        block.clear();
        block.shrink_to_fit();
      } else {
        block.append(chunk.substr(i, run));
      }
    }
    i = runEnd;
    if (i < chunk.size()) {
      lastWasCR = chunk[i] == '\r';
      ++i;
      endLine();
    }
  }
}

void EventStreamParser::endLine() {
  if (lineLength > 0) {
    lineLength = 0;
    if (!overflowed) block.push_back('\n');
    return;
  }
  // A blank line: the block is complete.
  bool discard = overflowed;
  overflowed = false;
  std::string complete;
  complete.swap(block);
  if (discard || complete.empty()) return;
  complete.pop_back();  // the LF after the block's last line
  if (auto event = parseBlock(complete); event && onEvent) onEvent(std::move(*event));
}

std::optional<ServerSentEvent> EventStreamParser::parseBlock(std::string_view block) {
  if (!isValidUTF8(block)) return std::nullopt;
  ServerSentEvent event{"message", {}, std::nullopt};
  bool hasData = false;
  std::size_t start = 0;
  while (start <= block.size()) {
    std::size_t end = block.find('\n', start);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == ':') continue;
    std::size_t colon = line.find(':');
    std::string_view field = line.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
    if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (field == "event") {
      event.type = value.empty() ? "message" : std::string(value);
    } else if (field == "data") {
      if (hasData) event.data.push_back('\n');
      event.data.append(value);
      hasData = true;
    } else if (field == "id") {
      event.id = std::string(value);
    }
  }
  if (!hasData) return std::nullopt;
  return event;
}

}  // namespace zorvel
