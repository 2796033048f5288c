#include "app/ControlChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "app/RuntimeAuthority.h"
#include "app/URL.h"
#include "platform/ChildProcess.h"

namespace zorvel {

namespace {

std::optional<std::string> stringField(const nlohmann::json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// A process id must be a whole number that fits a positive process id; 0 and 1 would name the
// caller's group or init, and a fraction or a huge value must not be truncated into some
// unrelated process.
std::optional<pid_t> processIDField(const nlohmann::json& object) {
  auto found = object.find("pid");
  if (found == object.end() || !found->is_number()) return std::nullopt;
  long long value;
  if (found->is_number_integer()) {
    if (found->is_number_unsigned()) {
      auto unsignedValue = found->get<unsigned long long>();
      if (unsignedValue > 0x7FFFFFFFull) return std::nullopt;
      value = static_cast<long long>(unsignedValue);
    } else {
      value = found->get<long long>();
    }
  } else {
    double number = found->get<double>();
    if (!std::isfinite(number) || std::floor(number) != number) return std::nullopt;
    if (number < 2 || number > 2147483647.0) return std::nullopt;
    value = static_cast<long long>(number);
  }
  if (value < 2 || value > 0x7FFFFFFF) return std::nullopt;
  return static_cast<pid_t>(value);
}

// Writes all of a line, waiting a bounded time when the core is slow to read, so a core that
// stopped reading cannot block a writer (the main thread among them) for ever.
void writeAll(int fd, std::string_view bytes) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd entry{fd, POLLOUT, 0};
      ::poll(&entry, 1, static_cast<int>(left.count()));
      continue;
    }
    return;  // the core has gone; the line is simply not sent
  }
}

}  // namespace

void ControlLineReader::feed(std::string_view bytes,
                             const std::function<void(nlohmann::json&&)>& onObject) {
  while (!bytes.empty()) {
    size_t newline = bytes.find('\n');
    std::string_view piece = bytes.substr(0, newline);
    if (!discarding) {
      if (buffer.size() + piece.size() > lineLimit) {
        discarding = true;
        buffer.clear();
        buffer.shrink_to_fit();
      } else {
        buffer.append(piece);
      }
    }
    if (newline == std::string_view::npos) return;
    if (discarding) {
      discarding = false;
    } else {
      finishLine(onObject);
    }
    buffer.clear();
    bytes.remove_prefix(newline + 1);
  }
}

void ControlLineReader::finishLine(const std::function<void(nlohmann::json&&)>& onObject) {
  auto parsed = nlohmann::json::parse(buffer, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) return;
  onObject(std::move(parsed));
}

std::optional<ControlMessage> decodeControlMessage(const nlohmann::json& object) {
  auto kind = stringField(object, "kind");
  if (!kind) return std::nullopt;
  if (*kind == "synced") {
    auto requestID = stringField(object, "request_id");
    if (!requestID) return std::nullopt;
    return SyncedReply{*requestID};
  }
  if (*kind == "issue") {
    auto requestID = stringField(object, "request_id");
    auto projectID = stringField(object, "project_id");
    if (!requestID || !projectID || !isUUID(*projectID)) return std::nullopt;
    return IssueRequest{*requestID,
                        *projectID,
                        stringField(object, "access").value_or("project"),
                        stringField(object, "task_id"),
                        stringField(object, "session_id"),
                        stringField(object, "report_id")};
  }
  if (*kind == "revoke") {
    auto tokenID = stringField(object, "token_id");
    if (!tokenID) return std::nullopt;
    return RevokeRequest{*tokenID};
  }
  if (*kind == "bind") {
    auto requestID = stringField(object, "request_id");
    auto tokenID = stringField(object, "token_id");
    auto pid = processIDField(object);
    if (!requestID || !tokenID || !pid) return std::nullopt;
    return BindRequest{*requestID, *tokenID, *pid};
  }
  return std::nullopt;
}

std::string encodeControlLine(const nlohmann::json& message) {
  std::string compact = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  // A solidus only ever occurs inside strings in JSON text, so escaping every one is safe.
  std::string line;
  line.reserve(compact.size() + 8);
  for (char c : compact) {
    if (c == '/') line += '\\';
    line += c;
  }
  line += '\n';
  return line;
}

ControlChannel::ControlChannel(DesktopRuntimeAuthority& authority) : runtimeAuthority(authority) {}

void ControlChannel::writeControl(const nlohmann::json& message, const Handle& handle) {
  if (!handle || !message.is_object()) return;
  std::string line = encodeControlLine(message);
  std::lock_guard guard(controlWriteLock);
  int fd = handle->inputDescriptor();
  if (fd >= 0) writeAll(fd, line);
}

void ControlChannel::startControlReader(Handle process) {
  int fd = process ? process->outputDescriptor() : -1;
  if (fd < 0) return;
  // The reader blocks for the core's whole life, so it gets a thread of its own rather than a
  // slot of a shared pool.
  std::thread([weak = weak_from_this(), process = std::move(process), fd] {
    ControlLineReader reader;
    char chunk[16384];
    bool alive = true;
    while (alive) {
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      reader.feed(std::string_view(chunk, static_cast<size_t>(got)), [&](nlohmann::json&& object) {
        if (!alive) return;
        auto channel = weak.lock();
        if (!channel) {
          alive = false;
          return;
        }
        auto message = decodeControlMessage(object);
        if (!message) return;
        if (auto* synced = std::get_if<SyncedReply>(&*message)) {
          channel->acceptSynced(synced->requestID);
        } else {
          channel->handleControlMessage(*message, process);
        }
      });
    }
  }).detach();
}

void ControlChannel::handleControlMessage(const ControlMessage& message, const Handle& process) {
  if (!process) return;
  std::string corePID = std::to_string(process->processIdentifier());
  if (auto* issue = std::get_if<IssueRequest>(&message)) {
    auto issued = runtimeAuthority.issueProject(issue->projectID, "core:" + corePID, issue->access,
                                                issue->taskID, issue->sessionID, issue->reportID);
    writeControl({{"kind", "issued"}, {"request_id", issue->requestID}, {"token", issued.token}},
                 process);
  } else if (auto* revoke = std::get_if<RevokeRequest>(&message)) {
    runtimeAuthority.revokeToken(revoke->tokenID);
  } else if (auto* bind = std::get_if<BindRequest>(&message)) {
    if (!runtimeAuthority.assign(bind->tokenID, "process:" + std::to_string(bind->pid))) return;
    monitorAuthorizedProcess(bind->pid, bind->tokenID);
    writeControl({{"kind", "bound"}, {"request_id", bind->requestID}}, process);
  }
}

void ControlChannel::acceptSynced(const std::string& requestID) {
  std::lock_guard guard(controlSyncLock);
  // Only replies someone still waits for are kept; late or unsolicited ones would otherwise pile
  // up for the life of the process.
  if (!awaitedControlSyncs.count(requestID)) return;
  completedControlSyncs.insert(requestID);
  controlSyncCondition.notify_all();
}

size_t ControlChannel::pendingSyncCount() {
  std::lock_guard guard(controlSyncLock);
  return completedControlSyncs.size();
}

bool ControlChannel::syncAuthorization(double timeout, const Handle& coreControlInput) {
  if (!coreControlInput) return false;
  std::string requestID = makeUUID();
  nlohmann::json message = runtimeAuthority.syncMessage();
  message["request_id"] = requestID;
  {
    std::lock_guard guard(controlSyncLock);
    awaitedControlSyncs.insert(requestID);
  }
  writeControl(message, coreControlInput);
  std::unique_lock guard(controlSyncLock);
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(std::max(0.0, timeout)));
  controlSyncCondition.wait_until(guard, deadline,
                                  [&] { return completedControlSyncs.count(requestID) > 0; });
  bool synced = completedControlSyncs.erase(requestID) > 0;
  awaitedControlSyncs.erase(requestID);
  return synced;
}

void ControlChannel::monitorAuthorizedProcess(pid_t pid, const std::string& tokenID) {
  processWatcher.watch(pid, [weak = weak_from_this(), tokenID] {
    if (auto channel = weak.lock(); channel && channel->onAuthorizedProcessExit) {
      channel->onAuthorizedProcessExit(tokenID);
    }
  });
}

}  // namespace zorvel
