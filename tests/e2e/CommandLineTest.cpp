// What the program answers from a terminal, also one with no display and no session bus, as a
// packager's build machine or a remote shell has.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/e2e/DesktopHarness.h"

namespace command_line_e2e {

using namespace std::chrono_literals;

std::string readAll(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t got;
  while ((got = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
  return text;
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
  struct Case {
    std::vector<std::string> arguments;
    std::string expected;
  };
  const Case cases[] = {{{"--help"}, "Usage:\n  zorvel-desktop [OPTION...] [LINK...]\n"},
                        {{"-h"}, "--version"},
                        {{"zorvel://open", "--version"}, "Zorvel 0.1.0 (build "}};
  for (const auto& [arguments, expected] : cases) {
    platform::ChildProcess::Options options;
    options.executable = std::string(ZORVEL_BUNDLE_DIR) + "/bin/zorvel-desktop";
    options.arguments = arguments;
    options.environment = std::vector<std::string>{"HOME=/nonexistent", "PATH=/usr/bin:/bin"};
    options.input = platform::ChildProcess::Stream::null;
    options.output = options.error = platform::ChildProcess::Stream::pipe;
    auto process = platform::ChildProcess::launch(options, nullptr);
    ASSERT_TRUE(process);
    std::string output = readAll(process->outputDescriptor());
    std::string error = readAll(process->errorDescriptor());
    ASSERT_TRUE(process->waitUntilExit(30s));
    auto status = process->terminationStatus();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << arguments[0] << ": " << error;
    EXPECT_NE(output.find(expected), std::string::npos) << arguments[0] << ": " << output << error;
    EXPECT_EQ(error, "") << arguments[0];
  }
}

}  // namespace command_line_e2e
