#pragma once
// A loopback port for a server a test starts, reserved for as long as the test holds it.
//
// The port lies outside the kernel's ephemeral range, read from where the kernel keeps it (a
// machine may have moved it), so no outgoing connection of the machine and no other program's
// bind to port 0 is handed it between this check and the server's own bind: a port the kernel
// picked for us and that we let go of can be, and the server then fails to listen.
// Test processes running in parallel (other suites, other runs on the machine) could still both
// find one port free before either server binds it, the second server then failing to listen while
// the first answers in its place, so each port is also locked: by a socket named for it in the
// abstract namespace, which every process of the machine's network sees, as it sees the ports, and
// which the kernel lets go of when its holder ends, leaving no file.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testing {

class LoopbackPort {
 public:
  // The ports a test may take, given the kernel's ephemeral range as its file words it ("32768
  // 60999"): those above it and those below it, from 10000 up where that leaves any (the ports
  // below are where a machine's own services listen), else from 1024 up. Empty when the range
  // covers them all.
  struct Span {
    int first;
    int last;
  };
  static std::vector<Span> portsOutside(const std::string& ephemeralRange) {
    std::istringstream words(ephemeralRange);
    int low = 0, high = 0;
    if (!(words >> low >> high) || low > high) low = high = 0;  // unreadable: no range to keep off
    for (int floor : {10000, 1024}) {
      std::vector<Span> spans;
      if (low > floor) spans.push_back({floor, low - 1});
      if (high < 65535) spans.push_back({std::max(high + 1, floor), 65535});
      if (!spans.empty()) return spans;
    }
    return {};
  }

  static std::string ephemeralRange() {
    std::ifstream file("/proc/sys/net/ipv4/ip_local_port_range");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  // Throws std::runtime_error when no port is found.
  explicit LoopbackPort(const std::string& range = ephemeralRange()) {
    const std::vector<Span> spans = portsOutside(range);
    int ports = 0;
    for (const Span& span : spans) ports += span.last - span.first + 1;
    if (ports == 0) throw std::runtime_error("the kernel's ephemeral range leaves no port for a test's server");
    static std::mt19937 random(static_cast<unsigned>(::getpid()) * 7919u + static_cast<unsigned>(::time(nullptr)));
    for (int attempt = 0; attempt < 100; ++attempt) {
      int candidate = static_cast<int>(random() % static_cast<unsigned>(ports));
      for (const Span& span : spans) {
        if (candidate <= span.last - span.first) {
          candidate += span.first;
          break;
        }
        candidate -= span.last - span.first + 1;
      }
      const int held = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (held < 0) throw std::runtime_error("cannot make a port lock");
      const std::string name = "zorvel-test-port-" + std::to_string(candidate);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path + 1, name.data(), name.size());  // sun_path[0] stays 0: abstract
      const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (::bind(held, reinterpret_cast<sockaddr*>(&address), length) == 0 && bindable(candidate)) {
        number = candidate;
        lock = held;
        return;
      }
      ::close(held);
    }
    throw std::runtime_error("no free port");
  }
  ~LoopbackPort() {
    if (lock >= 0) ::close(lock);
  }
  LoopbackPort(LoopbackPort&& other) noexcept
      : number(std::exchange(other.number, 0)), lock(std::exchange(other.lock, -1)) {}
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;
  LoopbackPort& operator=(LoopbackPort&&) = delete;

  int port() const { return number; }

 private:
  static bool bindable(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
  }

  int number = 0;
  int lock = -1;
};

}  // namespace testing
