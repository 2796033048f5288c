#include "tools/reference-core/TokenVerifier.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <nlohmann/json.hpp>

#include "tools/reference-core/Base64.h"

namespace refcore {

namespace {

constexpr size_t maximumTokenSize = 8192;
constexpr size_t macSize = 32;

std::optional<std::string> optionalString(const nlohmann::json& claims, const char* key) {
  const auto found = claims.find(key);
  if (found == claims.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

}  // namespace

TokenVerifier::TokenVerifier(std::string runtimeID, std::string signingKey)
    : runtimeID(std::move(runtimeID)), signingKey(std::move(signingKey)) {}

void TokenVerifier::setActiveTokens(const std::vector<std::string>& tokens) {
  std::set<std::string> ids;
  for (const auto& token : tokens) {
    if (auto claims = verify(token)) ids.insert(claims->tokenID);
  }
  activeIDs = std::move(ids);
}

std::optional<TokenClaims> TokenVerifier::verify(std::string_view token, TokenCheck* failure) const {
  auto fail = [&](TokenCheck reason) -> std::optional<TokenClaims> {
    if (failure) *failure = reason;
    return std::nullopt;
  };
  if (token.empty()) return fail(TokenCheck::missing);
  const size_t dot = token.find('.');
  if (token.size() > maximumTokenSize || dot == std::string_view::npos ||
      token.find('.', dot + 1) != std::string_view::npos) {
    return fail(TokenCheck::malformed);
  }
  const auto payload = base64URLDecode(token.substr(0, dot));
  const auto mac = base64URLDecode(token.substr(dot + 1));
  if (!payload || !mac || mac->size() != macSize) return fail(TokenCheck::malformed);

  unsigned char expected[EVP_MAX_MD_SIZE];
  unsigned int expectedSize = 0;
  if (!HMAC(EVP_sha256(), signingKey.data(), static_cast<int>(signingKey.size()),
            reinterpret_cast<const unsigned char*>(payload->data()), payload->size(), expected, &expectedSize) ||
      expectedSize != macSize || CRYPTO_memcmp(expected, mac->data(), macSize) != 0) {
    return fail(TokenCheck::badSignature);
  }

  const auto claims = nlohmann::json::parse(*payload, nullptr, false);
  if (!claims.is_object()) return fail(TokenCheck::malformed);
  const auto tokenID = optionalString(claims, "token_id");
  const auto role = optionalString(claims, "role");
  const auto runtime = optionalString(claims, "runtime_id");
  const auto version = claims.find("version");
  if (!tokenID || !role || version == claims.end() || !version->is_number_integer() || *version != 1) {
    return fail(TokenCheck::malformed);
  }
  if (runtime != runtimeID) return fail(TokenCheck::wrongRuntime);
  TokenClaims result;
  result.tokenID = *tokenID;
  result.role = *role;
  result.runtimeID = *runtime;
  result.access = optionalString(claims, "access").value_or("");
  result.projectID = optionalString(claims, "project_id");
  result.taskID = optionalString(claims, "task_id");
  result.sessionID = optionalString(claims, "session_id");
  result.reportID = optionalString(claims, "report_id");
  return result;
}

TokenCheck TokenVerifier::check(std::string_view token, TokenClaims* claims) const {
  TokenCheck failure = TokenCheck::malformed;
  auto verified = verify(token, &failure);
  if (!verified) return failure;
  if (!activeIDs.count(verified->tokenID)) return TokenCheck::inactive;
  if (claims) *claims = std::move(*verified);
  return TokenCheck::accepted;
}

const char* TokenVerifier::describe(TokenCheck result) {
  switch (result) {
    case TokenCheck::accepted:
      return "Token accepted";
    case TokenCheck::missing:
      return "Missing bearer token";
    case TokenCheck::malformed:
      return "Malformed token";
    case TokenCheck::badSignature:
      return "Invalid token signature";
    case TokenCheck::wrongRuntime:
      return "Token belongs to another runtime";
    case TokenCheck::inactive:
      return "Token is not active";
  }
  return "Invalid token";
}

std::optional<std::string_view> bearerToken(std::string_view authorization) {
  constexpr std::string_view prefix = "Bearer ";
  if (authorization.size() <= prefix.size() || authorization.substr(0, prefix.size()) != prefix) return std::nullopt;
  return authorization.substr(prefix.size());
}

}  // namespace refcore
