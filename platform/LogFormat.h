#pragma once
#include <cstdarg>
#include <string>

namespace platform {

// Formats a printf-style message with privacy markers ("%{public}s", "%{private}s", "%{bool}d").
// Each argument is read with the type its conversion names; "%n" is never honoured.
std::string formatLogMessage(const char* format, va_list arguments);

}  // namespace platform
