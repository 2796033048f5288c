#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zorvel {

// Field readings of page messages. The page's values are converted by the web engine, where a
// JavaScript boolean counts as a number; anything of another shape reads as missing.
namespace ScriptMessageFields {

std::optional<std::string> string(const nlohmann::json& body, const char* key);
// A number or boolean, fractional part dropped.
std::optional<std::int64_t> integer(const nlohmann::json& body, const char* key);
std::optional<double> number(const nlohmann::json& body, const char* key);
std::optional<nlohmann::json> object(const nlohmann::json& body, const char* key);
// Only values that convert without loss: integral numbers (booleans as 0 and 1).
std::optional<std::int64_t> exactInteger(const nlohmann::json& body, const char* key);
// Only true, false, 0 and 1.
std::optional<bool> exactBool(const nlohmann::json& body, const char* key);

}  // namespace ScriptMessageFields

}  // namespace zorvel
