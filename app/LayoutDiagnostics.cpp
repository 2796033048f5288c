#include "app/LayoutDiagnostics.h"

#include <charconv>

#include "app/LogFile.h"

namespace zorvel::LayoutDiagnostics {

std::string number(double value) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return "0.0";
  std::string text(buffer, end);
  if (text.find_first_of(".einn") == std::string::npos) text += ".0";
  return text;
}

std::string rectangle(double x, double y, double width, double height) {
  std::string text = "(";
  for (double part : {x, y, width, height}) {
    if (text.size() > 1) text += ", ";
    text += number(part);
  }
  text += ')';
  return text;
}

std::string timestamp(std::time_t moment) {
  std::tm utc{};
  gmtime_r(&moment, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

void append(const std::filesystem::path& file, const std::string& text, std::time_t moment) {
  std::string entry = timestamp(moment);
  entry += ' ';
  entry += text;
  entry += '\n';
  LogFile::appendLine(file, entry);
}

}  // namespace zorvel::LayoutDiagnostics
