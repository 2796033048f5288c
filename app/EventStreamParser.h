#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zorvel {

struct ServerSentEvent {
  std::string type;
  std::string data;
  std::optional<std::string> id;
};

// Cuts a server-sent-event byte stream into blocks and blocks into events. Lines end with LF,
// CR LF or CR, as the event-stream format allows, and a blank line ends a block. Each block
// stands alone: it starts with the type "message" and no id. A block that grows past
// `maximumBlockSize` is discarded up to its blank line, so a peer cannot make the buffer grow
// without bound.
class EventStreamParser {
 public:
  static constexpr std::size_t maximumBlockSize = 4 * 1024 * 1024;
  using EventHandler = std::function<void(ServerSentEvent)>;

  explicit EventStreamParser(EventHandler onEvent) : onEvent(std::move(onEvent)) {}

  void append(std::string_view chunk);
  // Bytes of a block that never reached its blank line.
  std::size_t pendingSize() const { return block.size(); }

  // One block of lines separated by LF. Nothing for a block that is not UTF-8 or has no data.
  static std::optional<ServerSentEvent> parseBlock(std::string_view block);

 private:
  void endLine();

  EventHandler onEvent;
  std::string block;           // the lines of the current block, each followed by LF
  std::size_t lineLength = 0;  // bytes of the current line seen so far
  bool lastWasCR = false;      // a LF right after a CR belongs to the same line ending
  bool overflowed = false;
};

}  // namespace zorvel
