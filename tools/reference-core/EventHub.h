#pragma once
// Open server-sent-event streams of /events and the events pushed to them.
#include <optional>
#include <string>
#include <vector>

typedef struct _SoupServerMessage SoupServerMessage;

namespace refcore {

class EventHub {
 public:
  static constexpr size_t maximumStreams = 64;
  static constexpr unsigned keepAliveSeconds = 15;

  EventHub();

  ~EventHub();

  // Answers the request as an open stream; false (and nothing done) when too many are open.
  bool open(SoupServerMessage* message);
  // One event: "event:" and "id:" when given, a "data:" line per line of data, a blank line.
  void push(const std::optional<std::string>& event, const std::string& data, const std::optional<std::string>& id);
  // Bytes exactly as given, for tests of the client's parser.
  void pushRaw(const std::string& bytes);
  // Ends every open stream normally.
  void endAll();
  size_t openCount() const { return streams.size(); }

  static std::string format(const std::optional<std::string>& event, const std::string& data,
                            const std::optional<std::string>& id);

 private:
  struct Stream;
  static void onFinished(SoupServerMessage* message, void* data);
  void remove(Stream* stream);

  std::vector<Stream*> streams;
  unsigned keepAliveSource = 0;
};

}  // namespace refcore
