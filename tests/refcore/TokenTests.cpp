#include <gtest/gtest.h>

#include "RunnerProcess.h"
#include "tools/reference-core/Base64.h"
#include "tools/reference-core/LineFramer.h"
#include "tools/reference-core/RunnerOptions.h"
#include "tools/reference-core/TokenVerifier.h"

using namespace refcore;

namespace {

const std::string runtime = "7e0c1d9a-2b1f-4c3e-8d5a-9f6e4b3a2c10";
const std::string key(32, '\x11');

std::string token(const std::string& id, const std::string& role = "desktop") {
  return signToken(key, tokenClaims(runtime, id, role));
}

}  // namespace

TEST(Base64, BothAlphabetsRoundTripAndMatchKnownText) {
  EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64Encode("\xfb\xff"), "+/8=");
  EXPECT_EQ(base64URLEncode("\xfb\xff"), "-_8");
  EXPECT_EQ(base64URLEncode(std::string(32, '\0')).size(), 43u);
  for (size_t size = 0; size < 40; ++size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) bytes += static_cast<char>(i * 37 + 11);
    EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
    EXPECT_EQ(base64URLDecode(base64URLEncode(bytes)), bytes);
  }
}

TEST(Base64, DecodersRefuseWhatNoEncoderWrites) {
  EXPECT_EQ(base64Decode("Zm9vYg="), std::nullopt);    // wrong length
  EXPECT_EQ(base64Decode("Zm9v YmFy"), std::nullopt);  // stray character
  EXPECT_EQ(base64Decode("-_8="), std::nullopt);       // URL alphabet in standard text
  EXPECT_EQ(base64URLDecode("+/8"), std::nullopt);     // standard alphabet in URL text
  EXPECT_EQ(base64URLDecode("Zm9vYg=="), std::nullopt);
  EXPECT_EQ(base64URLDecode("Zh"), std::nullopt);  // non-zero trailing bits
  EXPECT_EQ(base64URLDecode("Z"), std::nullopt);
}

TEST(TokenVerifier, AcceptsActiveTokensSignedWithTheRuntimeKey) {
  TokenVerifier verifier(runtime, key);
  const std::string desktop = token("11111111-1111-4111-8111-111111111111");
  verifier.setActiveTokens({desktop});
  TokenClaims claims;
  EXPECT_EQ(verifier.check(desktop, &claims), TokenCheck::accepted);
  EXPECT_EQ(claims.role, "desktop");
  EXPECT_EQ(claims.tokenID, "11111111-1111-4111-8111-111111111111");
  EXPECT_EQ(claims.projectID, std::nullopt);
}

TEST(TokenVerifier, RejectsEveryAlteredByteAndForeignTokens) {
  TokenVerifier verifier(runtime, key);
  const std::string good = token("22222222-2222-4222-8222-222222222222");
  verifier.setActiveTokens({good});
  for (size_t i = 0; i < good.size(); ++i) {
    if (good[i] == '.') continue;
    std::string changed = good;
    changed[i] = changed[i] == 'A' ? 'B' : 'A';
    EXPECT_NE(verifier.check(changed), TokenCheck::accepted) << "byte " << i;
  }
  EXPECT_EQ(verifier.check(signToken(std::string(32, '\x12'),
                                     tokenClaims(runtime, "22222222-2222-4222-8222-222222222222", "desktop"))),
            TokenCheck::badSignature);
  EXPECT_EQ(verifier.check(signToken(key, tokenClaims("other", "22222222-2222-4222-8222-222222222222", "desktop"))),
            TokenCheck::wrongRuntime);
  EXPECT_EQ(verifier.check(""), TokenCheck::missing);
  EXPECT_EQ(verifier.check(good + ".x"), TokenCheck::malformed);
  EXPECT_EQ(verifier.check(good + "="), TokenCheck::malformed);
  auto claims = tokenClaims(runtime, "33333333-3333-4333-8333-333333333333", "desktop");
  claims["version"] = 2;
  EXPECT_EQ(verifier.check(signToken(key, claims)), TokenCheck::malformed);
}

TEST(TokenVerifier, OnlyTheLatestActiveSetCounts) {
  TokenVerifier verifier(runtime, key);
  const std::string first = token("44444444-4444-4444-8444-444444444444");
  const std::string second = token("55555555-5555-4555-8555-555555555555", "project-agent");
  verifier.setActiveTokens({first, second, "forged.token"});
  EXPECT_EQ(verifier.activeTokenIDs().size(), 2u);
  verifier.setActiveTokens({second});
  EXPECT_EQ(verifier.check(first), TokenCheck::inactive);
  EXPECT_EQ(verifier.check(second), TokenCheck::accepted);
}

TEST(TokenVerifier, BearerHeaderForm) {
  EXPECT_EQ(bearerToken("Bearer abc.def"), "abc.def");
  EXPECT_EQ(bearerToken("bearer abc"), std::nullopt);
  EXPECT_EQ(bearerToken("Bearer "), std::nullopt);
  EXPECT_EQ(bearerToken("Basic abc"), std::nullopt);
}

TEST(LineFramer, SplitMergedAndOverlongLines) {
  LineFramer framer(16);
  std::vector<std::string> lines;
  auto collect = [&](std::string_view line) { lines.emplace_back(line); };
  framer.feed("{\"a\":", collect);
  framer.feed("1}\n{\"b\":2}\n{\"c\"", collect);
  EXPECT_EQ(lines, (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}"}));
  framer.feed(":3}\n\n", collect);
  EXPECT_EQ(lines.back(), "");
  EXPECT_EQ(lines[2], "{\"c\":3}");
  lines.clear();
  framer.feed(std::string(40, 'x'), collect);
  EXPECT_LE(framer.pendingSize(), 16u);
  framer.feed("yyy\nok\n", collect);
  EXPECT_EQ(lines, (std::vector<std::string>{"ok"}));
}

TEST(RunnerOptions, TheEightArgumentsAndNothingElse) {
  auto parsed = parseRunnerOptions(
      {"serve-desktop", "--data-dir", "/tmp/d", "--port", "7332", "--parent-pid", "42", "--auth-control"});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->dataDirectory, "/tmp/d");
  EXPECT_EQ(parsed.options->port, 7332);
  EXPECT_EQ(parsed.options->parentPID, 42);
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"serve"},
      {"serve-desktop", "--data-dir", "/d", "--port", "7332", "--parent-pid", "42"},
      {"serve-desktop", "--data-dir", "/d", "--port", "70000", "--parent-pid", "42", "--auth-control"},
      {"serve-desktop", "--data-dir", "/d", "--port", "12x", "--parent-pid", "42", "--auth-control"},
      {"serve-desktop", "--data-dir", "/d", "--port", "7332", "--parent-pid", "-1", "--auth-control"},
      {"serve-desktop", "--data-dir", "/d", "--port", "7332", "--parent-pid", "42", "--auth-control", "--extra"},
      {"serve-desktop", "--data-dir", "/d", "--port"},
  };
  for (const auto& arguments : bad)
    EXPECT_FALSE(parseRunnerOptions(arguments).options) << testing::PrintToString(arguments);
}
