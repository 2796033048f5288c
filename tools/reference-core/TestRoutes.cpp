// Endpoints for tests. Under /__test/: "echo", "status/<code>", "binary" and "whoami" answer like
// any API path (a valid token is required). "record", "state", "events", "error-events" and
// "control" drive and inspect the core from a test harness without a token, so they exist only
// when the core keeps a record (ZORVEL_REFCORE_RECORD); so do "download", a file that a page
// that loads it downloads, and "login", which asks whoever loads it to sign in.
#include <glib.h>
#include <libsoup/soup.h>

#include "platform/GLibPtr.h"
#include "tools/reference-core/Base64.h"
#include "tools/reference-core/ReferenceCore.h"

namespace refcore {

namespace {

constexpr int maximumAnswerWaitMilliseconds = 30000;

// Bytes that are not UTF-8, with NULs, for checking that bodies pass through untouched.
const std::string binaryBody("\xff\xfe\x00zorvel\x80\x00\xc3", 11);

}  // namespace

struct ReferenceCore::PendingAnswer {
  ReferenceCore* core;
  std::string requestID;
  platform::GObjectPtr<SoupServerMessage> message;
  platform::AttachedSourcePtr timer = nullptr;
  gulong finishedHandler = 0;

  // Answers the waiting request (unless its client left) and forgets it.
  void settle(const nlohmann::json& answer, bool clientGone) {
    core->pendingAnswers.erase(requestID);
    timer.reset();
    g_signal_handler_disconnect(message.get(), finishedHandler);
    if (!clientGone) {
      respondJSON(message.get(), 200, {{"answer", answer}});
      soup_server_message_unpause(message.get());
    }
    delete this;
  }
};

bool ReferenceCore::routeTestAPI(Request& request) {
  const auto& s = request.segments;
  if (s.empty() || s[0] != "__test") return false;
  if (s.size() >= 2 && s[1] == "echo") {
    int status = 200;
    if (auto found = request.query.find("status"); found != request.query.end()) {
      status = std::clamp(std::atoi(found->second.c_str()), 200, 599);
    }
    soup_message_headers_append(soup_server_message_get_response_headers(request.message), "X-Zorvel-Echo", "1");
    respondJSON(request.message, status,
                {{"method", request.method},
                 {"path", request.path},
                 {"query", request.query},
                 {"headers", request.headers},
                 {"body", textOrBytes(request.body)}});
    return true;
  }
  if (s.size() == 3 && s[1] == "status") {
    const int status = std::clamp(std::atoi(s[2].c_str()), 200, 599);
    respondDetail(request.message, status, "Status " + std::to_string(status));
    return true;
  }
  if (s.size() == 2 && s[1] == "binary") {
    respondBytes(request.message, 200, "application/octet-stream", binaryBody);
    return true;
  }
  if (s.size() == 2 && s[1] == "whoami") {
    TokenClaims claims;
    const auto authorization = request.header("Authorization");
    verifier->check(bearerToken(authorization.value_or("")).value_or(""), &claims);
    auto optional = [](const std::optional<std::string>& value) {
      return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
    };
    respondJSON(request.message, 200,
                {{"token_id", claims.tokenID},
                 {"role", claims.role},
                 {"access", claims.access},
                 {"project_id", optional(claims.projectID)},
                 {"task_id", optional(claims.taskID)},
                 {"session_id", optional(claims.sessionID)},
                 {"report_id", optional(claims.reportID)}});
    return true;
  }
  return false;
}

bool ReferenceCore::routeTestHarness(Request& request) {
  const auto& s = request.segments;
  if (s.size() != 2) return false;
  const std::string& name = s[1];
  if (name != "record" && name != "state" && name != "events" && name != "error-events" && name != "control" &&
      name != "control-reading" && name != "download" && name != "login") {
    return false;
  }
  if (!recorder.enabled()) {
    respondDetail(request.message, 404, "Not found");
    return true;
  }
  if (name == "record") {
    respondJSON(request.message, 200, recorder.all());
  } else if (name == "state") {
    nlohmann::json list = nlohmann::json::array();
    for (const Task* task : tasks.list()) list.push_back(task->json());
    respondJSON(request.message, 200,
                {{"bootstrapped", verifier != nullptr},
                 {"runtime_id", runtimeID},
                 {"active_token_ids", verifier ? verifier->activeTokenIDs() : std::set<std::string>{}},
                 {"event_streams", events.openCount()},
                 {"tasks", list}});
  } else if (name == "download") {
    soup_message_headers_append(soup_server_message_get_response_headers(request.message), "Content-Disposition",
                                "attachment; filename=\"zorvel-download.txt\"");
    respondBytes(request.message, 200, "text/plain", "downloaded\n");
  } else if (name == "login") {
    soup_message_headers_append(soup_server_message_get_response_headers(request.message), "WWW-Authenticate",
                                "Basic realm=\"zorvel-test\"");
    respondDetail(request.message, 401, "Sign in first");
  } else if (name == "error-events") {
    respondJSON(request.message, 200, {{"events", errorEvents}});
  } else if (name == "control") {
    sendControlForTest(request);
  } else if (name == "control-reading") {
    setControlReadingForTest(request);
  } else {
    const auto body = request.jsonObject();
    if (!body || request.method != "POST") return respondDetail(request.message, 422, "Expected a JSON object"), true;
    const auto text = [&](const char* key) -> std::optional<std::string> {
      if (!body->contains(key) || !(*body)[key].is_string()) return std::nullopt;
      return (*body)[key].get<std::string>();
    };
    if (body->value("end", false)) {
      events.endAll();
    } else if (auto raw = text("raw")) {
      events.pushRaw(*raw);
    } else if (auto encoded = text("raw_base64")) {
      events.pushRaw(base64Decode(*encoded).value_or(""));
    } else if (auto data = text("data")) {
      events.push(text("event"), *data, text("id"));
    } else {
      return respondDetail(request.message, 422, "Expected \"data\", \"raw\", \"raw_base64\" or \"end\""), true;
    }
    respondJSON(request.message, 200, {{"streams", events.openCount()}});
  }
  return true;
}

// {"line": text} writes the text as it is (a line feed is added unless it ends with one);
// {"message": object, "wait_ms": n} writes the object as a control line and, when it carries a
// "request_id", waits up to n ms (2000 by default) for the application's answer with that id.
void ReferenceCore::sendControlForTest(Request& request) {
  const auto body = request.jsonObject();
  if (!body || request.method != "POST") return respondDetail(request.message, 422, "Expected a JSON object");
  if (body->contains("line") && (*body)["line"].is_string()) {
    std::string line = (*body)["line"];
    if (line.empty() || line.back() != '\n') line += '\n';
    recorder.write({{"type", "control"}, {"direction", "out"}, {"line", textOrBytes(line)}});
    const bool sent = control.sendRaw(line);
    return respondJSON(request.message, 200, {{"sent", sent}});
  }
  if (!body->contains("message") || !(*body)["message"].is_object()) {
    return respondDetail(request.message, 422, "Expected \"line\" or \"message\"");
  }
  const nlohmann::json& message = (*body)["message"];
  const std::string line = message.dump();
  recorder.write({{"type", "control"}, {"direction", "out"}, {"line", line}});
  const bool sent = control.send(message);
  const auto requestID = message.contains("request_id") && message["request_id"].is_string()
                             ? std::optional<std::string>(message["request_id"].get<std::string>())
                             : std::nullopt;
  if (!sent || !requestID || pendingAnswers.count(*requestID)) {
    return respondJSON(request.message, 200, {{"sent", sent}, {"answer", nullptr}});
  }
  int wait = 2000;
  if (body->contains("wait_ms") && (*body)["wait_ms"].is_number_integer()) {
    wait = std::clamp((*body)["wait_ms"].get<int>(), 0, maximumAnswerWaitMilliseconds);
  }
  auto* pending = new PendingAnswer{
      this, *requestID, platform::GObjectPtr<SoupServerMessage>(SOUP_SERVER_MESSAGE(g_object_ref(request.message)))};
  pendingAnswers[*requestID] = pending;
  soup_server_message_pause(request.message);
  pending->finishedHandler = g_signal_connect(
      request.message, "finished",
      G_CALLBACK(+[](SoupServerMessage*, gpointer data) { static_cast<PendingAnswer*>(data)->settle(nullptr, true); }),
      pending);
  pending->timer.reset(g_timeout_source_new(static_cast<guint>(wait)));
  g_source_set_callback(
      pending->timer.get(),
      [](gpointer data) -> gboolean {
        static_cast<PendingAnswer*>(data)->settle(nullptr, false);
        return G_SOURCE_REMOVE;
      },
      pending, nullptr);
  g_source_attach(pending->timer.get(), nullptr);
}

// {"reading": false} stops reading the control channel after its next line; {"reading": true}
// reads again and answers once all that waited has been read (or after 10 s), with what is
// still unread.
void ReferenceCore::setControlReadingForTest(Request& request) {
  const auto body = request.jsonObject();
  if (!body || request.method != "POST" || !body->contains("reading") || !(*body)["reading"].is_boolean()) {
    return respondDetail(request.message, 422, "Expected {\"reading\": true or false}");
  }
  if (!(*body)["reading"].get<bool>()) {
    control.stallAfterNextLine();
    return respondJSON(request.message, 200, {{"unread", control.unreadBytes()}});
  }
  control.resumeReading();
  struct Drain {
    ReferenceCore* core;
    platform::GObjectPtr<SoupServerMessage> message;
    gint64 deadline;
  };
  soup_server_message_pause(request.message);
  auto* drain =
      new Drain{this, platform::GObjectPtr<SoupServerMessage>(SOUP_SERVER_MESSAGE(g_object_ref(request.message))),
                g_get_monotonic_time() + 10 * G_TIME_SPAN_SECOND};
  g_timeout_add(
      10,
      +[](gpointer data) -> gboolean {
        auto* d = static_cast<Drain*>(data);
        const int unread = d->core->control.unreadBytes();
        if (unread > 0 && g_get_monotonic_time() < d->deadline) return G_SOURCE_CONTINUE;
        respondJSON(d->message.get(), 200, {{"unread", unread}});
        soup_server_message_unpause(d->message.get());
        delete d;
        return G_SOURCE_REMOVE;
      },
      drain);
}

void ReferenceCore::handleAnswer(const nlohmann::json& message) {
  if (!message.contains("request_id") || !message["request_id"].is_string()) return;
  const auto found = pendingAnswers.find(message["request_id"].get<std::string>());
  if (found == pendingAnswers.end()) return;
  found->second->settle(message, false);
}

}  // namespace refcore
