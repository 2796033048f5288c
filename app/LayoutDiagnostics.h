#pragma once

#include <ctime>
#include <filesystem>
#include <string>

namespace zorvel {

// The forms of development-only layout diagnostics and their file.
namespace LayoutDiagnostics {

// Shortest round-trip decimal with at least one fractional digit: 360 is "360.0".
std::string number(double value);
// "(x, y, width, height)".
std::string rectangle(double x, double y, double width, double height);
// "2026-03-01T09:15:02Z" in UTC.
std::string timestamp(std::time_t moment);
// Appends "<timestamp> <text>\n"; creates the file with the first line. Never fails its caller.
void append(const std::filesystem::path& file, const std::string& text, std::time_t moment);

}  // namespace LayoutDiagnostics

}  // namespace zorvel
