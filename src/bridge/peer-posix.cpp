// Linux side of the account check: the kernel's TCP tables in /proc name each socket's user.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bridge/peer.h"

namespace qvl {
namespace {

// Both tables: a client may reach 127.0.0.1 through an IPv6 socket (::ffff:127.0.0.1).
std::vector<TcpSocket> TcpTable() {
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

}  // namespace

bool ClientIsOwnAccount(int server_port, int client_port, std::string* why) {
  std::optional<std::uint64_t> uid = ClientOwner(TcpTable(), client_port, server_port);
  if (!uid) {
    *why = "no socket of this computer's TCP table connects from port " +
           std::to_string(client_port);
    return false;
  }
  if (*uid != geteuid()) {
    *why = "the program that connected runs as user " + std::to_string(*uid);
    return false;
  }
  return true;
}

std::string PortHolder(int port) {
  namespace fs = std::filesystem;
  std::optional<TcpSocket> listener = Listener(TcpTable(), port);
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
