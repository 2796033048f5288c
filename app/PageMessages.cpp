#include "app/PageMessages.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <memory>

#include "app/HTTPFields.h"
#include "app/ModalOverlay.h"
#include "app/WebMemoryProfiler.h"

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

bool isLetterOrNumber(UChar32 c) {
  if (c == '-' || u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
  auto type = u_charType(c);
  return type == U_DECIMAL_DIGIT_NUMBER || type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

// All of the page's fields or none: one value that is not text drops them all.
HTTPFields::Fields pageHeaders(const Json& body) {
  auto headers = F::object(body, "headers");
  if (!headers) return {};
  HTTPFields::Fields fields;
  for (const auto& [name, value] : headers->items()) {
    if (!value.is_string()) return {};
    const auto& text = value.get_ref<const std::string&>();
    if (HTTPFields::isToken(name) && HTTPFields::isFieldValue(text)) HTTPFields::set(fields, name, text);
  }
  return fields;
}

}  // namespace

std::optional<WebMemoryProfile> WebMemoryProfile::decode(const Json& body) {
  if (!WebMemoryProfiler::isWritable(body)) return std::nullopt;
  return WebMemoryProfile{body};
}

std::optional<Fetch> Fetch::decode(const Json& body) {
  auto id = F::string(body, "id");
  auto path = F::string(body, "path");
  if (!id || !path) return std::nullopt;
  auto method = F::string(body, "method").value_or("GET");
  return Fetch{*id, URL::parseReference(*path),
               HTTPFields::isToken(method) ? std::optional<std::string>(method) : std::nullopt, pageHeaders(body),
               F::string(body, "body").value_or("")};
}

bool EventStreamOpen::isValidStreamID(std::string_view id) {
  if (id.size() > 128 * 64) return false;  // far beyond 128 characters whatever they are
  auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(id.data(), static_cast<int32_t>(id.size())));
  if (text.indexOf(static_cast<UChar>(0xFFFD)) >= 0) return false;  // not valid UTF-8
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return false;
  characters->setText(text);
  int count = 0;
  for (int32_t start = characters->first(); start != icu::BreakIterator::DONE && start < text.length();
       start = characters->next()) {
    // A character is judged by its first code point, so a letter with combining marks counts.
    if (++count > 128 || !isLetterOrNumber(text.char32At(start))) return false;
  }
  return true;
}

std::optional<EventStreamOpen> EventStreamOpen::decode(const Json& body) {
  auto id = F::string(body, "id");
  auto text = F::string(body, "url");
  if (!id || !isValidStreamID(*id) || !text) return std::nullopt;
  auto url = URL::parse(*text);
  auto path = url ? url->path() : std::nullopt;
  if (!path) return std::nullopt;
  if (path->size() > 1 && path->back() == '/') path->pop_back();
  if (*path != "/events") return std::nullopt;
  auto last = F::string(body, "last_event_id");
  if (last && (last->empty() || !HTTPFields::isFieldValue(*last))) last.reset();
  return EventStreamOpen{*id, *url, last};
}

std::optional<ModalOverlayResult> ModalOverlayResult::decode(const Json& body) {
  auto generationValue = body.find("generation");
  if (!F::string(body, "request_id") || generationValue == body.end() || !generationValue->is_number())
    return std::nullopt;
  auto generation = F::integer(body, "generation");
  Json answer = body;
  answer.erase("kind");
  auto text = ModalOverlay::serialized(answer);
  if (!generation || !text) return std::nullopt;
  return ModalOverlayResult{*generation, *text};
}

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
