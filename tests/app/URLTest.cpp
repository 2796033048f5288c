#include <gtest/gtest.h>

#include "app/URL.h"

using namespace zorvel;

TEST(URL, ResolvesReferencesAgainstTheCoreBase) {
  auto base = URL::parse("http://127.0.0.1:7332");
  ASSERT_TRUE(base);
  struct Case {
    const char* reference;
    const char* expected;
  } cases[] = {
      {"/tasks?limit=5", "http://127.0.0.1:7332/tasks?limit=5"},
      {"tasks/1", "http://127.0.0.1:7332/tasks/1"},
      {"/a/../b/./c", "http://127.0.0.1:7332/b/c"},
      {"../../etc", "http://127.0.0.1:7332/etc"},
      {"//evil.example/x", "http://evil.example/x"},
      {"https://evil.example/y", "https://evil.example/y"},
      {"?q=1", "http://127.0.0.1:7332?q=1"},
  };
  for (const auto& c : cases) {
    auto resolved = base->resolving(c.reference);
    ASSERT_TRUE(resolved) << c.reference;
    EXPECT_EQ(resolved->string(), c.expected) << c.reference;
  }
  EXPECT_FALSE(base->resolving("/with space"));
  EXPECT_FALSE(base->resolving("/bad%zz"));
  EXPECT_FALSE(base->resolving("/caf\xc3\xa9"));
  EXPECT_FALSE(URL::parse("http://host:80x/"));
  EXPECT_FALSE(URL::parse("/relative"));
}

TEST(URL, ComponentsAndOrigin) {
  auto url = URL::parse("http://user@127.0.0.1:7332/ev%65nts/?a=b#f");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host(), "127.0.0.1");
  EXPECT_EQ(url->port(), 7332);
  EXPECT_EQ(url->path(), "/events/");
  EXPECT_EQ(url->query(), "a=b");
  EXPECT_FALSE(URL::parse("zorvel-ui://app")->port());
  EXPECT_EQ(URL::parse("http://[::1]:80/")->host(), "[::1]");
  EXPECT_FALSE(URL::parse("http://x/%00")->path());

  auto base = *URL::parse("http://127.0.0.1:7332");
  EXPECT_TRUE(base.hasSameOrigin(*URL::parse("http://127.0.0.1:7332/tasks")));
  EXPECT_FALSE(base.hasSameOrigin(*URL::parse("http://127.0.0.1:7333/tasks")));
  EXPECT_FALSE(base.hasSameOrigin(*URL::parse("http://localhost:7332/tasks")));
  EXPECT_FALSE(base.hasSameOrigin(*URL::parse("http://127.0.0.1/tasks")));
}

TEST(URL, PathSegmentsAndUUIDs) {
  EXPECT_EQ(percentEncodePathSegment("a/b?c d"), "a%2Fb%3Fc%20d");
  EXPECT_EQ(percentEncodePathSegment(".."), "%2E%2E");
  EXPECT_EQ(percentEncodePathSegment("ok-1_2.~"), "ok-1_2.~");
  EXPECT_TRUE(isUUID("0b7c6f1e-6a57-4d6f-9a4e-3f1f6D2B8C11"));
  EXPECT_FALSE(isUUID("0b7c6f1e-6a57-4d6f-9a4e-3f1f6d2b8c1"));
  EXPECT_FALSE(isUUID("../../../../../../../../../../../../x"));
  EXPECT_FALSE(isUUID("0b7c6f1e_6a57-4d6f-9a4e-3f1f6d2b8c11"));
}
