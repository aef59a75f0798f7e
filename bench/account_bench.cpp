// The bridge's account check per connection, with 30,000 rows in the kernel's TCP table (15,000
// loopback connections held open, as another account's flood would leave): the kernel's answer
// for one socket against reading the whole of /proc/net/tcp and tcp6.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "bridge/peer.h"

namespace qvl {
namespace {

Endpoint EndOf(int fd, bool peer) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  (peer ? getpeername : getsockname)(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return Ipv4Endpoint(reinterpret_cast<const std::uint8_t*>(&address.sin_addr),
                      ntohs(address.sin_port));
}

// Held for the whole run of the benchmarks: both ends of every open connection are rows, and a
// connection the client closed first leaves its end in TIME_WAIT, a row for a minute more.
// Descriptors are what a process may hold; the rest of the rows are closed ones.
struct Table {
  std::vector<int> descriptors;
  Connection last;
  std::size_t rows = 0;
  explicit Table(std::size_t wanted) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::size_t open = std::min<std::size_t>(wanted / 4, (limit.rlim_cur - 64) / 2);
    // Closed ones to four ports: one port's share of the ephemeral range would run out.
    std::vector<sockaddr_in> ports(4);
    std::vector<int> listeners;
    socklen_t size = sizeof(sockaddr_in);
    for (sockaddr_in& address : ports) {
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      listeners.push_back(socket(AF_INET, SOCK_STREAM, 0));
      bind(listeners.back(), reinterpret_cast<sockaddr*>(&address), size);
      listen(listeners.back(), 4096);
      getsockname(listeners.back(), reinterpret_cast<sockaddr*>(&address), &size);
    }
    for (std::size_t i = 0; i < wanted - 2 * open; ++i) {
      int client = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(client, reinterpret_cast<sockaddr*>(&ports[i % 4]), size) != 0) break;
      int accepted = accept(listeners[i % 4], nullptr, nullptr);
      close(client);
      close(accepted);
    }
    for (std::size_t i = 0; i < open; ++i) {
      int client = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(client, reinterpret_cast<sockaddr*>(&ports[0]), size) != 0) break;
      int accepted = accept(listeners[0], nullptr, nullptr);
      descriptors.insert(descriptors.end(), {client, accepted});
      last = {EndOf(accepted, false), EndOf(accepted, true)};
    }
    descriptors.insert(descriptors.end(), listeners.begin(), listeners.end());
    std::ifstream tcp("/proc/net/tcp");
    for (std::string line; std::getline(tcp, line);) ++rows;
  }
};

Table& Rows() {
  static Table table(30000);
  return table;
}

void BM_AccountKernel(benchmark::State& state) {
  Table& table = Rows();
  for (auto _ : state) benchmark::DoNotOptimize(KernelClientUser(table.last));
  state.counters["rows"] = static_cast<double>(table.rows);
}
BENCHMARK(BM_AccountKernel)->Unit(benchmark::kMicrosecond);

void BM_AccountProcTables(benchmark::State& state) {
  Table& table = Rows();
  for (auto _ : state) benchmark::DoNotOptimize(ProcClientUser(table.last));
  state.counters["rows"] = static_cast<double>(table.rows);
}
BENCHMARK(BM_AccountProcTables)->Unit(benchmark::kMillisecond);

void BM_AccountCheck(benchmark::State& state) {
  Table& table = Rows();
  std::string why;
  for (auto _ : state) benchmark::DoNotOptimize(ClientIsOwnAccount(table.last, &why));
}
BENCHMARK(BM_AccountCheck)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qvl
