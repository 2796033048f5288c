#include "app/EventStreamRequest.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

#include "app/ScriptMessageFields.h"

namespace zorvel {

namespace {

bool isLetterOrNumber(UChar32 c) {
  if (c == '-' || u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
  auto type = u_charType(c);
  return type == U_DECIMAL_DIGIT_NUMBER || type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

}  // namespace

bool EventStreamRequest::isValidStreamID(std::string_view id) {
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

std::optional<EventStreamRequest> EventStreamRequest::make(const nlohmann::json& message, const URL& baseURL,
                                                           const std::string& desktopToken) {
  auto id = ScriptMessageFields::string(message, "id");
  auto urlText = ScriptMessageFields::string(message, "url");
  if (!id || !isValidStreamID(*id) || !urlText) return std::nullopt;
  auto url = URL::parse(*urlText);
  if (!url || !url->hasSameOrigin(baseURL)) return std::nullopt;
  auto path = url->path();
  if (!path) return std::nullopt;
  if (path->size() > 1 && path->back() == '/') path->pop_back();
  if (*path != "/events") return std::nullopt;

  EventStreamRequest result;
  result.id = *id;
  result.request.url = *urlText;
  result.request.headers.emplace_back("Authorization", "Bearer " + desktopToken);
  if (auto last = ScriptMessageFields::string(message, "last_event_id");
      last && !last->empty() && last->find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos)
    result.request.headers.emplace_back("Last-Event-ID", *last);
  return result;
}

}  // namespace zorvel
