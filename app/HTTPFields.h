#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvel {

// The syntax of HTTP header fields, for what the page asks to send: a field the page could break
// with a line break or NUL would let it forge further fields.
namespace HTTPFields {

using Fields = std::vector<std::pair<std::string, std::string>>;

bool equalsIgnoringCase(std::string_view a, std::string_view b);
// An RFC 9110 token: a method or a field name.
bool isToken(std::string_view text);
bool isFieldValue(std::string_view text);
// Whether a browser keeps a page from setting this request field: those that frame the message or
// steer the connection, say who sends it or what it carries in cookies, belong to a proxy or to the
// browser itself (Proxy-, Sec-), or override the method with one no page may send.
bool isForbiddenRequestField(std::string_view name, std::string_view value);
// Whether a browser refuses a page's request with this method: CONNECT, TRACE and TRACK, whatever
// their case, which would turn the core's connection into a tunnel or echo the desktop's token back.
bool isForbiddenMethod(std::string_view method);
// Sets the field, replacing every one of the same name in any case.
void set(Fields& fields, const std::string& name, const std::string& value);

}  // namespace HTTPFields

}  // namespace zorvel
