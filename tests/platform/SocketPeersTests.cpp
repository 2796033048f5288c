#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>

#include "TestHTTPServer.h"
#include "platform/ChildProcess.h"
#include "platform/SocketPeers.h"
#include "platform/URLSession.h"
#include "tests/Programs.h"

using platform::ChildProcess;
using platform::TCPEndpoint;
using namespace std::chrono_literals;

namespace {

struct Descriptor {
  int fd = -1;
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

TCPEndpoint endpointOf(const sockaddr_storage& address) {
  TCPEndpoint endpoint;
  endpoint.family = address.ss_family;
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    std::memcpy(endpoint.address.data(), &v4.sin_addr, 4);
    endpoint.port = ntohs(v4.sin_port);
  } else {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    std::memcpy(endpoint.address.data(), &v6.sin6_addr, 16);
    endpoint.port = ntohs(v6.sin6_port);
  }
  return endpoint;
}

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

// A numeric host ("127.0.0.1", "::1", "::") and port as a socket address.
SocketAddress socketAddress(const char* host, int port) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  SocketAddress address;
  if (::getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) != 0) return address;
  std::memcpy(&address.storage, found->ai_addr, found->ai_addrlen);
  address.length = found->ai_addrlen;
  ::freeaddrinfo(found);
  return address;
}

TCPEndpoint endOf(int fd, int (*name)(int, sockaddr*, socklen_t*)) {
  SocketAddress address;
  address.length = sizeof address.storage;
  name(fd, address.get(), &address.length);
  return endpointOf(address.storage);
}

// A listening socket of this process on the host and a free port; an IPv6 one takes IPv4 too.
int listenOn(const char* host) {
  SocketAddress address = socketAddress(host, 0);
  int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int no = 0;
  if (address.storage.ss_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  if (::bind(fd, address.get(), address.length) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A connection of this process to `host` and the port; its two ends.
struct Connection {
  Descriptor socket;
  TCPEndpoint local, remote;

  Connection(const char* host, int port) : socket(open(host, port)) {
    local = endOf(socket.fd, ::getsockname);
    remote = endOf(socket.fd, ::getpeername);
  }

  static int open(const char* host, int port) {
    SocketAddress address = socketAddress(host, port);
    int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd, address.get(), address.length), 0) << std::strerror(errno);
    return fd;
  }
};

// A program that listens on a free loopback port, says which, and keeps every connection it takes.
const char* listenerScript =
    "import socket\n"
    "s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(8)\n"
    "print(s.getsockname()[1], flush=True)\n"
    "kept = []\n"
    "while True: kept.append(s.accept()[0])\n";

struct ListenerProcess {
  std::shared_ptr<ChildProcess> process;
  int port = 0;

  explicit ListenerProcess(std::vector<std::string> runAs = {}) {
    for (const auto& program : {runAs.empty() ? std::string("python3") : runAs[0], std::string("python3")}) {
      testing::programs::require(program);
    }
    // Debian's python3, which another user may run: one found first on the PATH can lie in a home
    // of its own.
    std::vector<std::string> command = runAs;
    command.insert(command.end(), {"/usr/bin/python3", "-I", "-c", listenerScript});
    ChildProcess::Options options;
    options.executable = "/usr/bin/env";
    options.arguments = command;
    options.output = ChildProcess::Stream::pipe;
    process = ChildProcess::launch(options, nullptr);
    if (!process) return;
    std::string line;
    char c;
    while (::read(process->outputDescriptor(), &c, 1) == 1 && c != '\n') line += c;
    port = std::atoi(line.c_str());
  }
  ~ListenerProcess() {
    if (process) process->terminateAndReap(2s);
  }
};

}  // namespace

// Whoever holds the far end decides, on either family, whether or not the server has accepted the
// connection yet.
TEST(SocketPeers, AConnectionLeadsToTheProcessThatHoldsItsFarEnd) {
  struct Case {
    const char* listenHost;
    const char* connectHost;
  };
  for (auto item : {Case{"127.0.0.1", "127.0.0.1"}, Case{"::1", "::1"}, Case{"::", "127.0.0.1"}}) {
    Descriptor listener(listenOn(item.listenHost));
    ASSERT_GE(listener.fd, 0) << item.listenHost;
    Connection waiting(item.connectHost, endOf(listener.fd, ::getsockname).port);
    SCOPED_TRACE(std::string(item.listenHost) + " <- " + waiting.local.text());
    EXPECT_EQ(platform::refusalForServer(waiting.local, waiting.remote, ::getpid()), std::nullopt);

    Descriptor accepted(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_GE(accepted.fd, 0);
    EXPECT_EQ(platform::refusalForServer(waiting.local, waiting.remote, ::getpid()), std::nullopt);
  }
}

TEST(SocketPeers, AProcessOnlyAnswersForItselfAndWhatItStarted) {
  ListenerProcess child;
  ASSERT_GT(child.port, 0);
  Connection connection("127.0.0.1", child.port);
  EXPECT_EQ(platform::refusalForServer(connection.local, connection.remote, child.process->processIdentifier()),
            std::nullopt);
  EXPECT_EQ(platform::refusalForServer(connection.local, connection.remote, ::getpid()), std::nullopt)
      << "a process this one started is this one's";

  ChildProcess::Options options;
  options.executable = "/bin/sleep";
  options.arguments = {"30"};
  auto bystander = ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(bystander);
  auto refusal = platform::refusalForServer(connection.local, connection.remote, bystander->processIdentifier());
  ASSERT_TRUE(refusal);
  EXPECT_NE(refusal->find("is not held by process"), std::string::npos) << *refusal;
  EXPECT_TRUE(platform::refusalForServer(connection.local, connection.remote, 0));
  bystander->terminateAndReap(2s);
}

TEST(SocketPeers, AnotherUsersSocketIsRefusedEvenInsideTheProcessTree) {
  if (::geteuid() != 0) GTEST_SKIP() << "starting a listener of another user needs root";
  ListenerProcess other({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  ASSERT_GT(other.port, 0);
  Connection connection("127.0.0.1", other.port);
  auto refusal = platform::refusalForServer(connection.local, connection.remote, other.process->processIdentifier());
  ASSERT_TRUE(refusal);
  EXPECT_NE(refusal->find("belongs to another user"), std::string::npos) << *refusal;
}

// A request bound to a server process fails without a byte sent unless the server is that process.
TEST(SocketPeers, ARequestBoundToAServerProcessReachesNoOtherProcess) {
  TestHTTPServer server;
  auto send = [&](std::function<pid_t()> process) {
    platform::URLRequest request;
    request.url = server.url("/echo");
    request.headers = {{"Authorization", "Bearer secret"}};
    request.serverProcess = std::move(process);
    return platform::URLSession::shared().sendSynchronously(request);
  };
  ChildProcess::Options options;
  options.executable = "/bin/sleep";
  options.arguments = {"30"};
  auto bystander = ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(bystander);
  const pid_t other = bystander->processIdentifier();

  auto refused = send([other] { return other; });
  ASSERT_TRUE(refused.error);
  EXPECT_NE(refused.error->find("Refused to send the request"), std::string::npos) << *refused.error;
  auto none = send([] { return pid_t(0); });
  EXPECT_EQ(none.error, std::string(platform::URLSession::noServerProcess));
  EXPECT_EQ(server.echoesServed(), 0);

  auto sent = send([] { return ::getpid(); });
  EXPECT_FALSE(sent.error) << *sent.error;
  EXPECT_EQ(sent.status, 200);
  EXPECT_EQ(server.echoesServed(), 1);
  bystander->terminateAndReap(2s);
}
