// A test's server port is never one the kernel may hand an outgoing connection meanwhile, wherever
// the machine put its ephemeral range.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/LoopbackPort.h"

namespace {

using testing::LoopbackPort;

TEST(LoopbackPort, APortIsTakenOutsideTheKernelsEphemeralRange) {
  struct Case {
    const char* range;
    std::vector<std::pair<int, int>> spans;
  };
  for (const auto& [range, spans] : std::initializer_list<Case>{
           {"32768\t60999\n", {{10000, 32767}, {61000, 65535}}},
           {"10000 40000", {{40001, 65535}}},
           {"1024 65000", {{65001, 65535}}},
           {"2000 65535", {{1024, 1999}}},
           {"1024 65535", {}},
           {"", {{10000, 65535}}},
       }) {
    std::vector<std::pair<int, int>> found;
    for (const auto& span : LoopbackPort::portsOutside(range)) found.emplace_back(span.first, span.last);
    EXPECT_EQ(found, spans) << range;
  }
  // A range that leaves ports above and below it: the ports are taken on either side, and the lock
  // of each keeps the next from taking it again.
  std::vector<LoopbackPort> held;
  for (int taken = 0; taken < 50; ++taken) {
    held.emplace_back("15000 50000");
    const int port = held.back().port();
    EXPECT_TRUE((port >= 10000 && port < 15000) || port > 50000) << port;
    for (size_t other = 0; other + 1 < held.size(); ++other) EXPECT_NE(held[other].port(), port);
  }
  EXPECT_THROW(LoopbackPort("1024 65535"), std::runtime_error);
}

}  // namespace
