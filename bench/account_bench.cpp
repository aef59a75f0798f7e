// The bridge's account check per connection, with 30,000 rows in the kernel's TCP table (15,000
// loopback connections held open, as another account's flood would leave): the kernel's answer
// for one socket against reading the whole of /proc/net/tcp and tcp6.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Held for the whole run of the benchmarks: both ends of every connection are rows.
struct Table {
  std::vector<int> descriptors;
  Connection last;
  explicit Table(int connections) {
    rlimit most{static_cast<rlim_t>(2 * connections + 64), static_cast<rlim_t>(2 * connections + 64)};
    setrlimit(RLIMIT_NOFILE, &most);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), size);
    listen(listener, 4096);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    for (int i = 0; i < connections; ++i) {
      int client = socket(AF_INET, SOCK_STREAM, 0);
      if (connect(client, reinterpret_cast<sockaddr*>(&address), size) != 0) break;
      int accepted = accept(listener, nullptr, nullptr);
      descriptors.insert(descriptors.end(), {client, accepted});
      last = {EndOf(accepted, false), EndOf(accepted, true)};
    }
    descriptors.push_back(listener);
  }
};

Table& Rows() {
  static Table table(15000);
  return table;
}

void BM_AccountKernel(benchmark::State& state) {
  Table& table = Rows();
  for (auto _ : state) benchmark::DoNotOptimize(KernelClientUser(table.last));
  state.counters["rows"] = static_cast<double>(table.descriptors.size() - 1);
}
BENCHMARK(BM_AccountKernel)->Unit(benchmark::kMicrosecond);

void BM_AccountProcTables(benchmark::State& state) {
  Table& table = Rows();
  for (auto _ : state) benchmark::DoNotOptimize(ProcClientUser(table.last));
  state.counters["rows"] = static_cast<double>(table.descriptors.size() - 1);
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
