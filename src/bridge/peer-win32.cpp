// Windows side of the account check: the TCP table names each connection's process, and the
// process's token its user.

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <sddl.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "base/win32_text.h"
#include "bridge/peer.h"

namespace qvl {
namespace {

struct Handle {
  HANDLE value = nullptr;
  ~Handle() {
    if (value) CloseHandle(value);
  }
};

TcpState StateOf(DWORD state) {
  return state == MIB_TCP_STATE_ESTAB    ? TcpState::kEstablished
         : state == MIB_TCP_STATE_LISTEN ? TcpState::kListening
                                         : TcpState::kOther;
}

int PortOf(DWORD port) { return ntohs(static_cast<u_short>(port)); }

// One of the system's tables (IPv4 or IPv6) as its raw rows; nullopt when it refuses.
std::optional<std::vector<unsigned char>> RawTable(ULONG family, TCP_TABLE_CLASS kind) {
  std::vector<unsigned char> buffer(64 * 1024);
  DWORD size = static_cast<DWORD>(buffer.size());
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.resize(size);
    result = GetExtendedTcpTable(buffer.data(), &size, FALSE, family, kind, 0);
  }
  if (result != NO_ERROR) return std::nullopt;
  return buffer;
}

// Both tables, with both ends of every row: a client of this account's may connect through
// 127.0.0.1 or ::1.
std::optional<std::vector<TcpSocket>> SystemTcpTable(TCP_TABLE_CLASS kind) {
  std::optional<std::vector<unsigned char>> v4 = RawTable(AF_INET, kind);
  if (!v4) return std::nullopt;
  std::vector<TcpSocket> table;
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(v4->data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[i];
    TcpSocket socket;
    socket.local = Ipv4Endpoint(reinterpret_cast<const std::uint8_t*>(&row.dwLocalAddr),
                                PortOf(row.dwLocalPort));
    socket.remote = Ipv4Endpoint(reinterpret_cast<const std::uint8_t*>(&row.dwRemoteAddr),
                                 PortOf(row.dwRemotePort));
    socket.state = StateOf(row.dwState);
    socket.owner = row.dwOwningPid;
    table.push_back(socket);
  }
  // A computer without IPv6 has no such table: its IPv4 one is the whole answer.
  std::optional<std::vector<unsigned char>> v6 = RawTable(AF_INET6, kind);
  const auto* rows6 = v6 ? reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(v6->data()) : nullptr;
  for (DWORD i = 0; rows6 && i < rows6->dwNumEntries; ++i) {
    const MIB_TCP6ROW_OWNER_PID& row = rows6->table[i];
    TcpSocket socket;
    std::memcpy(socket.local.address.data(), row.ucLocalAddr, 16);
    std::memcpy(socket.remote.address.data(), row.ucRemoteAddr, 16);
    socket.local.port = PortOf(row.dwLocalPort);
    socket.remote.port = PortOf(row.dwRemotePort);
    socket.state = StateOf(row.dwState);
    socket.owner = row.dwOwningPid;
    table.push_back(socket);
  }
  return table;
}

std::optional<std::vector<TcpSocket>> Connections() {
  return SystemTcpTable(TCP_TABLE_OWNER_PID_ALL);
}

std::optional<std::wstring> TokenUser(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size ? size : 1);
  wchar_t* sid = nullptr;
  if (!GetTokenInformation(token, ::TokenUser, user.data(), size, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
    return std::nullopt;
  std::wstring text = sid;
  LocalFree(sid);
  return text;
}

std::optional<std::wstring> UserOf(std::uint64_t pid, std::string* why) {
  // Another account's process refuses even this little: that alone says it is not ours.
  Handle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid))};
  Handle token;
  if (!process.value || !OpenProcessToken(process.value, TOKEN_QUERY, &token.value)) {
    *why = "process " + std::to_string(pid) + " cannot be looked at: " +
           Win32ErrorText(GetLastError());
    return std::nullopt;
  }
  std::optional<std::wstring> user = TokenUser(token.value);
  if (!user) *why = "process " + std::to_string(pid) + " has no user to read";
  return user;
}


}  // namespace

std::wstring OwnAccountSid() {
  Handle token;
  std::optional<std::wstring> user;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.value)) user = TokenUser(token.value);
  return user.value_or(L"");
}

std::optional<bool> ClientIsAccount(const std::wstring& account, const Connection& connection,
                                    const AccountCalls& calls, std::string* why) {
  std::optional<std::vector<TcpSocket>> table = calls.connections();
  if (!table) {
    *why = "the system's TCP table cannot be read";
    return false;
  }
  std::optional<TcpSocket> own = Listener(*table, connection.service);
  if (!own || own->owner != calls.own_pid) return std::nullopt;
  std::optional<std::uint64_t> pid = ClientOwner(*table, connection);
  // Process 0 owns no connection a program could have made.
  if (!pid || *pid == 0) {
    *why = "the system names no one process as the client's end of the connection";
    return false;
  }
  std::optional<std::wstring> user = calls.user_of(*pid, why);
  if (!user) return false;
  if (account.empty() || *user != account) {
    *why = "process " + std::to_string(*pid) + " runs under another account (" + Narrow(*user) + ")";
    return false;
  }
  return true;
}

// Under Wine the connecting program may be a Linux one, and Wine's table names no owners: the
// kernel's own table, seen through Wine's Z: drive, names the user as it does on Linux.
bool ClientIsUnixAccount(const Connection& connection, std::string* why) {
  std::string text;
  for (const char* path : {"Z:\\proc\\net\\tcp", "Z:\\proc\\net\\tcp6"}) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream rows;
    rows << file.rdbuf();
    text += rows.str();
  }
  std::ifstream status("Z:\\proc\\self\\status", std::ios::binary);
  std::string line, uid;
  while (std::getline(status, line) && uid.empty()) {
    if (line.compare(0, 4, "Uid:") == 0) uid = std::to_string(std::stoull(line.substr(4)));
  }
  std::optional<std::uint64_t> owner = ClientOwner(ParseProcNetTcp(text), connection);
  if (uid.empty() || !owner || std::to_string(*owner) != uid) {
    *why = owner ? "the program that connected runs as user " + std::to_string(*owner)
                 : "the system names no one socket as the client's end of the connection";
    return false;
  }
  return true;
}

bool ClientIsOwnAccount(const Connection& connection, std::string* why) {
  static const std::wstring account = OwnAccountSid();
  std::optional<bool> own =
      ClientIsAccount(account, connection, {Connections, UserOf, GetCurrentProcessId()}, why);
  return own ? *own : ClientIsUnixAccount(connection, why);
}

std::string PortHolder(const Endpoint& at) {
  std::optional<std::vector<TcpSocket>> table = SystemTcpTable(TCP_TABLE_OWNER_PID_LISTENER);
  std::optional<TcpSocket> listener = table ? Listener(*table, at) : std::nullopt;
  if (!listener) return "a socket not yet listening";
  std::string holder = "process " + std::to_string(listener->owner);
  Handle process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                             static_cast<DWORD>(listener->owner))};
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (process.value && QueryFullProcessImageNameW(process.value, 0, path, &length))
    holder += " (" + Narrow(std::wstring(path, length)) + ")";
  return holder;
}

}  // namespace qvl
