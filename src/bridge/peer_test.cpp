#include "bridge/peer.h"

#include <gtest/gtest.h>

#include <algorithm>

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

// 127.0.0.1:29180 listening (root), the service's accepted end (root) and a client of user 65534
// at port 54178 (0xD3A2); the header, and a line cut short, say nothing.
constexpr char kProcNetTcp[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 0100007F:71FC 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 4101 1 0\n"
    "   1: 0100007F:71FC 0100007F:D3A2 01 00000000:00000000 00:00000000 00000000     0        0 4102 1 0\n"
    "   2: 0100007F:D3A2 0100007F:71FC 01 00000000:00000000 00:00000000 00000000 65534        0 4103 1 0\n"
    "   3: 0100007F:D3A3 0100007F:71FC 01 00000000:00000000\n";
constexpr char kProcNetTcp6[] =
    "   0: 0000000000000000FFFF00000100007F:D3A4 0000000000000000FFFF00000100007F:71FC 01 "
    "00000000:00000000 00:00000000 00000000  1000        0 4104 1 0\n";

TEST(ClientOwner, TheClientsEndOfTheConnection) {
  std::vector<TcpSocket> table = ParseProcNetTcp(std::string(kProcNetTcp) + kProcNetTcp6);
  const std::tuple<int, int, std::optional<std::uint64_t>> cases[] = {
      {54178, 29180, 65534},      // not the accepted end's root
      {54180, 29180, 1000},       // through an IPv6 socket
      {54179, 29180, std::nullopt},  // its line was cut short
      {54178, 29181, std::nullopt}};
  for (const auto& [client, server, owner] : cases)
    EXPECT_EQ(ClientOwner(table, client, server), owner) << client << " -> " << server;
  ASSERT_TRUE(Listener(table, 29180));
  EXPECT_EQ(Listener(table, 29180)->inode, 4101u);
}

#ifdef _WIN32
// What the system may answer, Windows' answers that Wine never gives included.
std::optional<std::vector<TcpSocket>> g_table;
std::optional<std::wstring> g_user;
std::optional<std::vector<TcpSocket>> Table() { return g_table; }
std::optional<std::wstring> User(std::uint64_t, std::string* why) {
  if (!g_user) *why = "access denied";
  return g_user;
}

TEST(ClientIsAccount, OnlyAProcessOfThisAccount) {
  const std::wstring me = L"S-1-5-21-1-2-3-1001";
  std::vector<TcpSocket> rows = {{29180, 0, true, 40, 0}, {54178, 29180, false, 77, 0},
                                 {54179, 29180, false, 0, 0}};
  std::vector<TcpSocket> no_owners = {{29180, 0, true, 0, 0}, {54178, 29180, false, 0, 0}};
  const struct {
    std::optional<std::vector<TcpSocket>> table;
    std::optional<std::wstring> user;
    int client;
    std::optional<bool> own;
  } cases[] = {
      {rows, me, 54178, true},
      {rows, L"S-1-5-21-1-2-3-1002", 54178, false},  // another clerk on the terminal server
      {rows, std::nullopt, 54178, false},            // another account's process refuses a look
      {rows, me, 54179, false},                      // process 0: a connection nobody owns
      {rows, me, 54177, false},                      // gone before it was looked up
      {std::nullopt, me, 54178, false},              // the table refused
      {no_owners, me, 54178, std::nullopt},          // Wine: a table without owners
  };
  for (const auto& c : cases) {
    g_table = c.table;
    g_user = c.user;
    std::string why;
    std::optional<bool> own = ClientIsAccount(me, 29180, c.client, {Table, User, 40}, &why);
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
