// What watching every library call for a hang costs in a record-by-record search: the program's
// search through the stand-in library (every QvlMatch watched) against a floor that does the
// same read and the same calls straight into the library, side by side, fastest of 7 each.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <random>

#include "base/fault.h"
#include "scanner/library_loader.h"
#include "templates/identification.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

void ShowNothing(const std::string&) {}

// The fastest of `rounds` runs of each, alternating, so that both meet the same load.
std::pair<double, double> FastestSeconds(const std::function<void()>& first,
                                         const std::function<void()>& second, int rounds) {
  double fastest[2] = {1e9, 1e9};
  for (int round = 0; round < rounds; ++round) {
    auto started = std::chrono::steady_clock::now();
    first();
    auto middle = std::chrono::steady_clock::now();
    second();
    auto ended = std::chrono::steady_clock::now();
    fastest[0] = std::min(fastest[0], std::chrono::duration<double>(middle - started).count());
    fastest[1] = std::min(fastest[1], std::chrono::duration<double>(ended - middle).count());
  }
  return {fastest[0], fastest[1]};
}

void BM_WatchedSearch(benchmark::State& state) {
  static bool watching = (ReportFaults(ShowNothing, {6, 1, 8}), true);
  benchmark::DoNotOptimize(watching);
  long records = state.range(0);
  ScopedTempDir dir;
  std::string path = dir.File("match.bin");
  {
    std::mt19937 random(7);
    std::vector<char> bytes(static_cast<std::size_t>(records) * kTemplateRecordSize);
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  }
  std::string library_path;
  void* library = LoadScannerLibrary(library_path);
  auto match = reinterpret_cast<QvlMatchFn>(FindLibrarySymbol(library, "QvlMatch"));
  std::unique_ptr<ScannerLibrary> scanner = NewVendorScannerLibrary();
  FeatureBuffer probe{};
  std::function<void()> floor = [&] {
    DatabaseBuffer database = ReadDatabaseFile(path);
    int matched = 0;
    for (std::size_t record = 0; record < database.record_count(); ++record)
      matched += match(probe.data(), database.record(record), 3) == 0;
    benchmark::DoNotOptimize(matched);
  };
  std::function<void()> search = [&] {
    DatabaseBuffer database = ReadDatabaseFile(path);
    benchmark::DoNotOptimize(MatchingRecords(*scanner, database, probe, 3));
  };
  for (auto _ : state) {
    auto [search_seconds, floor_seconds] = FastestSeconds(search, floor, 7);
    state.SetIterationTime(search_seconds);
    state.counters["floor_ms"] = floor_seconds * 1e3;
    state.counters["search_ms"] = search_seconds * 1e3;
    state.counters["ratio"] = search_seconds / floor_seconds;
    state.counters["own_ns_per_record"] =
        (search_seconds - floor_seconds) * 1e9 / static_cast<double>(records);
  }
}

BENCHMARK(BM_WatchedSearch)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qvl
