#include <gtest/gtest.h>

#include "app/WebBridge.h"

using namespace zorvel;

namespace {
WebBridge::Settings settings(const char* base, std::optional<std::string> channel) {
  return {*URL::parse(base), {"T", {}}, "/nonexistent", std::move(channel), std::nullopt};
}
}  // namespace

TEST(WebBridgeGlobals, BaseURLAndProfilingFlag) {
  auto development = std::make_shared<WebBridge>(settings("http://127.0.0.1:7332", "development"));
  EXPECT_EQ(development->globalsScript(),
            "window.__ZORVEL_BASE_URL__ = \"http://127.0.0.1:7332\"; window.__ZORVEL_MEMORY_PROFILING__ = true;");
  // Every web view made later gets the same text.
  EXPECT_EQ(development->globalsScript(), development->globalsScript());

  auto stable = std::make_shared<WebBridge>(settings("http://127.0.0.1:7332", "stable"));
  EXPECT_EQ(stable->globalsScript().substr(stable->globalsScript().size() - 6), "false;");
  auto unset = std::make_shared<WebBridge>(settings("http://127.0.0.1:7332", std::nullopt));
  EXPECT_NE(unset->globalsScript().find("PROFILING__ = false;"), std::string::npos);
}
