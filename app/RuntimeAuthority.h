#pragma once

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zorvel {

// The token authority of one run: a runtime id, a per-run signing key and the set of tokens that
// are currently valid, each with its owner. The application only signs; the core checks tokens
// against the key and the active set it is told about.
class DesktopRuntimeAuthority {
 public:
  struct IssuedToken {
    std::string token;
    std::string tokenID;
  };

  DesktopRuntimeAuthority();
  // Tests and tools pin the identity to get reproducible tokens.
  DesktopRuntimeAuthority(std::string runtimeID, std::string signingKey);

  DesktopRuntimeAuthority(const DesktopRuntimeAuthority&) = delete;
  DesktopRuntimeAuthority& operator=(const DesktopRuntimeAuthority&) = delete;

  const std::string& runtimeID() const { return runtimeID_; }
  const std::string& signingKey() const { return signingKey_; }  // 32 raw bytes
  const std::string& desktopToken() const { return desktopToken_; }

  IssuedToken issueProject(const std::string& projectID, const std::string& owner, const std::string& access,
                           const std::optional<std::string>& taskID, const std::optional<std::string>& sessionID,
                           const std::optional<std::string>& reportID);
  bool assign(const std::string& tokenID, const std::string& owner);
  void revoke(const std::string& owner);
  void revokeToken(const std::string& tokenID);
  std::vector<std::string> activeTokens() const;
  nlohmann::json syncMessage() const;

  // The token text for a claims object under a key: payload "." MAC, both unpadded base64url.
  static std::string sign(const nlohmann::json& claims, const std::string& key);

 private:
  struct ActiveToken {
    std::string token;
    std::string owner;
  };

  void installDesktopToken();

  std::string runtimeID_;
  std::string signingKey_;
  std::string desktopToken_;
  std::map<std::string, ActiveToken> active;
  mutable std::mutex lock;
};

// Fresh random version-4 UUID in lower case, 36 characters.
std::string makeUUID();

std::string base64Encode(std::string_view bytes);
std::string base64URLEncode(std::string_view bytes);
std::optional<std::string> base64URLDecode(std::string_view text);
std::string hmacSHA256(std::string_view key, std::string_view data);

}  // namespace zorvel
