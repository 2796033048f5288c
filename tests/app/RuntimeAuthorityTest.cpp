#include <gtest/gtest.h>

#include "app/RuntimeAuthority.h"
#include "app/URL.h"

using zorvel::DesktopRuntimeAuthority;

namespace {

nlohmann::json payloadOf(const std::string& token) {
  auto dot = token.find('.');
  auto bytes = zorvel::base64URLDecode(token.substr(0, dot));
  return nlohmann::json::parse(bytes.value());
}

std::string tokenIDOf(const std::string& token) { return payloadOf(token)["token_id"]; }

}  // namespace

TEST(RuntimeToken, KnownKeyAndClaimsGiveAKnownToken) {
  std::string key;
  for (int i = 1; i <= 32; ++i) key.push_back(static_cast<char>(i));
  nlohmann::json claims = {
      {"version", 1},          {"token_id", "99999999-8888-4777-8666-555555555555"},   {"task_id", "a/b"},
      {"session_id", nullptr}, {"runtime_id", "11111111-2222-4333-8444-555555555555"}, {"role", "project-agent"},
      {"report_id", nullptr},  {"project_id", "3f2b1c9e-0000-4000-8000-000000000001"}, {"access", "project"}};
  EXPECT_EQ(DesktopRuntimeAuthority::sign(claims, key),
            "eyJhY2Nlc3MiOiJwcm9qZWN0IiwicHJvamVjdF9pZCI6IjNmMmIxYzllLTAwMDAtNDAwMC04MDAwLTAwMDAwMDAwMDAw"
            "MSIsInJlcG9ydF9pZCI6bnVsbCwicm9sZSI6InByb2plY3QtYWdlbnQiLCJydW50aW1lX2lkIjoiMTExMTExMTEtMjIy"
            "Mi00MzMzLTg0NDQtNTU1NTU1NTU1NTU1Iiwic2Vzc2lvbl9pZCI6bnVsbCwidGFza19pZCI6ImEvYiIsInRva2VuX2lk"
            "IjoiOTk5OTk5OTktODg4OC00Nzc3LTg2NjYtNTU1NTU1NTU1NTU1IiwidmVyc2lvbiI6MX0."
            "iWoR0xzNuhbSS1_YUQB2OyQZtMNKmt1KrALzKTmAlqg");
}

TEST(RuntimeToken, IssuedTokensAreSignedUnderTheKeyWithEveryClaimPresent) {
  DesktopRuntimeAuthority authority;
  auto issued = authority.issueProject("3F2B1C9E-0000-4000-8000-000000000001", "core:42", "project", std::nullopt,
                                       std::nullopt, std::nullopt);
  auto dot = issued.token.find('.');
  ASSERT_NE(dot, std::string::npos);
  std::string mac = issued.token.substr(dot + 1);
  EXPECT_EQ(mac.size(), 43u);
  EXPECT_EQ(issued.token.find_first_of("=+/"), std::string::npos);
  auto payload = zorvel::base64URLDecode(issued.token.substr(0, dot)).value();
  EXPECT_EQ(zorvel::base64URLEncode(zorvel::hmacSHA256(authority.signingKey(), payload)), mac);

  auto claims = payloadOf(issued.token);
  EXPECT_EQ(claims.size(), 9u);
  EXPECT_TRUE(claims["task_id"].is_null());
  EXPECT_TRUE(claims["session_id"].is_null());
  EXPECT_TRUE(claims["report_id"].is_null());
  EXPECT_EQ(claims["role"], "project-agent");
  EXPECT_EQ(claims["runtime_id"], authority.runtimeID());
  EXPECT_EQ(claims["token_id"], issued.tokenID);
  EXPECT_EQ(claims["version"], 1);
  EXPECT_TRUE(zorvel::isUUID(authority.runtimeID()));
  EXPECT_EQ(authority.signingKey().size(), 32u);
  EXPECT_EQ(zorvel::base64Encode(authority.signingKey()).size(), 44u);

  auto again = authority.issueProject("3F2B1C9E-0000-4000-8000-000000000001", "core:42", "project", std::nullopt,
                                      std::nullopt, std::nullopt);
  EXPECT_NE(again.tokenID, issued.tokenID);
  EXPECT_NE(again.token, issued.token);
}

TEST(RuntimeAuthority, StartsWithTheDesktopTokenAlone) {
  DesktopRuntimeAuthority authority;
  EXPECT_EQ(authority.activeTokens(), std::vector<std::string>{authority.desktopToken()});
  auto claims = payloadOf(authority.desktopToken());
  EXPECT_EQ(claims["role"], "desktop");
  EXPECT_TRUE(claims["project_id"].is_null());
  EXPECT_EQ(authority.syncMessage(), (nlohmann::json{{"kind", "sync"}, {"active_tokens", {authority.desktopToken()}}}));
  // Two runs never share a key or identity.
  DesktopRuntimeAuthority other;
  EXPECT_NE(other.signingKey(), authority.signingKey());
  EXPECT_NE(other.runtimeID(), authority.runtimeID());
}

TEST(RuntimeAuthority, OwnersDecideWhatIsRevoked) {
  DesktopRuntimeAuthority authority;
  const std::string project = "3f2b1c9e-0000-4000-8000-000000000001";
  auto ofCore = authority.issueProject(project, "core:123", "project", {}, {}, {});
  auto ofOtherCore = authority.issueProject(project, "core:1234", "project", {}, {}, {});
  auto moved = authority.issueProject(project, "core:123", "read", {"t"}, {}, {});
  EXPECT_TRUE(authority.assign(moved.tokenID, "process:77"));
  EXPECT_FALSE(authority.assign("not-a-token", "process:77"));

  authority.revoke("core:123");
  auto tokens = authority.activeTokens();
  EXPECT_TRUE(std::is_sorted(tokens.begin(), tokens.end()));
  auto holds = [&](const std::string& token) { return std::find(tokens.begin(), tokens.end(), token) != tokens.end(); };
  EXPECT_FALSE(holds(ofCore.token));
  EXPECT_TRUE(holds(ofOtherCore.token));
  EXPECT_TRUE(holds(moved.token));  // its owner is now the process
  EXPECT_TRUE(holds(authority.desktopToken()));

  authority.revokeToken(moved.tokenID);
  authority.revokeToken("unknown");
  EXPECT_EQ(authority.activeTokens().size(), 2u);
  EXPECT_EQ(tokenIDOf(authority.activeTokens()[0]).size(), 36u);
}

TEST(Base64URL, RejectsForeignAlphabetAndRoundTrips) {
  for (std::string bytes : {"", "a", "ab", "abc", "\xff\xfe\xfd\xfc"}) {
    EXPECT_EQ(zorvel::base64URLDecode(zorvel::base64URLEncode(bytes)), bytes);
  }
  EXPECT_FALSE(zorvel::base64URLDecode("ab+c"));
  EXPECT_FALSE(zorvel::base64URLDecode("abc="));
  EXPECT_FALSE(zorvel::base64URLDecode("a"));
}
