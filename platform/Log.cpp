#include "platform/Log.h"

#include <glib.h>

#include "platform/LogFormat.h"

namespace platform {

namespace {

GLogLevelFlags glibLevel(LogLevel level) {
  switch (level) {
    case LogLevel::debug:
      return G_LOG_LEVEL_DEBUG;
    case LogLevel::info:
      return G_LOG_LEVEL_INFO;
    case LogLevel::notice:
      return G_LOG_LEVEL_MESSAGE;
    // GLib's critical and error levels abort the process under common debug settings; a logged
    // fault must never do that, so both go out as warnings.
    case LogLevel::error:
    case LogLevel::fault:
      return G_LOG_LEVEL_WARNING;
  }
  return G_LOG_LEVEL_MESSAGE;
}

const char* levelName(LogLevel level) {
  switch (level) {
    case LogLevel::debug:
      return "debug";
    case LogLevel::info:
      return "info";
    case LogLevel::notice:
      return "notice";
    case LogLevel::error:
      return "error";
    case LogLevel::fault:
      return "fault";
  }
  return "notice";
}

}  // namespace

Logger::Logger(std::string subsystem, std::string category)
    : subsystemName(std::move(subsystem)), categoryName(std::move(category)) {}

#define ZORVEL_LOG_FORWARD(level)  \
  va_list arguments;               \
  va_start(arguments, format);     \
  write(level, format, arguments); \
  va_end(arguments)

void Logger::debug(const char* format, ...) const { ZORVEL_LOG_FORWARD(LogLevel::debug); }
void Logger::info(const char* format, ...) const { ZORVEL_LOG_FORWARD(LogLevel::info); }
void Logger::notice(const char* format, ...) const { ZORVEL_LOG_FORWARD(LogLevel::notice); }
void Logger::error(const char* format, ...) const { ZORVEL_LOG_FORWARD(LogLevel::error); }
void Logger::fault(const char* format, ...) const { ZORVEL_LOG_FORWARD(LogLevel::fault); }
void Logger::log(LogLevel level, const char* format, ...) const { ZORVEL_LOG_FORWARD(level); }

#undef ZORVEL_LOG_FORWARD

bool Logger::isEnabled(LogLevel level) const {
  return !g_log_writer_default_would_drop(glibLevel(level), subsystemName.c_str());
}

std::string Logger::format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = formatV(format, arguments);
  va_end(arguments);
  return text;
}

std::string Logger::formatV(const char* format, va_list arguments) { return formatLogMessage(format, arguments); }

void Logger::write(LogLevel level, const char* format, va_list arguments) const {
  if (!isEnabled(level)) return;
  const std::string message = "[" + categoryName + "] " + formatLogMessage(format, arguments);
  const GLogField fields[] = {
      {"MESSAGE", message.c_str(), -1},
      {"GLIB_DOMAIN", subsystemName.c_str(), -1},
      {"ZORVEL_CATEGORY", categoryName.c_str(), -1},
      {"ZORVEL_LEVEL", levelName(level), -1},
  };
  g_log_structured_array(glibLevel(level), fields, G_N_ELEMENTS(fields));
}

}  // namespace platform
