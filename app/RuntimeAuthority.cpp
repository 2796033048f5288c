#include "app/RuntimeAuthority.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace zorvel {

namespace {

std::string randomBytes(size_t count) {
  std::string bytes(count, '\0');
  // Without a working random source no token would be safe to hand out.
  if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1) {
    throw std::runtime_error("no secure random source");
  }
  return bytes;
}

nlohmann::json optionalString(const std::optional<std::string>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

std::string makeUUID() {
  std::string bytes = randomBytes(16);
  bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);
  std::string text;
  text.reserve(36);
  static constexpr char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    auto byte = static_cast<unsigned char>(bytes[i]);
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 0x0F]);
  }
  return text;
}

std::string base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string base64URLEncode(std::string_view bytes) {
  std::string text = base64Encode(bytes);
  std::replace(text.begin(), text.end(), '+', '-');
  std::replace(text.begin(), text.end(), '/', '_');
  text.erase(std::remove(text.begin(), text.end(), '='), text.end());
  return text;
}

std::optional<std::string> base64URLDecode(std::string_view text) {
  std::string padded(text);
  for (char& c : padded) {
    if (c == '-')
      c = '+';
    else if (c == '_')
      c = '/';
    else if (c == '+' || c == '/' || c == '=')
      return std::nullopt;
  }
  if (padded.size() % 4 == 1) return std::nullopt;
  size_t padding = (4 - padded.size() % 4) % 4;
  padded.append(padding, '=');
  std::string out(padded.size() / 4 * 3, '\0');
  int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                               reinterpret_cast<const unsigned char*>(padded.data()), static_cast<int>(padded.size()));
  if (length < 0) return std::nullopt;
  out.resize(static_cast<size_t>(length) - padding);
  return out;
}

std::string hmacSHA256(std::string_view key, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
       data.size(), mac.data(), &length);
  return std::string(reinterpret_cast<const char*>(mac.data()), length);
}

std::string DesktopRuntimeAuthority::sign(const nlohmann::json& claims, const std::string& key) {
  // The JSON object keeps its keys sorted and leaves "/" unescaped, which is the byte form the
  // core recomputes the MAC over.
  std::string payload = claims.dump();
  return base64URLEncode(payload) + "." + base64URLEncode(hmacSHA256(key, payload));
}

DesktopRuntimeAuthority::DesktopRuntimeAuthority() : runtimeID_(makeUUID()), signingKey_(randomBytes(32)) {
  installDesktopToken();
}

DesktopRuntimeAuthority::DesktopRuntimeAuthority(std::string runtimeID, std::string signingKey)
    : runtimeID_(std::move(runtimeID)), signingKey_(std::move(signingKey)) {
  installDesktopToken();
}

void DesktopRuntimeAuthority::installDesktopToken() {
  std::string tokenID = makeUUID();
  nlohmann::json claims = {
      {"access", "project"}, {"project_id", nullptr},    {"report_id", nullptr},
      {"role", "desktop"},   {"runtime_id", runtimeID_}, {"session_id", nullptr},
      {"task_id", nullptr},  {"token_id", tokenID},      {"version", 1},
  };
  desktopToken_ = sign(claims, signingKey_);
  std::lock_guard guard(lock);
  active[tokenID] = ActiveToken{desktopToken_, "desktop"};
}

DesktopRuntimeAuthority::IssuedToken DesktopRuntimeAuthority::issueProject(const std::string& projectID,
                                                                           const std::string& owner,
                                                                           const std::string& access,
                                                                           const std::optional<std::string>& taskID,
                                                                           const std::optional<std::string>& sessionID,
                                                                           const std::optional<std::string>& reportID) {
  std::string tokenID = makeUUID();
  nlohmann::json claims = {
      {"access", access},
      {"project_id", projectID},
      {"report_id", optionalString(reportID)},
      {"role", "project-agent"},
      {"runtime_id", runtimeID_},
      {"session_id", optionalString(sessionID)},
      {"task_id", optionalString(taskID)},
      {"token_id", tokenID},
      {"version", 1},
  };
  std::string token = sign(claims, signingKey_);
  std::lock_guard guard(lock);
  active[tokenID] = ActiveToken{token, owner};
  return IssuedToken{token, tokenID};
}

bool DesktopRuntimeAuthority::assign(const std::string& tokenID, const std::string& owner) {
  std::lock_guard guard(lock);
  auto found = active.find(tokenID);
  if (found == active.end()) return false;
  found->second.owner = owner;
  return true;
}

void DesktopRuntimeAuthority::revoke(const std::string& owner) {
  std::lock_guard guard(lock);
  std::erase_if(active, [&](const auto& entry) { return entry.second.owner == owner; });
}

void DesktopRuntimeAuthority::revokeToken(const std::string& tokenID) {
  std::lock_guard guard(lock);
  active.erase(tokenID);
}

std::vector<std::string> DesktopRuntimeAuthority::activeTokens() const {
  std::vector<std::string> tokens;
  {
    std::lock_guard guard(lock);
    tokens.reserve(active.size());
    for (const auto& [id, entry] : active) tokens.push_back(entry.token);
  }
  std::sort(tokens.begin(), tokens.end());
  return tokens;
}

nlohmann::json DesktopRuntimeAuthority::syncMessage() const {
  return nlohmann::json{{"kind", "sync"}, {"active_tokens", activeTokens()}};
}

}  // namespace zorvel
