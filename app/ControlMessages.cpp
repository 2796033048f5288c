#include "app/ControlMessages.h"

#include <cmath>

#include "app/URL.h"

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

}  // namespace

void ControlLineReader::feed(std::string_view bytes, const std::function<void(nlohmann::json&&)>& onObject) {
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

}  // namespace zorvel
