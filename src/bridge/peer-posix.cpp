// Linux side of the account check: the kernel names the user of one socket by its four parts
// (socket diagnostics over netlink), whatever the size of the table; where it will not, the
// tables in /proc name every socket's user.

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bridge/peer.h"

namespace qvl {
namespace {

std::vector<TcpSocket> ProcTcpTable() {
  std::vector<TcpSocket> table;
  for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<TcpSocket> rows = ParseProcNetTcp(text.str());
    table.insert(table.end(), rows.begin(), rows.end());
  }
  return table;
}

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// The kernel's address words of `endpoint` for a request of `family`.
void PutAddress(const Endpoint& endpoint, int family, __be32* words) {
  std::memcpy(words, endpoint.address.data() + (family == AF_INET ? 12 : 0),
              family == AF_INET ? 4 : 16);
}

Endpoint TakeEndpoint(const __be32* words, __be16 port, int family) {
  Endpoint endpoint;
  if (family == AF_INET)
    return Ipv4Endpoint(reinterpret_cast<const std::uint8_t*>(words), ntohs(port));
  std::memcpy(endpoint.address.data(), words, 16);
  endpoint.port = ntohs(port);
  return endpoint;
}

}  // namespace

std::optional<DiagAnswer> KernelClientUser(const Connection& connection) {
  Descriptor socket{::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)};
  if (socket.fd < 0) return std::nullopt;
  // The family the service sees; a client's IPv6 socket that reached 127.0.0.1 is found by its
  // IPv4 parts all the same.
  int family = IsIpv4(connection.service) ? AF_INET : AF_INET6;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST;
  ask.request.sdiag_family = static_cast<__u8>(family);
  ask.request.sdiag_protocol = IPPROTO_TCP;
  ask.request.idiag_states = ~0u;
  ask.request.id.idiag_sport = htons(static_cast<std::uint16_t>(connection.client.port));
  ask.request.id.idiag_dport = htons(static_cast<std::uint16_t>(connection.service.port));
  PutAddress(connection.client, family, ask.request.id.idiag_src);
  PutAddress(connection.service, family, ask.request.id.idiag_dst);
  ask.request.id.idiag_cookie[0] = ask.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(socket.fd, &ask, sizeof ask, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof ask))
    return std::nullopt;
  alignas(nlmsghdr) char answer[8192];
  ssize_t length = recv(socket.fd, answer, sizeof answer, 0);
  if (length < static_cast<ssize_t>(sizeof(nlmsghdr))) return std::nullopt;
  const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
  if (!NLMSG_OK(header, static_cast<unsigned>(length))) return std::nullopt;
  if (header->nlmsg_type == NLMSG_ERROR) {
    const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
    // No such socket is an answer; any other error says the kernel cannot be asked this way.
    if (error->error == -ENOENT) return DiagAnswer{};
    return std::nullopt;
  }
  if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
      header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
    return std::nullopt;
  const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
  // The lookup falls back to a listener on the client's address: only the established socket
  // with exactly these four parts is the client's.
  Connection seen{TakeEndpoint(found->id.idiag_dst, found->id.idiag_dport, found->idiag_family),
                  TakeEndpoint(found->id.idiag_src, found->id.idiag_sport, found->idiag_family)};
  if (found->idiag_state != TCP_ESTABLISHED || !(seen.client == connection.client) ||
      !(seen.service == connection.service))
    return DiagAnswer{};
  return DiagAnswer{true, found->idiag_uid};
}

std::optional<std::uint64_t> ProcClientUser(const Connection& connection) {
  return ClientOwner(ProcTcpTable(), connection);
}

bool ClientIsOwnAccount(const Connection& connection, std::string* why) {
  // A kernel without TCP diagnostics also says "no such entry": until it has found one socket,
  // that answer sends us to /proc.
  static std::atomic<bool> kernel_answers{false};
  std::optional<DiagAnswer> kernel = KernelClientUser(connection);
  std::optional<std::uint64_t> uid;
  if (kernel && kernel->found) {
    kernel_answers = true;
    uid = kernel->uid;
  } else if (!kernel || !kernel_answers) {
    uid = ProcClientUser(connection);
  }
  if (!uid) {
    *why = "the system names no one established socket as the client's end of the connection";
    return false;
  }
  if (*uid != geteuid()) {
    *why = "the program that connected runs as user " + std::to_string(*uid);
    return false;
  }
  return true;
}

std::string PortHolder(const Endpoint& at) {
  namespace fs = std::filesystem;
  std::optional<TcpSocket> listener = Listener(ProcTcpTable(), at);
  if (!listener) return "a socket not yet listening";
  std::string name = "socket:[" + std::to_string(listener->inode) + "]";
  std::error_code error;
  for (const auto& process : fs::directory_iterator("/proc", error)) {
    std::string pid = process.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code unreadable;  // another user's process: its descriptors are not ours to see
    for (const auto& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
      std::error_code gone;
      if (fs::read_symlink(fd.path(), gone).string() != name) continue;
      fs::path program = fs::read_symlink(process.path() / "exe", gone);
      return "process " + pid + " (" + (gone ? "user " + std::to_string(listener->owner)
                                             : program.string()) + ")";
    }
  }
  return "a program of user " + std::to_string(listener->owner);
}

}  // namespace qvl
