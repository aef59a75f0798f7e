// Record-by-record identification over 1k, 100k and 1M records, with a matcher that costs next
// to nothing so the program's own work shows: the database read against the floor (a plain
// read of the same file into a fresh buffer), and the whole search.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>

#include "templates/identification.h"
#include "templates/template_files.h"
#include "testing/fakes.h"

namespace qvl {
namespace {

class TrivialScanner : public FakeScanner {
 public:
  std::int16_t Match(const std::uint8_t* probe, const std::uint8_t* stored, std::int16_t) override {
    return probe[0] == stored[0] ? 0 : 1;
  }
};

// One database file per size, made once: random records, about one in 256 matching.
const std::string& DatabaseOf(long records) {
  static ScopedTempDir dir;
  static std::map<long, std::string> paths;
  auto [at, added] = paths.emplace(records, dir.File(std::to_string(records) + ".bin"));
  if (added) {
    std::mt19937 random(7);
    std::vector<char> bytes(static_cast<std::size_t>(records) * kTemplateRecordSize);
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(at->second, std::ios::binary)
        .write(bytes.data(), static_cast<long>(bytes.size()));
  }
  return at->second;
}

void Report(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * state.range(0) * kTemplateRecordSize);
}

void BM_ReadFloor(benchmark::State& state) {
  const std::string& path = DatabaseOf(state.range(0));
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(size)]);
    benchmark::DoNotOptimize(std::fread(buffer.get(), 1, static_cast<std::size_t>(size), file));
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.get());
  }
  Report(state);
}

void BM_ReadDatabase(benchmark::State& state) {
  const std::string& path = DatabaseOf(state.range(0));
  for (auto _ : state) {
    DatabaseBuffer database = ReadDatabaseFile(path);
    benchmark::DoNotOptimize(database.data());
  }
  Report(state);
}

void BM_IdentifyEachRecord(benchmark::State& state) {
  const std::string& path = DatabaseOf(state.range(0));
  TrivialScanner scanner;
  FakeWindow window;
  FeatureBuffer probe{};
  for (auto _ : state) {
    DatabaseBuffer database = ReadDatabase(window, path, false);
    benchmark::DoNotOptimize(Identify(scanner, database, probe, 3, false, true));
  }
  Report(state);
}

// The record loop alone, on a database in memory, with a matcher that reads nothing and
// matches every 256th call: what the program itself spends per record.
class CountingScanner : public FakeScanner {
 public:
  std::int16_t Match(const std::uint8_t*, const std::uint8_t*, std::int16_t) override {
    return (++count_ & 255) == 0 ? 0 : 1;
  }

 private:
  unsigned count_ = 0;
};

void BM_RecordLoop(benchmark::State& state) {
  DatabaseBuffer database(static_cast<std::size_t>(state.range(0)) * kTemplateRecordSize);
  CountingScanner scanner;
  FeatureBuffer probe{};
  for (auto _ : state) benchmark::DoNotOptimize(MatchingRecords(scanner, database, probe, 3));
  Report(state);
}

BENCHMARK(BM_ReadFloor)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDatabase)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdentifyEachRecord)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordLoop)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qvl
