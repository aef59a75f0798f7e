#include "bridge/peer.h"

#include <sstream>

namespace qvl {

std::optional<std::uint64_t> ClientOwner(const std::vector<TcpSocket>& table, int client_port,
                                         int server_port) {
  // The client's socket is the one whose own port is the client's: the service's accepted
  // socket has the two the other way round.
  for (const TcpSocket& socket : table) {
    if (!socket.listening && socket.local_port == client_port &&
        socket.remote_port == server_port)
      return socket.owner;
  }
  return std::nullopt;
}

std::optional<TcpSocket> Listener(const std::vector<TcpSocket>& table, int port) {
  for (const TcpSocket& socket : table) {
    if (socket.listening && socket.local_port == port) return socket;
  }
  return std::nullopt;
}

std::vector<TcpSocket> ParseProcNetTcp(std::string_view text) {
  // "  0: 0100007F:71EC 0100007F:D3A2 01 00000000:00000000 00:00000000 00000000  1000 0 4242 ..."
  std::vector<TcpSocket> table;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    std::uint64_t uid = 0, timeout = 0, inode = 0;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode) ||
        slot.back() != ':')
      continue;
    std::size_t local_colon = local.rfind(':'), remote_colon = remote.rfind(':');
    if (local_colon == std::string::npos || remote_colon == std::string::npos) continue;
    TcpSocket socket;
    try {
      socket.local_port = std::stoi(local.substr(local_colon + 1), nullptr, 16);
      socket.remote_port = std::stoi(remote.substr(remote_colon + 1), nullptr, 16);
    } catch (const std::exception&) {
      continue;
    }
    socket.listening = state == "0A";
    socket.owner = uid;
    socket.inode = inode;
    table.push_back(socket);
  }
  return table;
}

}  // namespace qvl
