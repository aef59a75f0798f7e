#pragma once

// Who is at the other end of a loopback connection, and who holds a port. Any program on the
// computer can reach 127.0.0.1 and write any Origin header, so the service serves only programs
// of its own account, as the system's connection table says. One implementation file per
// platform (peer-posix.cpp, peer-win32.cpp); the matching of the table is shared (peer.cpp).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvl {

// One row of the system's TCP table. `owner` is the socket's user id on Linux and its process
// id on Windows; `inode` is Linux's name of the socket.
struct TcpSocket {
  int local_port = 0, remote_port = 0;
  bool listening = false;
  std::uint64_t owner = 0;
  std::uint64_t inode = 0;
};

// The owner of the client's end of a loopback connection from `client_port` to `server_port`.
std::optional<std::uint64_t> ClientOwner(const std::vector<TcpSocket>& table, int client_port,
                                         int server_port);
// The socket listening on `port`, if any.
std::optional<TcpSocket> Listener(const std::vector<TcpSocket>& table, int port);
// Linux's /proc/net/tcp and tcp6, as rows; lines it cannot read are left out.
std::vector<TcpSocket> ParseProcNetTcp(std::string_view text);

// Whether the program that connected from `client_port` to this service's `server_port` runs
// under this process's account. False with `why` when it does not, or when the system cannot
// say: a connection nobody can vouch for is refused.
bool ClientIsOwnAccount(int server_port, int client_port, std::string* why);

// The program that listens on `port` ("process 1234 (/usr/bin/x)"), for the log when the port
// is taken; what the system lets us see of it.
std::string PortHolder(int port);

#ifdef _WIN32
// This process's account, as a string SID ("S-1-5-21-…"); empty when its token cannot be read.
std::wstring OwnAccountSid();

// The system's answers the account check needs, so that tests can give the ones Wine never
// gives (another account's process, a process that has gone, a table refused).
struct AccountCalls {
  // GetExtendedTcpTable with owner process ids; nullopt when the system refuses.
  std::optional<std::vector<TcpSocket>> (*connections)();
  // The string SID of the user of process `pid`; nullopt with `why` when it cannot be read.
  std::optional<std::wstring> (*user_of)(std::uint64_t pid, std::string* why);
  std::uint64_t own_pid;
};
// Whether the client runs under `account`; nullopt when the table names no owner even for this
// service's own listening socket (Wine's table does that: it has no owners to give).
std::optional<bool> ClientIsAccount(const std::wstring& account, int server_port,
                                    int client_port, const AccountCalls& calls, std::string* why);
#endif

}  // namespace qvl
