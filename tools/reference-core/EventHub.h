#pragma once
// Open server-sent-event streams of /events and the events pushed to them.
#include <optional>
#include <string>
#include <vector>

#include "platform/GLibPtr.h"

typedef struct _SoupServerMessage SoupServerMessage;
typedef struct _GSocket GSocket;

namespace refcore {

// Who hears an event: every stream, or the desktop's streams and those of one project (of none:
// the desktop's alone).
struct EventAudience {
  bool everyone = true;
  std::optional<std::string> projectID;
  static EventAudience of(const std::optional<std::string>& projectID) { return {false, projectID}; }
};

class EventHub {
 public:
  static constexpr size_t maximumStreams = 64;
  static constexpr unsigned keepAliveSeconds = 15;

  EventHub();

  ~EventHub();

  // Answers the request as an open stream, for a project's agent when `projectScoped` (it hears
  // only of `projectID`); false (and nothing done) when too many are open. A stream whose client
  // has gone is ended at once, not at the next write.
  bool open(SoupServerMessage* message, std::optional<std::string> projectID = std::nullopt,
            bool projectScoped = false);
  // One event: "event:" and "id:" when given, a "data:" line per line of data, a blank line.
  void push(const std::optional<std::string>& event, const std::string& data, const std::optional<std::string>& id,
            const EventAudience& audience = EventAudience());
  // Bytes exactly as given, for tests of the client's parser.
  void pushRaw(const std::string& bytes, const EventAudience& audience = EventAudience());
  // Ends every open stream normally.
  void endAll();
  size_t openCount() const { return streams.size(); }

  static std::string format(const std::optional<std::string>& event, const std::string& data,
                            const std::optional<std::string>& id);

 private:
  struct Stream;
  static void onFinished(SoupServerMessage* message, void* data);
  static int onClientActivity(GSocket* socket, unsigned condition, void* data);
  static void end(Stream* stream);
  void remove(Stream* stream);

  std::vector<Stream*> streams;
  platform::SourceId keepAliveSource;
};

}  // namespace refcore
