#include "app/ScriptMessageFields.h"

#include <cmath>

#include "app/JSONFieldReader.h"

namespace zorvel::ScriptMessageFields {

namespace {
const nlohmann::json* member(const nlohmann::json& body, const char* key) {
  if (!body.is_object()) return nullptr;
  auto it = body.find(key);
  return it == body.end() ? nullptr : &*it;
}
}  // namespace

std::optional<std::string> string(const nlohmann::json& body, const char* key) {
  const auto* v = member(body, key);
  if (!v || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

std::optional<double> number(const nlohmann::json& body, const char* key) {
  const auto* v = member(body, key);
  if (!v) return std::nullopt;
  if (v->is_boolean()) return v->get<bool>() ? 1.0 : 0.0;
  if (!v->is_number()) return std::nullopt;
  double d = v->get<double>();
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<std::int64_t> integer(const nlohmann::json& body, const char* key) {
  auto d = number(body, key);
  // Out-of-range values would be undefined behaviour to convert; they cannot name a generation.
  if (!d || *d <= -9223372036854775808.0 || *d >= 9223372036854775808.0) return std::nullopt;
  return static_cast<std::int64_t>(std::trunc(*d));
}

std::optional<nlohmann::json> object(const nlohmann::json& body, const char* key) {
  const auto* v = member(body, key);
  if (!v || !v->is_object()) return std::nullopt;
  return *v;
}

std::optional<std::int64_t> exactInteger(const nlohmann::json& body, const char* key) {
  const auto* v = member(body, key);
  if (!v) return std::nullopt;
  if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
  return JSONFieldReader::readInteger(*v);
}

std::optional<bool> exactBool(const nlohmann::json& body, const char* key) {
  const auto* v = member(body, key);
  if (!v) return std::nullopt;
  if (v->is_boolean()) return v->get<bool>();
  auto i = JSONFieldReader::readInteger(*v);
  if (i == 0 || i == 1) return *i == 1;
  return std::nullopt;
}

}  // namespace zorvel::ScriptMessageFields
