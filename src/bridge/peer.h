#pragma once

// Who is at the other end of a loopback connection, and who holds a port. Any program on the
// computer can reach the loopback addresses and write any Origin header, so the service serves
// only programs of its own account, as the system says. One implementation file per platform
// (peer-posix.cpp, peer-win32.cpp); the matching of a connection table is shared (peer.cpp).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvl {

// An address and a port; an IPv4 address is held as IPv4-mapped IPv6 (::ffff:a.b.c.d), so that
// a client's IPv6 socket that reached 127.0.0.1 compares equal to what the service sees of it.
struct Endpoint {
  std::array<std::uint8_t, 16> address{};
  int port = 0;
  bool operator==(const Endpoint& other) const {
    return address == other.address && port == other.port;
  }
};
// `ipv4`: four bytes in network order, as on the wire.
Endpoint Ipv4Endpoint(const std::uint8_t* ipv4, int port);
bool IsIpv4(const Endpoint& endpoint);
std::string EndpointText(const Endpoint& endpoint);

// One accepted connection: the service's own end and the client's.
struct Connection {
  Endpoint service, client;
};

enum class TcpState { kEstablished, kListening, kOther };

// One row of a TCP table. `owner` is the socket's user id on Linux and its process id on
// Windows; `inode` is Linux's name of the socket.
struct TcpSocket {
  Endpoint local, remote;
  TcpState state = TcpState::kOther;
  std::uint64_t owner = 0;
  std::uint64_t inode = 0;
};

// The owner of the client's end of `connection`: the one established row whose own end is the
// client and whose other end is the service. Nullopt when no row fits, or more than one does.
std::optional<std::uint64_t> ClientOwner(const std::vector<TcpSocket>& table,
                                         const Connection& connection);
// The socket listening at `at`: on that very address, else on the wildcard address that takes
// it in. Another program may listen on the same port at another address.
std::optional<TcpSocket> Listener(const std::vector<TcpSocket>& table, const Endpoint& at);
// Linux's /proc/net/tcp and tcp6, as rows; lines it cannot read are left out.
std::vector<TcpSocket> ParseProcNetTcp(std::string_view text);

// Whether the program at the client's end of `connection` runs under this process's account.
// False with `why` when it does not, or when the system cannot say: a connection nobody can
// vouch for is refused. `why` names the program or account, never the connection, so that a
// flood of one program's connections is one line of the log.
bool ClientIsOwnAccount(const Connection& connection, std::string* why);

// The program that listens at `at` ("process 1234 (/usr/bin/x)"), for the log when the service
// cannot; what the system lets us see of it.
std::string PortHolder(const Endpoint& at);

#ifndef _WIN32
// The kernel's own answer for the user of the client's socket (socket diagnostics over
// netlink), looked up by the connection's four parts; nullopt when the kernel does not answer
// that way at all (no such module, a sandbox), and then the tables in /proc are read instead.
// Set with a refusal: `found` false when the kernel has no established socket of that tuple.
struct DiagAnswer {
  bool found = false;
  std::uint64_t uid = 0;
};
std::optional<DiagAnswer> KernelClientUser(const Connection& connection);
// The same from /proc/net/tcp and tcp6.
std::optional<std::uint64_t> ProcClientUser(const Connection& connection);
#endif

#ifdef _WIN32
// This process's account, as a string SID ("S-1-5-21-…"); empty when its token cannot be read.
std::wstring OwnAccountSid();

// The system's answers the account check needs, so that tests can give the ones Wine never
// gives (another account's process, a process that has gone, a table refused).
struct AccountCalls {
  // GetExtendedTcpTable, IPv4 and IPv6, with owner process ids; nullopt when the system refuses.
  std::optional<std::vector<TcpSocket>> (*connections)();
  // The string SID of the user of process `pid`; nullopt with `why` when it cannot be read.
  std::optional<std::wstring> (*user_of)(std::uint64_t pid, std::string* why);
  std::uint64_t own_pid;
};
// Whether the client runs under `account`; nullopt when the table names no owner even for this
// service's own listening socket (Wine's table does that: it has no owners to give).
std::optional<bool> ClientIsAccount(const std::wstring& account, const Connection& connection,
                                    const AccountCalls& calls, std::string* why);
#endif

}  // namespace qvl
