// The HTTP interface the application and the page use.
#include <glib.h>
#include <libsoup/soup.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/GLibPtr.h"
#include "tools/reference-core/ReferenceCore.h"

namespace refcore {

namespace {

constexpr size_t maximumErrorEvents = 1000;
constexpr int exitAfterReadyStatus = 3;

std::optional<std::string> reportProject(const nlohmann::json& report) {
  const auto found = report.find("project_id");
  if (found == report.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

bool isExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

bool isProfileID(const std::string& id) {
  if (id.empty() || id.size() > 128) return false;
  return std::all_of(id.begin(), id.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_' || c == '.'; });
}

std::string ownExecutable() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string("zorvel-runner") : path.string();
}

}  // namespace

void ReferenceCore::onRequest(SoupServer*, SoupServerMessage* message, const char*, GHashTable* query, void* self) {
  // Every connection ends with its answer: the server does not notice a client that closes an
  // idle kept-alive connection, and would hold each such socket half-closed for good.
  soup_message_headers_replace(soup_server_message_get_response_headers(message), "Connection", "close");
  Request request = readRequest(message, query);
  auto* core = static_cast<ReferenceCore*>(self);
  core->dispatch(request);
  if (request.path == "/__test/record") return;
  core->recorder.write({{"type", "request"},
                        {"method", request.method},
                        {"path", request.path},
                        {"query", request.query},
                        {"headers", request.headers},
                        {"body", textOrBytes(request.body)},
                        {"status", soup_server_message_get_status(message)}});
}

void ReferenceCore::dispatch(Request& request) {
  if (!request.pathValid) return respondDetail(request.message, 400, "Malformed path");
  const auto& s = request.segments;
  if (s.size() >= 2 && s[0] == "__test") {
    if (routeTestHarness(request)) return;
  }
  const auto scope = authorize(request);
  if (!scope) return;
  if (routeRuntime(request, *scope) || routeTasks(request, *scope) || routeAgentProfiles(request, *scope) ||
      routeTestAPI(request)) {
    return;
  }
  respondDetail(request.message, 404, "Not found");
}

std::optional<TokenScope> ReferenceCore::authorize(Request& request) {
  if (!verifier) {
    respondDetail(request.message, 401, "Runtime is not bootstrapped");
    return std::nullopt;
  }
  const auto authorization = request.header("Authorization");
  const auto token = authorization ? bearerToken(*authorization) : std::nullopt;
  TokenClaims claims;
  const TokenCheck result = token ? verifier->check(*token, &claims) : TokenCheck::missing;
  if (result == TokenCheck::accepted) return TokenScope::of(claims);
  respondDetail(request.message, 401, TokenVerifier::describe(result));
  return std::nullopt;
}

bool ReferenceCore::routeRuntime(Request& request, const TokenScope& scope) {
  const auto& s = request.segments;
  const std::string& method = request.method;
  if (s.size() == 1 && s[0] == "desktop-runtime") {
    if (method != "GET") return respondDetail(request.message, 405, "Method not allowed"), true;
    answerReadiness(request);
    return true;
  }
  if (s.size() == 1 && s[0] == "events") {
    if (method != "GET") return respondDetail(request.message, 405, "Method not allowed"), true;
    // A project's agent hears only of its own project.
    if (!events.open(request.message, scope.projectID(), !scope.isDesktop())) {
      respondDetail(request.message, 503, "Too many event streams");
    }
    return true;
  }
  if (s.size() == 2 && s[0] == "diagnostics" && s[1] == "error-events") {
    errorEventsRequest(request, scope);
    return true;
  }
  return false;
}

// Reports carry the project they concern; a project's agent reports for its own project only and
// reads only its project's reports.
void ReferenceCore::errorEventsRequest(Request& request, const TokenScope& scope) {
  if (request.method == "GET") {
    nlohmann::json visible = nlohmann::json::array();
    for (const auto& report : errorEvents) {
      if (scope.allowsProject(reportProject(report))) visible.push_back(report);
    }
    return respondJSON(request.message, 200, {{"events", visible}});
  }
  if (request.method != "POST") return respondDetail(request.message, 405, "Method not allowed");
  auto report = request.jsonObject();
  if (!report) return respondDetail(request.message, 422, "Expected a JSON object");
  if (!scope.isDesktop()) {
    if (report->contains("project_id") && !scope.allowsProject(reportProject(*report))) {
      return respondDetail(request.message, 403, "Token is not scoped to this project");
    }
    (*report)["project_id"] = *scope.projectID();
  }
  if (errorEvents.size() >= maximumErrorEvents) errorEvents.erase(errorEvents.begin());
  errorEvents.push_back(*report);
  events.push(std::string("error-event"), report->dump(), std::nullopt, EventAudience::of(reportProject(*report)));
  respondJSON(request.message, 202, {{"status", "recorded"}});
}

void ReferenceCore::answerReadiness(Request& request) {
  if (switches.notReadyWhile && access(switches.notReadyWhile->c_str(), F_OK) == 0) {
    return respondDetail(request.message, 503, "Core is starting");
  }
  if (switches.holdFirstProbeMilliseconds && !heldFirstProbe) {
    heldFirstProbe = true;
    return holdReadiness(request.message, *switches.holdFirstProbeMilliseconds);
  }
  const int64_t elapsedMs = (g_get_monotonic_time() - startedAt) / 1000;
  if (elapsedMs < switches.readyDelayMilliseconds) return respondDetail(request.message, 503, "Core is starting");
  sendReadiness(request.message);
}

// Keeps a readiness request waiting, then answers it as ready; with no time, for ever.
void ReferenceCore::holdReadiness(SoupServerMessage* message, int milliseconds) {
  soup_server_message_pause(message);
  struct Held {
    ReferenceCore* core;
    platform::GObjectPtr<SoupServerMessage> message;
    bool clientGone = false;
  };
  auto* held = new Held{this, platform::GObjectPtr<SoupServerMessage>(SOUP_SERVER_MESSAGE(g_object_ref(message)))};
  g_signal_connect(message, "finished", G_CALLBACK(+[](SoupServerMessage*, Held* h) { h->clientGone = true; }), held);
  if (milliseconds == 0) return;  // the core lives no longer than its process; nothing to free
  g_timeout_add(
      static_cast<guint>(milliseconds),
      +[](gpointer data) -> gboolean {
        auto* h = static_cast<Held*>(data);
        g_signal_handlers_disconnect_by_data(h->message.get(), h);
        if (!h->clientGone) {
          h->core->sendReadiness(h->message.get());
          soup_server_message_unpause(h->message.get());
        }
        delete h;
        return G_SOURCE_REMOVE;
      },
      held);
}

void ReferenceCore::sendReadiness(SoupServerMessage* message) {
  nlohmann::json answer = {
      {"kind", "zorvel-desktop"}, {"protocol_version", 3}, {"pid", getpid()}, {"runtime_id", runtimeID}};
  const std::string& kind = switches.probeKind;
  if (kind == "wrong-kind") answer["kind"] = "zorvel-server";
  if (kind == "wrong-version") answer["protocol_version"] = 2;
  if (kind == "string-version") answer["protocol_version"] = "3";
  if (kind == "no-pid") answer.erase("pid");
  if (kind == "wrong-pid") answer["pid"] = getpid() + 1;
  if (kind == "array") return respondJSON(message, 200, nlohmann::json::array({answer}));
  if (kind == "not-json") return respondBytes(message, 200, "text/plain", "ready");
  respondJSON(message, 200, answer);
  if (kind != "ok" || announcedReady) return;
  announcedReady = true;
  if (switches.exitAfterReadyMilliseconds) {
    // Leave the answer time to reach the application before going away.
    const guint delay = static_cast<guint>(std::max(*switches.exitAfterReadyMilliseconds, 50));
    g_timeout_add(
        delay,
        [](gpointer self) -> gboolean {
          std::fputs("zorvel-runner: exiting after becoming ready\n", stderr);
          static_cast<ReferenceCore*>(self)->quit(exitAfterReadyStatus);
          return G_SOURCE_REMOVE;
        },
        this);
  }
}

bool ReferenceCore::routeTasks(Request& request, const TokenScope& scope) {
  const auto& s = request.segments;
  if (s.empty() || s[0] != "tasks") return false;
  const std::string& method = request.method;
  if (s.size() == 1) {
    if (method == "GET") {
      nlohmann::json list = nlohmann::json::array();
      for (const Task* task : tasks.list()) {
        if (scope.allowsTask(task->id, task->projectID)) list.push_back(task->json());
      }
      respondJSON(request.message, 200, {{"tasks", list}});
    } else if (method == "POST") {
      createTask(request, scope);
    } else {
      respondDetail(request.message, 405, "Method not allowed");
    }
    return true;
  }
  if (s.size() == 2 && s[1] == "capture") {
    if (method != "POST") return respondDetail(request.message, 405, "Method not allowed"), true;
    captureTask(request, scope);
    return true;
  }
  if (s.size() > 3) return false;
  Task* task = isUUID(s[1]) ? tasks.find(lowercased(s[1])) : nullptr;
  if (!task) return respondDetail(request.message, 404, "Task not found"), true;
  if (!scope.allowsTask(task->id, task->projectID)) {
    return respondDetail(request.message, 403, "Token is not scoped to this task"), true;
  }
  taskRequest(request, *task, s.size() == 3 ? s[2] : std::string());
  return true;
}

void ReferenceCore::createTask(Request& request, const TokenScope& scope) {
  const auto body = request.jsonObject();
  if (!body || !body->contains("title") || !(*body)["title"].is_string()) {
    return respondDetail(request.message, 422, "\"title\" must be a string");
  }
  std::optional<std::string> projectID;
  if (body->contains("project_id") && !(*body)["project_id"].is_null()) {
    if (!(*body)["project_id"].is_string() || !isUUID((*body)["project_id"])) {
      return respondDetail(request.message, 422, "\"project_id\" must be a UUID");
    }
    projectID = lowercased((*body)["project_id"]);
  }
  // A project's agent makes tasks in its own project, also when it names none.
  if (!scope.isDesktop() && !projectID) projectID = scope.projectID();
  if (!scope.allowsCreating(projectID))
    return respondDetail(request.message, 403, "Token is not scoped to this project");
  nlohmann::json fields = *body;
  fields.erase("title");
  Task probe;
  if (auto error = TaskStore::update(probe, fields)) return respondDetail(request.message, 422, *error);
  Task* task = tasks.create((*body)["title"], projectID);
  if (!task) return respondDetail(request.message, 507, "Too many tasks");
  TaskStore::update(*task, fields);
  publishTask(*task);
  respondJSON(request.message, 201, task->json());
}

void ReferenceCore::captureTask(Request& request, const TokenScope& scope) {
  if (switches.captureStatus) return respondDetail(request.message, *switches.captureStatus, "Capture refused");
  const auto body = request.jsonObject();
  const bool valid = body && body->contains("content") && (*body)["content"].is_string() &&
                     body->contains("project_id") && (*body)["project_id"].is_string() && isUUID((*body)["project_id"]);
  if (!valid) return respondDetail(request.message, 422, "Expected \"content\" and a UUID \"project_id\"");
  if (!scope.allowsCreating(std::string((*body)["project_id"]))) {
    return respondDetail(request.message, 403, "Token is not scoped to this project");
  }
  const std::string content = (*body)["content"];
  platform::GCharPtr copy(g_strdup(content.c_str()));
  std::string title(g_strstrip(copy.get()));
  if (title.empty()) return respondDetail(request.message, 422, "\"content\" is empty");
  title = title.substr(0, title.find('\n'));
  Task* task = tasks.create(title, lowercased((*body)["project_id"]), content);
  if (!task) return respondDetail(request.message, 507, "Too many tasks");
  publishTask(*task);
  respondJSON(request.message, 201, task->json());
}

void ReferenceCore::taskRequest(Request& request, Task& task, const std::string& action) {
  const std::string& method = request.method;
  if (action.empty() && method == "GET") return respondJSON(request.message, 200, task.json());
  if (action.empty() && method == "PATCH") {
    const auto body = request.jsonObject();
    if (!body) return respondDetail(request.message, 422, "Expected a JSON object");
    if (auto error = TaskStore::update(task, *body)) return respondDetail(request.message, 422, *error);
    publishTask(task);
    return respondJSON(request.message, 200, task.json());
  }
  if (action == "stop" && method == "POST") {
    TaskStore::update(task, {{"status", "stopped"},
                             {"runtime_status", "stopped"},
                             {"turn_in_progress", false},
                             {"background_work_active", false}});
    publishTask(task);
    return respondJSON(request.message, 200, task.json());
  }
  if (action == "terminal-plan" && method == "POST") return terminalPlan(request, task);
  if (action.empty() || action == "stop" || action == "terminal-plan") {
    return respondDetail(request.message, 405, "Method not allowed");
  }
  respondDetail(request.message, 404, "Not found");
}

void ReferenceCore::terminalPlan(Request& request, Task& task) {
  const auto body = request.jsonObject();
  if (!body || !body->contains("agent") || !(*body)["agent"].is_string()) {
    return respondDetail(request.message, 422, "\"agent\" must be a string");
  }
  if (!body->contains("login") || !(*body)["login"].is_boolean()) {
    return respondDetail(request.message, 422, "\"login\" must be a boolean");
  }
  for (const char* key : {"model", "effort"}) {
    if (body->contains(key) && !(*body)[key].is_string()) {
      return respondDetail(request.message, 422, std::string("\"") + key + "\" must be a string");
    }
  }
  const char* home = std::getenv("HOME");
  std::error_code error;
  const std::string cwd = home && std::filesystem::is_directory(home, error) ? home : options.dataDirectory;
  // A task terminal runs this program with these arguments: it shows the task and hands over to a
  // shell. A login terminal runs the plan's own executable, this program's login stand-in.
  const bool login = (*body)["login"].get<bool>();
  nlohmann::json arguments = {login ? "agent-login" : "agent-terminal", task.id, terminalShell()};
  respondJSON(request.message, 200,
              {{"arguments", arguments}, {"cwd", cwd}, {"executable", login ? ownExecutable() : terminalShell()}});
}

std::string ReferenceCore::terminalShell() const {
  if (switches.terminalShell && isExecutable(*switches.terminalShell)) return *switches.terminalShell;
  if (const char* shell = std::getenv("SHELL"); shell && isExecutable(shell)) return shell;
  if (isExecutable("/bin/bash")) return "/bin/bash";
  return "/bin/sh";
}

bool ReferenceCore::routeAgentProfiles(Request& request, const TokenScope& scope) {
  const auto& s = request.segments;
  if (s.size() != 3 || s[0] != "agent-profiles" || s[2] != "login-plan") return false;
  if (!scope.isDesktop())
    return respondDetail(request.message, 403, "Only the application signs agent profiles in"), true;
  if (request.method != "POST") return respondDetail(request.message, 405, "Method not allowed"), true;
  if (!isProfileID(s[1])) return respondDetail(request.message, 404, "Agent profile not found"), true;
  respondJSON(request.message, 200,
              {{"arguments", {"profile-login", s[1]}}, {"cwd", nullptr}, {"executable", ownExecutable()}});
  return true;
}

void ReferenceCore::publishTask(const Task& task) {
  events.push(std::string("task-updated"), task.json().dump(), std::nullopt, EventAudience::of(task.projectID));
}

}  // namespace refcore
