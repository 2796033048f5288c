#pragma once
// Logging by subsystem and category over GLib structured logging (the journal when there is one,
// standard error otherwise). Messages are printf-style; a conversion may carry a privacy marker:
// "%{public}s" shows the value, "%{private}s" hides it as "<private>", "%{bool}d" prints
// true/false. Unmarked conversions are shown.
#include <cstdarg>
#include <string>

namespace platform {

enum class LogLevel { debug, info, notice, error, fault };

class Logger {
 public:
  Logger(std::string subsystem, std::string category);

  void debug(const char* format, ...) const;
  void info(const char* format, ...) const;
  void notice(const char* format, ...) const;
  void error(const char* format, ...) const;
  void fault(const char* format, ...) const;
  void log(LogLevel level, const char* format, ...) const;

  // Whether records at this level reach an output: debug and info only when G_MESSAGES_DEBUG
  // names this subsystem (or "all"), as GLib's own writer decides.
  bool isEnabled(LogLevel level) const;

  const std::string& subsystem() const { return subsystemName; }
  const std::string& category() const { return categoryName; }

  // The message text a format and its arguments give, markers applied.
  static std::string format(const char* format, ...);
  static std::string formatV(const char* format, va_list arguments);

 private:
  void write(LogLevel level, const char* format, va_list arguments) const;

  std::string subsystemName;
  std::string categoryName;
};

}  // namespace platform
