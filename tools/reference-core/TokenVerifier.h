#pragma once
// Checks the runtime tokens the application signs: "<payload>.<mac>", both unpadded base64url,
// the payload being the JSON claims and the MAC their HMAC-SHA256 under the runtime key. A token
// is accepted when its MAC is right, its claims name this runtime, and its id is in the latest
// active set the application sent.
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace refcore {

struct TokenClaims {
  std::string tokenID;
  std::string role;
  std::string runtimeID;
  std::string access;
  std::optional<std::string> projectID;
  std::optional<std::string> taskID;
  std::optional<std::string> sessionID;
  std::optional<std::string> reportID;
};

enum class TokenCheck { accepted, missing, malformed, badSignature, wrongRuntime, inactive };

class TokenVerifier {
 public:
  TokenVerifier(std::string runtimeID, std::string signingKey);

  // Replaces the active set. Tokens in it that do not verify are left out.
  void setActiveTokens(const std::vector<std::string>& tokens);
  const std::set<std::string>& activeTokenIDs() const { return activeIDs; }

  // The claims of a token whose MAC and runtime are right, active or not.
  std::optional<TokenClaims> verify(std::string_view token, TokenCheck* failure = nullptr) const;
  TokenCheck check(std::string_view token, TokenClaims* claims = nullptr) const;

  static const char* describe(TokenCheck result);

 private:
  std::string runtimeID;
  std::string signingKey;
  std::set<std::string> activeIDs;
};

// The bearer token of an "Authorization" header value, if it has the "Bearer " form.
std::optional<std::string_view> bearerToken(std::string_view authorization);

}  // namespace refcore
