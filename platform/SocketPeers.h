#pragma once
// Who is at the other end of a TCP connection within this machine. A loopback port belongs to
// whoever binds it first, any user of the machine among them, so before a request that carries
// credentials goes out, the socket that took the connection is looked up in the kernel's socket
// tables (sock_diag, an exact lookup rather than a read of every socket in /proc/net/tcp) and its
// holder among the processes' descriptors in /proc.
#include <sys/socket.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// One end of a TCP connection: an IPv4 address in the first four bytes, or an IPv6 address.
struct TCPEndpoint {
  sa_family_t family = AF_INET;
  std::array<std::uint8_t, 16> address{};
  std::uint16_t port = 0;

  static TCPEndpoint ipv4(std::uint32_t hostOrderAddress, std::uint16_t port);
  std::string text() const;
};

// Why the connection from `local` to `remote` must not carry what is meant for the process
// `server`, or nothing when it may: the socket at the far end must have been opened by the user
// this process runs as, and every socket listening where the connection went must be that user's
// and held by `server` or a process it started (directly or not). Blocks for a few system calls;
// fails closed when the kernel's tables cannot be read.
std::optional<std::string> refusalForServer(const TCPEndpoint& local, const TCPEndpoint& remote, pid_t server);

}  // namespace platform
