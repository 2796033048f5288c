// What the program answers from a terminal, also one with no display and no session bus, as a
// packager's build machine or a remote shell has.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "tests/TemporaryFolder.h"
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

struct Outcome {
  int status = -1;
  std::string output, error;
};

// Runs the program to its end with the arguments, in the environment given or the test's own.
Outcome runProgram(const std::vector<std::string>& arguments,
                   std::optional<std::vector<std::string>> environment = std::nullopt) {
  platform::ChildProcess::Options options;
  options.executable = std::string(ZORVEL_BUNDLE_DIR) + "/bin/zorvel-desktop";
  options.arguments = arguments;
  options.environment = std::move(environment);
  options.input = platform::ChildProcess::Stream::null;
  options.output = options.error = platform::ChildProcess::Stream::pipe;
  auto process = platform::ChildProcess::launch(options, nullptr);
  if (!process) return {};
  // The answers are short: they fit the pipes while the program runs to its end.
  const bool ended = process->waitUntilExit(30s);
  if (!ended) process->kill();
  Outcome outcome;
  outcome.output = readAll(process->outputDescriptor());
  outcome.error = readAll(process->errorDescriptor());
  auto status = process->terminationStatus();
  if (ended && status && WIFEXITED(*status)) outcome.status = WEXITSTATUS(*status);
  return outcome;
}

const std::string usage = "Usage:\n  zorvel-desktop [OPTION...] [LINK...]\n";

// Refused before any display or session bus is looked for, so that a running instance never hears
// of it: there is no display here, and the bus is a socket of the test's that is never connected to.
TEST(CommandLine, AnUnknownOptionIsRefusedWithTheUsageBeforeAnyDisplayOrBus) {
  const testing::TemporaryFolder folder("zorvel-command-line");
  const std::string socketPath = (folder.path() / "bus").string();
  const int bus = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(bus, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(bus, 8), 0);
  const std::vector<std::string> environment{"HOME=/nonexistent", "PATH=/usr/bin:/bin",
                                             "DBUS_SESSION_BUS_ADDRESS=unix:path=" + socketPath};
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"zorvel://open", "-x"}, {"--help", "--bogus"}, {"--gapplication-app-id=other.id"}}) {
    auto outcome = runProgram(arguments, environment);
    EXPECT_EQ(outcome.status, 2) << arguments[0] << ": " << outcome.error;
    EXPECT_EQ(outcome.output, "") << arguments[0];
    EXPECT_NE(outcome.error.find("Unknown option"), std::string::npos) << arguments[0] << ": " << outcome.error;
    EXPECT_NE(outcome.error.find(usage), std::string::npos) << arguments[0] << ": " << outcome.error;
    EXPECT_EQ(outcome.error.find("display"), std::string::npos) << arguments[0] << ": " << outcome.error;
    const int connection = ::accept4(bus, nullptr, nullptr, SOCK_CLOEXEC);
    EXPECT_LT(connection, 0) << arguments[0] << " reached the session bus";
    if (connection >= 0) ::close(connection);
  }
  ::close(bus);
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
  struct Case {
    std::vector<std::string> arguments;
    std::string expected;
  };
  const Case cases[] = {
      {{"--help"}, usage}, {{"-h"}, "--version"}, {{"zorvel://open", "--version"}, "Zorvel 0.1.0 (build "}};
  for (const auto& [arguments, expected] : cases) {
    auto outcome = runProgram(arguments, std::vector<std::string>{"HOME=/nonexistent", "PATH=/usr/bin:/bin"});
    EXPECT_EQ(outcome.status, 0) << arguments[0] << ": " << outcome.error;
    EXPECT_NE(outcome.output.find(expected), std::string::npos) << arguments[0] << ": " << outcome.output;
    EXPECT_EQ(outcome.error, "") << arguments[0];
  }
}

}  // namespace command_line_e2e
