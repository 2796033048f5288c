#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

#include "app/ScriptMessageTarget.h"

namespace zorvel {

// Routes one script message of the page to the operation its "kind" names. A body that matches
// no kind is a task message. Nothing malformed is answered or logged: it is dropped.
class ScriptMessageDispatcher {
 public:
  static constexpr const char* handlerName = "zorvelTerminal";

  explicit ScriptMessageDispatcher(ScriptMessageTarget& target) : target(target) {}

  void dispatch(std::string_view name, const nlohmann::json& body, WebKitWebView* source);

  // Ids that end up in core URL paths must be UUIDs; profile ids a short run of safe characters.
  static bool isValidTaskMessage(const TaskMessage& message);
  static bool isValidProfileID(std::string_view id);

 private:
  enum class Outcome { handled, fallThrough };
  Outcome dispatchKind(std::string_view kind, const nlohmann::json& body, WebKitWebView* source);
  Outcome dispatchOverlayKind(std::string_view kind, const nlohmann::json& body);
  Outcome dispatchTerminalKind(std::string_view kind, const nlohmann::json& body);
  void dispatchTaskMessage(std::string_view name, const nlohmann::json& body);

  ScriptMessageTarget& target;
};

}  // namespace zorvel
