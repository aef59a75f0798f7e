#include "bridge/peer.h"

#include <cstring>
#include <sstream>

namespace qvl {

Endpoint Ipv4Endpoint(const std::uint8_t* ipv4, int port) {
  Endpoint endpoint;
  endpoint.address[10] = endpoint.address[11] = 0xFF;
  std::memcpy(&endpoint.address[12], ipv4, 4);
  endpoint.port = port;
  return endpoint;
}

bool IsIpv4(const Endpoint& endpoint) {
  static const std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(endpoint.address.data(), kMapped, 12) == 0;
}

std::string EndpointText(const Endpoint& endpoint) {
  const auto& a = endpoint.address;
  std::string text;
  if (IsIpv4(endpoint)) {
    for (int i = 12; i < 16; ++i) text += (i > 12 ? "." : "") + std::to_string(a[i]);
    return text + ":" + std::to_string(endpoint.port);
  }
  static const char kHex[] = "0123456789abcdef";
  text = "[";
  for (int i = 0; i < 16; ++i) {
    if (i && i % 2 == 0) text += ':';
    text += kHex[a[i] >> 4];
    text += kHex[a[i] & 15];
  }
  return text + "]:" + std::to_string(endpoint.port);
}

std::optional<std::uint64_t> ClientOwner(const std::vector<TcpSocket>& table,
                                         const Connection& connection) {
  // Both ends, addresses and ports: another account's program may choose its own source
  // address and port, even the service's port on another loopback address. A second row that
  // fits means the table cannot say whose the connection is.
  std::optional<std::uint64_t> owner;
  for (const TcpSocket& socket : table) {
    if (socket.state != TcpState::kEstablished || !(socket.local == connection.client) ||
        !(socket.remote == connection.service))
      continue;
    if (owner) return std::nullopt;
    owner = socket.owner;
  }
  return owner;
}

std::optional<TcpSocket> Listener(const std::vector<TcpSocket>& table, const Endpoint& at) {
  const std::array<std::uint8_t, 16> any{};  // ::, which takes in IPv4 too unless v6-only
  const Endpoint any_ipv4 = Ipv4Endpoint(any.data(), at.port);
  std::optional<TcpSocket> wildcard;
  for (const TcpSocket& socket : table) {
    if (socket.state != TcpState::kListening || socket.local.port != at.port) continue;
    if (socket.local.address == at.address) return socket;
    if (!wildcard && (socket.local.address == any ||
                      (IsIpv4(at) && socket.local.address == any_ipv4.address)))
      wildcard = socket;
  }
  return wildcard;
}

namespace {

// "0100007F:71FC" (IPv4) or 32 hex digits and a port (IPv6): the address as the kernel's own
// 32-bit words, each printed as a number of this machine's byte order.
bool ParseProcEndpoint(const std::string& text, Endpoint* endpoint) {
  std::size_t colon = text.find(':');
  if (colon != 8 && colon != 32) return false;
  try {
    std::uint8_t bytes[16];
    for (std::size_t word = 0; word < colon / 8; ++word) {
      auto value = static_cast<std::uint32_t>(std::stoul(text.substr(word * 8, 8), nullptr, 16));
      std::memcpy(bytes + word * 4, &value, 4);
    }
    int port = std::stoi(text.substr(colon + 1), nullptr, 16);
    if (colon == 8) {
      *endpoint = Ipv4Endpoint(bytes, port);
    } else {
      std::memcpy(endpoint->address.data(), bytes, 16);
      endpoint->port = port;
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace

std::vector<TcpSocket> ParseProcNetTcp(std::string_view text) {
  // "  0: 0100007F:71EC 0100007F:D3A2 01 00000000:00000000 00:00000000 00000000  1000 0 4242 ..."
  std::vector<TcpSocket> table;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    std::uint64_t uid = 0, timeout = 0, inode = 0;
    TcpSocket socket;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode) ||
        slot.back() != ':' || !ParseProcEndpoint(local, &socket.local) ||
        !ParseProcEndpoint(remote, &socket.remote))
      continue;
    socket.state = state == "01"   ? TcpState::kEstablished
                   : state == "0A" ? TcpState::kListening
                                   : TcpState::kOther;
    socket.owner = uid;
    socket.inode = inode;
    table.push_back(socket);
  }
  return table;
}

}  // namespace qvl
