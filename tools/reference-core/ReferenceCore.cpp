#include "tools/reference-core/ReferenceCore.h"

#include <fcntl.h>
#include <glib.h>
#include <libsoup/soup.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/reference-core/Base64.h"

extern char** environ;

namespace refcore {

namespace {

constexpr guint parentCheckMilliseconds = 250;
constexpr size_t signingKeySize = 32;

std::optional<std::vector<std::string>> stringArray(const nlohmann::json& value) {
  if (!value.is_array()) return std::nullopt;
  std::vector<std::string> strings;
  for (const auto& item : value) {
    if (!item.is_string()) return std::nullopt;
    strings.push_back(item.get<std::string>());
  }
  return strings;
}

std::optional<std::string> stringField(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

}  // namespace

ReferenceCore::ReferenceCore(RunnerOptions options, TestSwitches switches, std::vector<std::string> arguments)
    : options(std::move(options)),
      switches(std::move(switches)),
      arguments(std::move(arguments)),
      recorder(this->switches.recordPath),
      control(STDIN_FILENO, STDOUT_FILENO) {}

ReferenceCore::~ReferenceCore() {
  // The server goes before the members its handlers use.
  if (server) soup_server_disconnect(server.get());
  server.reset();
  loop.reset();
}

int ReferenceCore::run() {
  // Writes to an application that has gone away must fail, not kill the core.
  signal(SIGPIPE, SIG_IGN);
  startedAt = g_get_monotonic_time();
  originalParent = getppid();
  loop.reset(g_main_loop_new(nullptr, FALSE));
  recordStart();
  g_mkdir_with_parents(options.dataDirectory.c_str(), 0700);
  if (!listen()) return 1;
  if (switches.childKeepsPort) startChildKeepingPort(*switches.childKeepsPort);
  if (switches.stallControl) control.stallAfterNextLine();
  control.start(
      g_main_context_default(), [this](std::string line) { handleControlLine(std::move(line)); }, [this] { quit(0); });
  g_timeout_add(parentCheckMilliseconds, &ReferenceCore::watchParent, this);
  g_main_loop_run(loop.get());
  return exitStatus;
}

bool ReferenceCore::listen() {
  server.reset(soup_server_new(nullptr, nullptr));
  soup_server_add_handler(server.get(), nullptr, reinterpret_cast<SoupServerCallback>(&ReferenceCore::onRequest), this,
                          nullptr);
  platform::GObjectPtr<GInetAddress> loopback(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
  platform::GObjectPtr<GSocketAddress> address(
      g_inet_socket_address_new(loopback.get(), static_cast<guint16>(options.port)));
  platform::GErrorPtr error;
  const bool listening =
      soup_server_listen(server.get(), address.get(), static_cast<SoupServerListenOptions>(0), platform::out(error));
  if (!listening) {
    std::fprintf(stderr, "zorvel-runner: cannot listen on 127.0.0.1:%d: %s\n", options.port,
                 error ? error->message : "unknown error");
    return false;
  }
  return true;
}

void ReferenceCore::startChildKeepingPort(const std::string& mode) {
  const pid_t child = fork();
  if (child == 0) {
    // Only calls that are safe in the child of a threaded process, until it is killed.
    if (mode == "own-group") setpgid(0, 0);
    if (mode == "own-session") setsid();
    const int null = open("/dev/null", O_RDWR);
    for (int stream = 0; stream <= 2; ++stream) dup2(null, stream);
    for (;;) pause();
  }
  if (child > 0) recorder.write({{"type", "child"}, {"pid", child}, {"mode", mode}});
}

void ReferenceCore::recordStart() {
  nlohmann::json environment = nlohmann::json::object();
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string text(*entry);
    const size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = text.substr(0, equals);
    if (name == "PATH" || name.rfind("ZORVEL_", 0) == 0) environment[name] = textOrBytes(text.substr(equals + 1));
  }
  recorder.write(
      {{"type", "start"}, {"argv", arguments}, {"env", environment}, {"pid", getpid()}, {"ppid", getppid()}});
}

void ReferenceCore::quit(int status) {
  exitStatus = status;
  g_main_loop_quit(loop.get());
}

int ReferenceCore::watchParent(void* self) {
  auto* core = static_cast<ReferenceCore*>(self);
  const bool parentGone = kill(core->options.parentPID, 0) != 0 && errno == ESRCH;
  if (parentGone || getppid() != core->originalParent) {
    core->quit(0);
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

void ReferenceCore::handleControlLine(std::string line) {
  recorder.write({{"type", "control"}, {"direction", "in"}, {"line", textOrBytes(line)}});
  const auto message = nlohmann::json::parse(line, nullptr, false);
  if (!message.is_object()) return;
  const auto kind = stringField(message, "kind");
  if (!kind) return;
  if (*kind == "bootstrap") {
    handleBootstrap(message);
  } else if (*kind == "sync") {
    handleSync(message);
  } else if (*kind == "issued" || *kind == "bound") {
    handleAnswer(message);
  }
}

void ReferenceCore::handleBootstrap(const nlohmann::json& message) {
  // The identity and key are fixed for the life of the core; a second bootstrap changes nothing.
  if (verifier) return;
  const auto runtime = stringField(message, "runtime_id");
  const auto encodedKey = stringField(message, "signing_key");
  const auto key = encodedKey ? base64Decode(*encodedKey) : std::nullopt;
  const auto active = message.contains("active_tokens") ? stringArray(message["active_tokens"]) : std::nullopt;
  if (!runtime || !key || key->size() != signingKeySize || !active) return;
  runtimeID = *runtime;
  verifier = std::make_unique<TokenVerifier>(*runtime, *key);
  verifier->setActiveTokens(*active);
  emitStartupControl();
}

void ReferenceCore::emitStartupControl() {
  if (!switches.emitControl || switches.emitControl->empty()) return;
  std::string lines = *switches.emitControl;
  if (lines.back() != '\n') lines += '\n';
  recorder.write({{"type", "control"}, {"direction", "out"}, {"line", textOrBytes(lines)}});
  control.sendRaw(lines);
}

void ReferenceCore::handleSync(const nlohmann::json& message) {
  const auto requestID = stringField(message, "request_id");
  const auto active = message.contains("active_tokens") ? stringArray(message["active_tokens"]) : std::nullopt;
  if (!verifier || !requestID || !active) return;
  verifier->setActiveTokens(*active);
  const nlohmann::json reply = {{"kind", "synced"}, {"request_id", *requestID}};
  recorder.write({{"type", "control"}, {"direction", "out"}, {"line", reply.dump()}});
  control.send(reply);
}

}  // namespace refcore
