#include <gtest/gtest.h>

#include "app/CoreLaunch.h"
#include "app/RuntimeAuthority.h"

using zorvel::CoreLaunch;

namespace {

const nlohmann::json info = {{"ZorvelProductAPIURL", "https://info.example/api"},
                             {"ZorvelUpdatePublicKey", ""},
                             {"ZorvelProductAPIKeyID", "info-key"},
                             {"CFBundleShortVersionString", "1.2.3"}};

}  // namespace

TEST(CoreLaunch, ArgumentsAreTheEightInOrder) {
  EXPECT_EQ(CoreLaunch::arguments("/data dir", 7332, 4242),
            (std::vector<std::string>{"serve-desktop", "--data-dir", "/data dir", "--port", "7332", "--parent-pid",
                                      "4242", "--auth-control"}));
  EXPECT_EQ(CoreLaunch::portOf("http://127.0.0.1:8080"), 8080);
  EXPECT_EQ(CoreLaunch::portOf("http://127.0.0.1"), 7332);
}

TEST(CoreLaunch, EnvironmentTakesProductSettingsFromInfoUnlessIsolated) {
  std::map<std::string, std::string> inherited = {{"PATH", "/usr/bin"},
                                                  {"HOME", "/home/u"},
                                                  {"ZORVEL_PRODUCT_API_URL", "https://inherited.example"},
                                                  {"ZORVEL_PRODUCT_API_KEY_ID", ""},
                                                  {"ZORVEL_PRODUCT_API_SIGNING_KEY", "inherited-signing"},
                                                  {"ZORVEL_PREVIEW_NO_LOCAL_AGENTS", "1"},
                                                  {"ZORVEL_PREVIEW_ONLY_LOCAL_AGENT", "codex"}};
  auto regular = CoreLaunch::environment(inherited, info, false, "/a:/b");
  EXPECT_EQ(regular["PATH"], "/a:/b");
  EXPECT_EQ(regular["HOME"], "/home/u");
  EXPECT_EQ(regular["ZORVEL_PRODUCT_API_URL"], "https://info.example/api");
  EXPECT_EQ(regular["ZORVEL_PRODUCT_API_KEY_ID"], "info-key");
  EXPECT_EQ(regular.count("ZORVEL_UPDATE_PUBLIC_KEY"), 0u);  // empty in Info: left unset
  EXPECT_EQ(regular.count("ZORVEL_PRODUCT_API_SIGNING_KEY"), 0u);
  EXPECT_EQ(regular.count("ZORVEL_PREVIEW_NO_LOCAL_AGENTS"), 0u);
  EXPECT_EQ(regular.count("ZORVEL_PREVIEW_ONLY_LOCAL_AGENT"), 0u);
  EXPECT_EQ(regular["ZORVEL_APP_VERSION"], "1.2.3");
  EXPECT_EQ(regular["ZORVEL_APP_BUILD"], "0");
  EXPECT_EQ(regular["ZORVEL_DISTRIBUTION_CHANNEL"], "development");

  inherited["ZORVEL_E2E_ISOLATED"] = "1";
  auto isolated = CoreLaunch::environment(inherited, info, true, "/a");
  EXPECT_EQ(isolated["ZORVEL_PRODUCT_API_URL"], "https://inherited.example");
  EXPECT_EQ(isolated.count("ZORVEL_PRODUCT_API_KEY_ID"), 0u);  // inherited empty wins over Info
  EXPECT_EQ(isolated["ZORVEL_PRODUCT_API_SIGNING_KEY"], "inherited-signing");
  EXPECT_EQ(isolated["ZORVEL_E2E_ISOLATED"], "1");
  EXPECT_EQ(isolated["ZORVEL_PREVIEW_NO_LOCAL_AGENTS"], "1");
  EXPECT_EQ(isolated["ZORVEL_PREVIEW_ONLY_LOCAL_AGENT"], "codex");

  inherited["ZORVEL_E2E_ISOLATED"] = "true";
  EXPECT_EQ(CoreLaunch::environment(inherited, info, false, "")["ZORVEL_PRODUCT_API_URL"], "https://info.example/api");
}

TEST(CoreLaunch, ReadinessNeedsKindVersionAndTheCoresOwnPid) {
  EXPECT_TRUE(CoreLaunch::isReadyAnswer(R"({"kind":"zorvel-desktop","protocol_version":3,"pid":77})", 77));
  EXPECT_TRUE(CoreLaunch::isReadyAnswer(R"({"kind":"zorvel-desktop","protocol_version":3.0,"pid":77})", 77));
  EXPECT_TRUE(CoreLaunch::isReadyAnswer(R"({"kind":"zorvel-desktop","protocol_version":3})", std::nullopt));
  for (const char* body :
       {R"({"kind":"zorvel-desktop","protocol_version":3})",
        R"({"kind":"zorvel-desktop","protocol_version":3,"pid":78})",
        R"({"kind":"zorvel-desktop","protocol_version":3,"pid":"77"})",
        R"({"kind":"zorvel-desktop","protocol_version":"3","pid":77})",
        R"({"kind":"zorvel-desktop","protocol_version":2,"pid":77})",
        R"({"kind":"zorvel","protocol_version":3,"pid":77})",
        R"([{"kind":"zorvel-desktop","protocol_version":3,"pid":77}])", "", "{\"detail\":\"Unauthorized\"}"}) {
    EXPECT_FALSE(CoreLaunch::isReadyAnswer(body, 77)) << body;
  }
}

TEST(CoreLaunch, BootstrapCarriesIdentityKeyAndActiveTokens) {
  zorvel::DesktopRuntimeAuthority authority;
  auto message = CoreLaunch::bootstrapMessage(authority);
  EXPECT_EQ(message.size(), 4u);
  EXPECT_EQ(message["kind"], "bootstrap");
  EXPECT_EQ(message["runtime_id"], authority.runtimeID());
  EXPECT_EQ(message["signing_key"], zorvel::base64Encode(authority.signingKey()));
  EXPECT_EQ(message["active_tokens"], authority.activeTokens());
}

TEST(CoreLaunch, FailureTextIsTheTrimmedTailOfTheErrorOutput) {
  EXPECT_EQ(CoreLaunch::failureReason("\n  port 7332 is in use \r\n"), "port 7332 is in use");
  EXPECT_EQ(CoreLaunch::failureReason(" \n\t"), "Core did not become ready");
  zorvel::BoundedTail tail(8);
  tail.append("0123");
  tail.append("456789");
  EXPECT_EQ(tail.text(), "23456789");
  tail.append(std::string(100, 'x') + "end");
  EXPECT_EQ(tail.text(), "xxxxxend");
}
