#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zorvel {

// The diagnostics files of the data directory. They hold what the page and the layout report,
// so they are private to the user and bounded: a file about to pass its limit is moved aside to
// "<name>.1" (replacing the one before) and a new one begins.
namespace LogFile {

constexpr std::uintmax_t maximumSize = 4 * 1024 * 1024;

// Appends one whole line (the caller's text ends with its line feed). Missing folders are made
// 0700 and a new file 0600; it appears with its first line or not at all. A line longer than
// the limit is dropped. Never fails its caller: a line that cannot be written is lost.
void appendLine(const std::filesystem::path& file, const std::string& line, std::uintmax_t limit = maximumSize);

}  // namespace LogFile

}  // namespace zorvel
