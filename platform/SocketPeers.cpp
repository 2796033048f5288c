#include "platform/SocketPeers.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/ProcStat.h"

namespace platform {

namespace {

// A server's process tree is walked this far at most.
constexpr std::size_t maximumProcesses = 4096;

struct SocketRecord {
  std::uint8_t state = 0;
  uid_t owner = 0;
  ino_t inode = 0;  // 0 for a socket no process has accepted yet
  // Names one socket for as long as the machine runs: unlike the inode number, which comes from a
  // counter that wraps, the kernel never hands it out twice.
  std::uint64_t cookie = 0;
  bool v6Only = false;
  TCPEndpoint local;
};

// An IPv4 address written as an IPv6 one (::ffff:a.b.c.d) is taken as the IPv4 address.
TCPEndpoint plain(TCPEndpoint endpoint) {
  static constexpr std::uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (endpoint.family == AF_INET6 && std::memcmp(endpoint.address.data(), mappedPrefix, 12) == 0) {
    std::array<std::uint8_t, 16> v4{};
    std::copy_n(endpoint.address.begin() + 12, 4, v4.begin());
    endpoint = {AF_INET, v4, endpoint.port};
  }
  return endpoint;
}

std::size_t addressSize(sa_family_t family) { return family == AF_INET ? 4 : 16; }

bool isAnyAddress(const TCPEndpoint& endpoint) {
  auto size = addressSize(endpoint.family);
  return std::all_of(endpoint.address.begin(), endpoint.address.begin() + size, [](auto byte) { return byte == 0; });
}

bool sameAddress(const TCPEndpoint& a, const TCPEndpoint& b) {
  return a.family == b.family && std::memcmp(a.address.data(), b.address.data(), addressSize(a.family)) == 0;
}

// The kernel's socket tables over a netlink socket of this thread's own.
class SocketTables {
 public:
  SocketTables() : fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {
    // The kernel answers at once; a stall must not hold up the caller for good.
    timeval wait{1, 0};
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~SocketTables() {
    if (fd >= 0) ::close(fd);
  }
  SocketTables(const SocketTables&) = delete;
  SocketTables& operator=(const SocketTables&) = delete;

  // The socket whose own end is `own` and whose far end is `far`, nothing when there is none; or
  // false when the tables cannot be read. Where no connection matches, the kernel may answer with
  // the listening socket the address would reach.
  bool find(const TCPEndpoint& own, const TCPEndpoint& far, std::optional<SocketRecord>& found) {
    inet_diag_req_v2 request = baseRequest(own.family, ~0u);
    request.id.idiag_sport = htons(own.port);
    request.id.idiag_dport = htons(far.port);
    std::memcpy(request.id.idiag_src, own.address.data(), addressSize(own.family));
    std::memcpy(request.id.idiag_dst, far.address.data(), addressSize(far.family));
    return ask(request, false, [&](const SocketRecord& record) { found = record; });
  }

  // Every listening socket of the family; false when the tables cannot be read.
  bool listeners(sa_family_t family, std::vector<SocketRecord>& found) {
    return ask(baseRequest(family, 1u << TCP_LISTEN), true,
               [&](const SocketRecord& record) { found.push_back(record); });
  }

 private:
  static inet_diag_req_v2 baseRequest(sa_family_t family, std::uint32_t states) {
    inet_diag_req_v2 request{};
    request.sdiag_family = static_cast<std::uint8_t>(family);
    request.sdiag_protocol = IPPROTO_TCP;
    request.idiag_states = states;
    request.id.idiag_cookie[0] = request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return request;
  }

  static SocketRecord recordOf(const nlmsghdr* header) {
    const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
    SocketRecord record;
    record.state = message->idiag_state;
    record.owner = message->idiag_uid;
    record.inode = message->idiag_inode;
    record.cookie = static_cast<std::uint64_t>(message->id.idiag_cookie[1]) << 32 | message->id.idiag_cookie[0];
    record.local.family = message->idiag_family;
    record.local.port = ntohs(message->id.idiag_sport);
    std::memcpy(record.local.address.data(), message->id.idiag_src, addressSize(record.local.family));
    // An IPv6 socket says whether it also takes IPv4 connections.
    int length = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *message));
    for (auto* attribute = reinterpret_cast<const rtattr*>(message + 1); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
      if (attribute->rta_type == INET_DIAG_SKV6ONLY && RTA_PAYLOAD(attribute) >= 1) {
        record.v6Only = *static_cast<const std::uint8_t*>(RTA_DATA(attribute)) != 0;
      }
    }
    return record;
  }

  bool ask(const inet_diag_req_v2& request, bool dump, const std::function<void(const SocketRecord&)>& each) {
    if (fd < 0) return false;
    struct {
      nlmsghdr header;
      inet_diag_req_v2 body;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | (dump ? NLM_F_DUMP : 0));
    message.header.nlmsg_seq = ++sequence;
    message.body = request;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
      return false;
    }
    alignas(nlmsghdr) char buffer[32 * 1024];
    for (;;) {
      ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      int left = static_cast<int>(got);
      for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, left);
           header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_seq != sequence) continue;
        if (header->nlmsg_type == NLMSG_DONE) return true;
        if (header->nlmsg_type == NLMSG_ERROR) {
          // An exact lookup that finds no socket says so with ENOENT: an answer, not a failure.
          const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
          return !dump && error->error == -ENOENT;
        }
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
          continue;
        }
        each(recordOf(header));
        if (!dump) return true;
      }
    }
  }

  int fd;
  std::uint32_t sequence = 0;
};

// The listening sockets that can take a connection to `remote`.
bool listenersFor(SocketTables& tables, const TCPEndpoint& remote, std::vector<SocketRecord>& found) {
  std::vector<SocketRecord> all;
  if (!tables.listeners(AF_INET, all) || !tables.listeners(AF_INET6, all)) return false;
  for (auto& record : all) {
    if (record.local.port != remote.port) continue;
    TCPEndpoint bound = plain(record.local);
    bool takes = sameAddress(bound, remote);
    if (!takes && isAnyAddress(bound)) {
      // An IPv6 socket on the any-address takes IPv4 connections too, unless it is IPv6 only.
      takes = bound.family == remote.family || (bound.family == AF_INET6 && !record.v6Only);
    }
    if (takes) found.push_back(record);
  }
  return true;
}

// Each process's children, from the parent the kernel gives each process.
std::map<pid_t, std::vector<pid_t>> childrenByParent() {
  std::map<pid_t, std::vector<pid_t>> children;
  for (const auto& process : ProcStat::all()) {
    if (process.parent > 0) children[process.parent].push_back(process.pid);
  }
  return children;
}

// Takes out of `wanted` the sockets the process holds.
void dropHeldSockets(pid_t pid, std::set<ino_t>& wanted) {
  DIR* descriptors = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!descriptors) return;
  static constexpr char prefix[] = "socket:[";
  while (dirent* entry = ::readdir(descriptors)) {
    if (entry->d_name[0] == '.') continue;
    char target[64];
    ssize_t length = ::readlinkat(::dirfd(descriptors), entry->d_name, target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (std::strncmp(target, prefix, sizeof prefix - 1) != 0) continue;
    wanted.erase(static_cast<ino_t>(std::strtoull(target + sizeof prefix - 1, nullptr, 10)));
    if (wanted.empty()) break;
  }
  ::closedir(descriptors);
}

// Whether every wanted socket is held by `root` or a process it started.
bool processTreeHolds(pid_t root, std::set<ino_t> wanted) {
  dropHeldSockets(root, wanted);
  if (wanted.empty()) return true;
  // The server itself holds its sockets in the common case; its descendants are read only when not.
  auto children = childrenByParent();
  std::vector<pid_t> pending = children[root];
  std::set<pid_t> seen{root};
  while (!pending.empty() && !wanted.empty() && seen.size() < maximumProcesses) {
    pid_t pid = pending.back();
    pending.pop_back();
    if (!seen.insert(pid).second) continue;
    dropHeldSockets(pid, wanted);
    auto found = children.find(pid);
    if (found != children.end()) pending.insert(pending.end(), found->second.begin(), found->second.end());
  }
  return wanted.empty();
}

std::string anotherUsers(const std::string& where, uid_t owner) {
  return "the socket at " + where + " belongs to another user (uid " + std::to_string(owner) + ")";
}

// Whether the listening socket is held by `server` or a process it started. A server keeps its
// listening socket for its life, so the answer is kept: the processes' descriptors are read once
// per socket, not once per connection. Only a yes is kept, and only for that very process (its id
// and start time, as the id passes to another process once it has gone) and that very socket (its
// cookie: the inode number comes from a counter that wraps, so in time another socket, another
// user's in the port after the server has gone among them, can carry the same number).
bool isHeldBy(pid_t server, const SocketRecord& listener) {
  struct Held {
    pid_t server;
    unsigned long long started;
    std::uint64_t socket;
    bool operator==(const Held&) const = default;
  };
  static std::mutex mutex;
  static std::deque<Held> known;
  const auto process = ProcStat::of(server);
  if (!process || process->isZombie() || listener.inode == 0) return false;
  const Held held{server, process->startTime, listener.cookie};
  {
    std::lock_guard lock(mutex);
    if (std::find(known.begin(), known.end(), held) != known.end()) return true;
  }
  if (!processTreeHolds(server, {listener.inode})) return false;
  std::lock_guard lock(mutex);
  known.push_back(held);
  if (known.size() > 16) known.pop_front();
  return true;
}

}  // namespace

TCPEndpoint TCPEndpoint::ipv4(std::uint32_t hostOrderAddress, std::uint16_t port) {
  TCPEndpoint endpoint;
  std::uint32_t network = htonl(hostOrderAddress);
  std::memcpy(endpoint.address.data(), &network, 4);
  endpoint.port = port;
  return endpoint;
}

std::string TCPEndpoint::text() const {
  char address[INET6_ADDRSTRLEN] = "?";
  ::inet_ntop(family, this->address.data(), address, sizeof address);
  std::string text = family == AF_INET6 ? std::string("[").append(address).append("]") : std::string(address);
  return text.append(":").append(std::to_string(port));
}

std::optional<std::string> refusalForServer(const TCPEndpoint& localEnd, const TCPEndpoint& remoteEnd, pid_t server) {
  const TCPEndpoint local = plain(localEnd), remote = plain(remoteEnd);
  const std::string where = remote.text();
  if (server <= 0) return "no server process is known for " + where;
  SocketTables tables;
  std::optional<SocketRecord> peer;
  if (!tables.find(remote, local, peer)) return "the sockets of this machine could not be read";
  if (!peer) return "no socket of this machine holds the other end of the connection to " + where;
  // A socket the server has accepted is its opener's; until then it is the listening socket's, and
  // the kernel reports one still in its handshake without an owner.
  const bool accepted = peer->inode != 0 && peer->state != TCP_LISTEN;
  if (accepted && peer->owner != ::geteuid()) return anotherUsers(where, peer->owner);
  // The connection came through a socket listening on that address, so every one that can take it
  // must be the server's. Which process accepted it is not asked: the server's listening socket
  // gives its connections to whoever the server lets accept them.
  std::vector<SocketRecord> listeners;
  if (!listenersFor(tables, remote, listeners)) return "the sockets of this machine could not be read";
  if (listeners.empty()) return "no socket listens on " + where;
  for (const auto& listener : listeners) {
    if (listener.owner != ::geteuid()) return anotherUsers(where, listener.owner);
    if (!isHeldBy(server, listener)) {
      return "the socket at " + where + " is not held by process " + std::to_string(server) + " or one it started";
    }
  }
  return std::nullopt;
}

}  // namespace platform
