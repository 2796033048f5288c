#pragma once

#include <functional>
#include <string>

namespace vantrelle {

// The locale that child programs are started in. It is always a UTF-8 one: en_US.UTF-8 where the
// system has that locale, otherwise C.UTF-8, which every current C library carries. A locale name
// that the system lacks would leave the child in plain ASCII.
const std::string& childLocale();

// The choice itself, with the test for a locale's presence given (tests pass their own).
std::string chooseChildLocale(const std::function<bool(const char*)>& isAvailable);

// Whether the C library can load the named locale.
bool localeIsAvailable(const char* name);

}  // namespace vantrelle
