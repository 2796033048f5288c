#include "app/PageMessages.h"

#include <algorithm>
#include <array>

namespace zorvel::PageMessages {

namespace {

template <class Record>
constexpr bool hasKind = requires {
  Record::kind;
};

// The record of the variant whose kind is `kind`. A kind that matched but did not decode gives
// nothing, as an unknown kind does: the body goes on to the task-message path.
template <class Variant>
struct KindTable;

template <class... Records>
struct KindTable<std::variant<Records...>> {
  static std::optional<std::variant<Records...>> decode(std::string_view kind, const Json& body) {
    std::optional<std::variant<Records...>> found;
    (void)(decodeIf<Records>(kind, body, found) || ...);
    return found;
  }

  template <class Record>
  static bool decodeIf(std::string_view kind, const Json& body, std::optional<std::variant<Records...>>& found) {
    if constexpr (hasKind<Record>) {
      if (kind != Record::kind) return false;
      if (auto record = Record::decode(body)) found.emplace(std::in_place_type<Record>, std::move(*record));
      return true;
    } else {
      return false;
    }
  }
};

template <class... Records>
constexpr auto kindsOf(std::variant<Records...>*) {
  std::array<std::string_view, (0 + ... + (hasKind<Records> ? 1 : 0))> kinds{};
  std::size_t at = 0;
  (
      [&] {
        if constexpr (hasKind<Records>) kinds[at++] = Records::kind;
      }(),
      ...);
  return kinds;
}

constexpr bool kindsAreDistinct() {
  auto bridge = kindsOf(static_cast<BridgeMessage*>(nullptr));
  auto application = kindsOf(static_cast<ApplicationMessage*>(nullptr));
  std::array<std::string_view, bridge.size() + application.size()> all{};
  std::copy(bridge.begin(), bridge.end(), all.begin());
  std::copy(application.begin(), application.end(), all.begin() + bridge.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    for (std::size_t j = i + 1; j < all.size(); ++j) {
      if (all[i] == all[j]) return false;
    }
  }
  return true;
}

// Each body matches at most one kind, so the order of the records does not matter.
static_assert(kindsAreDistinct(), "two page message records share a kind");

}  // namespace

bool isValidProfileID(std::string_view id) {
  if (id.empty() || id.size() > 128) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

bool isValidTaskMessage(const TaskMessage& message) {
  if (!isUUID(message.taskID)) return false;
  return std::all_of(message.sessionIDs.begin(), message.sessionIDs.end(),
                     [](const std::string& id) { return isUUID(id); });
}

std::optional<PageMessage> decode(std::string_view name, const Json& body) {
  if (body.is_object()) {
    if (auto kind = F::string(body, "kind")) {
      if (auto message = KindTable<BridgeMessage>::decode(*kind, body)) return PageMessage(std::move(*message));
      if (auto message = KindTable<ApplicationMessage>::decode(*kind, body)) return PageMessage(std::move(*message));
    }
  }
  if (name != handlerName) return std::nullopt;
  if (!body.is_object() && !body.is_array()) return std::nullopt;
  auto task = TaskMessage::decode(body);
  if (!task || !isValidTaskMessage(*task)) return std::nullopt;
  return PageMessage(ApplicationMessage(std::in_place_type<TaskMessage>, std::move(*task)));
}

}  // namespace zorvel::PageMessages
