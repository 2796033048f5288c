// The command line's options and links, read before anything else runs.
#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLine, UnknownOptionsAreRefusedAndLinksKept) {
  struct Case {
    Arguments arguments;
    std::optional<std::string> refused;  // the option named in the refusal
    Arguments links;
  };
  const Case cases[] = {
      {{}, std::nullopt, {}},
      {{"zorvel://tasks/1/open", "zorvel://sessions/2"},
       std::nullopt,
       {"zorvel://tasks/1/open", "zorvel://sessions/2"}},
      {{"--bogus"}, "--bogus", {}},
      {{"zorvel://open", "-x"}, "-x", {"zorvel://open"}},
      // An unknown option is refused whatever else is asked for, an answer included.
      {{"--help", "--version=2"}, "--version=2", {}},
      {{"-"}, "-", {}},
      {{"--gapplication-service"}, "--gapplication-service", {}},
      // After "--" everything is a link, whatever it looks like.
      {{"--", "--bogus", "zorvel://open"}, std::nullopt, {"--bogus", "zorvel://open"}},
      {{"zorvel://a", "--", "--"}, std::nullopt, {"zorvel://a", "--"}},
      {{"-h", "--version"}, std::nullopt, {}},
  };
  for (const auto& [arguments, refused, links] : cases) {
    std::string shown;
    for (const auto& argument : arguments) shown += "'" + argument + "' ";
    const auto refusal = zorvel::CommandLine::unknownOption(arguments);
    if (refused) {
      ASSERT_TRUE(refusal) << shown;
      EXPECT_EQ(refusal->rfind("zorvel-desktop: Unknown option " + *refused + "\n", 0), 0u) << *refusal;
      EXPECT_NE(refusal->find("Usage:\n  zorvel-desktop [OPTION...] [LINK...]\n"), std::string::npos) << *refusal;
    } else {
      EXPECT_FALSE(refusal) << shown << *refusal;
      EXPECT_EQ(zorvel::CommandLine::links(arguments), links) << shown;
    }
  }
}

}  // namespace
