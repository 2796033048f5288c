#include "app/CoreLaunch.h"

#include <cmath>

#include "app/RuntimeAuthority.h"

namespace zorvel {

namespace {

struct ProductVariable {
  const char* variable;
  const char* infoKey;
};

constexpr ProductVariable productVariables[] = {
    {"ZORVEL_PRODUCT_API_URL", "ZorvelProductAPIURL"},
    {"ZORVEL_UPDATE_PUBLIC_KEY", "ZorvelUpdatePublicKey"},
    {"ZORVEL_PRODUCT_API_KEY_ID", "ZorvelProductAPIKeyID"},
    {"ZORVEL_PRODUCT_API_SIGNING_KEY", "ZorvelProductAPISigningKey"},
};

std::optional<std::string> infoString(const nlohmann::json& info, const char* key) {
  auto found = info.find(key);
  if (found == info.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::vector<std::string> CoreLaunch::arguments(const std::string& dataDirectory, int port, pid_t parentPID) {
  return {"serve-desktop",           "--data-dir",    dataDirectory, "--port", std::to_string(port), "--parent-pid",
          std::to_string(parentPID), "--auth-control"};
}

std::map<std::string, std::string> CoreLaunch::environment(const std::map<std::string, std::string>& inherited,
                                                           const nlohmann::json& info, bool setupPreview,
                                                           const std::string& executableSearchPath) {
  auto environment = inherited;
  if (!setupPreview) {
    environment.erase("ZORVEL_PREVIEW_NO_LOCAL_AGENTS");
    environment.erase("ZORVEL_PREVIEW_ONLY_LOCAL_AGENT");
  }
  environment["PATH"] = executableSearchPath;
  auto isolated = inherited.find("ZORVEL_E2E_ISOLATED");
  bool takeInherited = isolated != inherited.end() && isolated->second == "1";
  std::map<std::string, std::string> taken;
  for (const auto& product : productVariables) {
    auto found = inherited.find(product.variable);
    if (takeInherited && found != inherited.end()) taken[product.variable] = found->second;
    environment.erase(product.variable);
  }
  for (const auto& product : productVariables) {
    std::optional<std::string> value;
    if (auto found = taken.find(product.variable); found != taken.end()) {
      value = found->second;
    } else {
      value = infoString(info, product.infoKey);
    }
    if (value && !value->empty()) environment[product.variable] = *value;
  }
  environment["ZORVEL_APP_VERSION"] = infoString(info, "CFBundleShortVersionString").value_or("0.0.0");
  environment["ZORVEL_APP_BUILD"] = infoString(info, "CFBundleVersion").value_or("0");
  environment["ZORVEL_DISTRIBUTION_CHANNEL"] = infoString(info, "ZorvelDistributionChannel").value_or("development");
  return environment;
}

nlohmann::json CoreLaunch::bootstrapMessage(const DesktopRuntimeAuthority& authority) {
  return {{"kind", "bootstrap"},
          {"runtime_id", authority.runtimeID()},
          {"signing_key", base64Encode(authority.signingKey())},
          {"active_tokens", authority.activeTokens()}};
}

bool CoreLaunch::isReadyAnswer(const std::string& body, std::optional<pid_t> corePID) {
  auto json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return false;
  auto kind = json.find("kind");
  if (kind == json.end() || !kind->is_string() || kind->get<std::string>() != "zorvel-desktop") {
    return false;
  }
  auto isInteger = [](const nlohmann::json& value, long long expected) {
    if (value.is_number_integer()) return value.get<long long>() == expected;
    if (value.is_number_float()) {
      double number = value.get<double>();
      return std::floor(number) == number && number == static_cast<double>(expected);
    }
    return false;
  };
  auto version = json.find("protocol_version");
  if (version == json.end() || !isInteger(*version, 3)) return false;
  if (!corePID) return true;
  auto pid = json.find("pid");
  return pid != json.end() && isInteger(*pid, *corePID);
}

int CoreLaunch::portOf(const std::string& baseURL) {
  auto colon = baseURL.rfind(':');
  auto scheme = baseURL.find("://");
  if (colon == std::string::npos || scheme == std::string::npos || colon <= scheme) {
    return defaultPort;
  }
  std::string digits = baseURL.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return defaultPort;
  }
  return std::stoi(digits);
}

std::string CoreLaunch::failureReason(const std::string& errorOutput) {
  size_t start = 0;
  size_t end = errorOutput.size();
  while (start < end && isTrimmed(errorOutput[start])) ++start;
  while (end > start && isTrimmed(errorOutput[end - 1])) --end;
  std::string reason = errorOutput.substr(start, end - start);
  return reason.empty() ? notReadyReason : reason;
}

void BoundedTail::append(std::string_view bytes) {
  if (bytes.size() >= limit) {
    tail.assign(bytes.substr(bytes.size() - limit));
    return;
  }
  size_t overflow = tail.size() + bytes.size() > limit ? tail.size() + bytes.size() - limit : 0;
  if (overflow) tail.erase(0, overflow);
  tail.append(bytes);
}

}  // namespace zorvel
