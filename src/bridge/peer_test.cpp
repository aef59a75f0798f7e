#include "bridge/peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#ifndef _WIN32
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "base/win32_text.h"
#include "bridge/child.h"
#include "testing/fakes.h"
#endif

namespace qvl {
namespace {

// 127.0.0.1:29180 listening (root, 0x71FC); another account's program (65534) bound to
// 127.0.0.12 with the service's own port as its source, and the service's accepted end of it,
// which has the same two ports the other way round; a client of user 1000 at 54178 (0xD3A2); one
// in TIME_WAIT; two rows that both fit 54180; an IPv4-mapped client and one over ::1 in tcp6;
// a line cut short; a program of user 1000 listening on 0.0.0.0:54184; [::1]:29180 listening.
constexpr char kProcNetTcp[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:71FC 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 4101 1 0\n"
    "   1: 0100007F:71FC 0C00007F:71FC 01 00000000:00000000 00:00000000 00000000     0        0 4102 1 0\n"
    "   2: 0C00007F:71FC 0100007F:71FC 01 00000000:00000000 00:00000000 00000000 65534        0 4103 1 0\n"
    "   3: 0100007F:D3A2 0100007F:71FC 01 00000000:00000000 00:00000000 00000000  1000        0 4104 1 0\n"
    "   4: 0100007F:D3A3 0100007F:71FC 06 00000000:00000000 00:00000000 00000000     0        0 0 1 0\n"
    "   5: 0100007F:D3A4 0100007F:71FC 01 00000000:00000000 00:00000000 00000000  1000        0 4105 1 0\n"
    "   6: 0100007F:D3A4 0100007F:71FC 01 00000000:00000000 00:00000000 00000000 65534        0 4106 1 0\n"
    "   7: 0100007F:D3A7 0100007F:71FC 01 00000000:00000000\n"
    "   8: 00000000:D3A8 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4109 1 0\n";
constexpr char kProcNetTcp6[] =
    "   0: 0000000000000000FFFF00003C00007F:D3A5 0000000000000000FFFF00000100007F:71FC 01 "
    "00000000:00000000 00:00000000 00000000 65534        0 4107 1 0\n"
    "   1: 00000000000000000000000001000000:D3A6 00000000000000000000000001000000:71FC 01 "
    "00000000:00000000 00:00000000 00000000  1000        0 4108 1 0\n"
    "   2: 00000000000000000000000001000000:71FC 00000000000000000000000000000000:0000 0A "
    "00000000:00000000 00:00000000 00000000     0        0 4110 1 0\n";

Endpoint V4(std::uint8_t last, int port) {
  const std::uint8_t address[4] = {127, 0, 0, last};
  return Ipv4Endpoint(address, port);
}
Endpoint Loopback6(int port) {
  Endpoint endpoint;
  endpoint.address[15] = 1;
  endpoint.port = port;
  return endpoint;
}

// Whose each connection is, as the table says; the same rows serve the Windows lookup below.
const struct {
  Connection connection;
  std::optional<std::uint64_t> owner;
} kOwners[] = {
    {{V4(1, 29180), V4(12, 29180)}, 65534},  // never the service's own end, root's
    {{V4(1, 29180), V4(1, 54178)}, 1000},
    {{V4(1, 29180), V4(1, 54179)}, std::nullopt},  // in TIME_WAIT
    {{V4(1, 29180), V4(1, 54180)}, std::nullopt},  // two rows fit: nobody can say whose
    {{V4(1, 29180), V4(60, 54181)}, 65534},         // an IPv6 socket that reached 127.0.0.1
    {{Loopback6(29180), Loopback6(54182)}, 1000},
    {{Loopback6(29180), V4(1, 54178)}, std::nullopt},  // the service's end is no IPv4 one
    {{V4(1, 29180), V4(1, 54183)}, std::nullopt},      // its line was cut short
};

std::vector<TcpSocket> Table() { return ParseProcNetTcp(std::string(kProcNetTcp) + kProcNetTcp6); }

TEST(ClientOwner, TheOneEstablishedRowOfBothEnds) {
  std::vector<TcpSocket> table = Table();
  for (const auto& c : kOwners) {
    EXPECT_EQ(ClientOwner(table, c.connection), c.owner)
        << EndpointText(c.connection.client) << " -> " << EndpointText(c.connection.service);
  }
  // Who listens at an address: there, or on the wildcard that takes it in; never a listener of
  // the same port at another address.
  const std::pair<Endpoint, std::uint64_t> listeners[] = {
      {V4(1, 29180), 4101}, {Loopback6(29180), 4110}, {V4(1, 54184), 4109}, {Loopback6(54184), 0}};
  for (const auto& [at, inode] : listeners) {
    std::optional<TcpSocket> listener = Listener(table, at);
    EXPECT_EQ(listener ? listener->inode : 0, inode) << EndpointText(at);
  }
  EXPECT_EQ(EndpointText(V4(60, 54181)), "127.0.0.60:54181");
}

#ifndef _WIN32
Endpoint EndOf(int fd, int (*ask)(int, sockaddr*, socklen_t*)) {
  sockaddr_in6 seen{};
  socklen_t size = sizeof seen;
  ask(fd, reinterpret_cast<sockaddr*>(&seen), &size);
  auto* in = reinterpret_cast<sockaddr_in*>(&seen);
  if (seen.sin6_family == AF_INET)
    return Ipv4Endpoint(reinterpret_cast<const std::uint8_t*>(&in->sin_addr), ntohs(in->sin_port));
  Endpoint endpoint;
  std::memcpy(endpoint.address.data(), &seen.sin6_addr, 16);
  endpoint.port = ntohs(seen.sin6_port);
  return endpoint;
}

// The kernel's own answers, and the /proc tables', for this account's real connections: over
// IPv4, from an IPv6 socket to 127.0.0.1 (a row of tcp6), and over ::1; and for a client end
// that does not exist.
TEST(ClientIsOwnAccount, RealLoopbackConnections) {
  for (auto [listen_on, connect_to] : {std::pair{"127.0.0.1", "127.0.0.1"},
                                       std::pair{"127.0.0.1", "::ffff:127.0.0.1"},
                                       std::pair{"::1", "::1"}}) {
    addrinfo hints{}, *service = nullptr, *target = nullptr;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    getaddrinfo(listen_on, "0", &hints, &service);
    int listener = socket(service->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool bound = bind(listener, service->ai_addr, service->ai_addrlen) == 0 && listen(listener, 1) == 0;
    freeaddrinfo(service);
    if (!bound) continue;  // no IPv6 on this machine
    std::string port = std::to_string(EndOf(listener, getsockname).port);
    getaddrinfo(connect_to, port.c_str(), &hints, &target);
    int client = socket(target->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, target->ai_addr, target->ai_addrlen), 0) << connect_to;
    freeaddrinfo(target);
    int accepted = accept(listener, nullptr, nullptr);
    Connection connection{EndOf(accepted, getsockname), EndOf(accepted, getpeername)};
    for (bool real : {true, false}) {
      if (!real) connection.client.port ^= 1;  // an end nobody holds
      std::string why;
      std::optional<DiagAnswer> kernel = KernelClientUser(connection);
      EXPECT_TRUE(!kernel || (kernel->found == real && (!real || kernel->uid == geteuid())))
          << connect_to;
      EXPECT_EQ(ProcClientUser(connection), real ? std::optional<std::uint64_t>(geteuid()) : std::nullopt)
          << connect_to;
      EXPECT_EQ(ClientIsOwnAccount(connection, &why), real) << connect_to << ": " << why;
    }
    for (int fd : {client, accepted, listener}) close(fd);
  }
}
#endif

#ifdef _WIN32
// What the system may answer, Windows' answers that Wine never gives included.
std::optional<std::vector<TcpSocket>> g_table;
std::optional<std::wstring> g_user;
std::optional<std::vector<TcpSocket>> GivenTable() { return g_table; }
std::optional<std::wstring> User(std::uint64_t pid, std::string* why) {
  if (!g_user) *why = "access denied";
  // The table's users as processes: 1040 is this account's, 65574 another's.
  return pid == 65574 ? std::optional<std::wstring>(L"S-1-5-21-1-2-3-1002") : g_user;
}

TEST(ClientIsAccount, OnlyAProcessOfThisAccount) {
  const std::wstring me = L"S-1-5-21-1-2-3-1001";
  std::vector<TcpSocket> rows = Table(), no_owners = Table();
  for (TcpSocket& row : rows) row.owner += 40;  // the listener's: this process, 40
  for (TcpSocket& row : no_owners) row.owner = 0;
  TcpSocket unowned = rows[3];  // process 0: a connection nobody owns
  unowned.local.port = 54190;
  unowned.owner = 0;
  rows.push_back(unowned);
  for (const auto& c : kOwners) {
    g_table = rows;
    g_user = me;
    std::string why;
    std::optional<bool> own = ClientIsAccount(me, c.connection, {GivenTable, User, 40}, &why);
    EXPECT_EQ(own, c.owner == 1000u) << EndpointText(c.connection.client) << " " << why;
  }
  const struct {
    std::optional<std::vector<TcpSocket>> table;
    std::optional<std::wstring> user;
    int client;
    std::optional<bool> own;
  } cases[] = {
      {rows, std::nullopt, 54178, false},    // another account's process refuses a look
      {rows, me, 54190, false},              // process 0
      {std::nullopt, me, 54178, false},      // the table refused
      {no_owners, me, 54178, std::nullopt},  // Wine: a table without owners
  };
  for (const auto& c : cases) {
    g_table = c.table;
    g_user = c.user;
    std::string why;
    std::optional<bool> own =
        ClientIsAccount(me, {V4(1, 29180), V4(1, c.client)}, {GivenTable, User, 40}, &why);
    EXPECT_EQ(own, c.own) << c.client << " " << why;
    EXPECT_EQ(why.empty(), own != false) << c.client;
  }
}

TEST(MakePrivateFolder, ProtectedDaclOfTheUserAndSystem) {
  ScopedTempDir dir;
  std::string folder = dir.File("runs"), error;
  ASSERT_TRUE(MakePrivateFolder(folder, &error)) << error;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(Widen(folder).c_str(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                  &descriptor),
            ERROR_SUCCESS);
  // Nothing inherited from the temporary folder's DACL: the two of ours alone. (Wine keeps the
  // ACEs but not the protected flag, so the flag is not asked for here.)
  ASSERT_NE(dacl, nullptr);
  ASSERT_EQ(dacl->AceCount, 2);
  std::vector<std::wstring> sids;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    wchar_t* sid = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    ASSERT_TRUE(ConvertSidToStringSidW(&ace->SidStart, &sid));
    sids.push_back(sid);
    LocalFree(sid);
    EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  }
  std::sort(sids.begin(), sids.end());  // S-1-5-18, SYSTEM, sorts before any user's
  EXPECT_EQ(sids[0], L"S-1-5-18");
  EXPECT_EQ(sids[1].compare(0, 9, L"S-1-5-21-"), 0) << Narrow(sids[1]);
  LocalFree(descriptor);
}
#endif

}  // namespace
}  // namespace qvl
