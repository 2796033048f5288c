// The application's token authority and the reference core's verifier must agree on the token
// format, or every request of a real run would be refused.
#include <gtest/gtest.h>

#include <chrono>

#include "RunnerProcess.h"
#include "app/RuntimeAuthority.h"
#include "tools/reference-core/Base64.h"
#include "tools/reference-core/TokenVerifier.h"

using refcore::TokenCheck;
using refcore::TokenVerifier;

TEST(AuthorityTokens, VerifierAcceptsWhatTheAuthoritySignsAndNothingAltered) {
  zorvel::DesktopRuntimeAuthority authority;
  const auto issued =
      authority.issueProject("0b5f1f6c-3c55-4a39-9a5e-6a0f2c7d9e11", "core:42", "project",
                             std::string("a1b2c3d4-0000-4000-8000-000000000001"), std::nullopt, std::nullopt);
  TokenVerifier verifier(authority.runtimeID(), authority.signingKey());
  verifier.setActiveTokens(authority.activeTokens());
  refcore::TokenClaims claims;
  ASSERT_EQ(verifier.check(authority.desktopToken(), &claims), TokenCheck::accepted);
  EXPECT_EQ(claims.role, "desktop");
  ASSERT_EQ(verifier.check(issued.token, &claims), TokenCheck::accepted);
  EXPECT_EQ(claims.tokenID, issued.tokenID);
  EXPECT_EQ(claims.role, "project-agent");
  EXPECT_EQ(claims.taskID, "a1b2c3d4-0000-4000-8000-000000000001");
  EXPECT_EQ(claims.sessionID, std::nullopt);

  std::string changed = issued.token;
  changed[changed.size() / 2] ^= 0x01;
  EXPECT_NE(verifier.check(changed), TokenCheck::accepted);

  authority.revokeToken(issued.tokenID);
  verifier.setActiveTokens(authority.activeTokens());
  EXPECT_EQ(verifier.check(issued.token), TokenCheck::inactive);
  EXPECT_EQ(verifier.check(authority.desktopToken()), TokenCheck::accepted);
}

TEST(AuthorityTokens, RunnerBootstrappedByTheAuthorityAcceptsItsDesktopToken) {
  zorvel::DesktopRuntimeAuthority authority;
  RunnerProcess runner;
  runner.bootstrap({{"kind", "bootstrap"},
                    {"runtime_id", authority.runtimeID()},
                    {"signing_key", refcore::base64Encode(authority.signingKey())},
                    {"active_tokens", authority.activeTokens()}});
  ASSERT_TRUE(runner.waitUntilListening());
  EXPECT_EQ(runner.request("GET", "/desktop-runtime", authority.desktopToken()).status, 200);
}
