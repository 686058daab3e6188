// Creating a sample account set with every fault planted, at 10^5 and 10^6 document lines: the
// wall time of one creation and the size of the file it leaves. Target: 10^6 lines in under
// two minutes on the project's two-core machine.
//
//   sample_bench [--benchmark_filter=...]     (run from a Release build; writes to TMPDIR)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "sample/sample.h"

namespace {

using namespace std::string_literals;

namespace fs = std::filesystem;

void BM_CreateSample(benchmark::State& state) {
  const fs::path path =
      fs::temp_directory_path() / ("tallyvet_sample_bench_"s + std::to_string(::getpid()) + ".db");
  tallyvet::sample::SampleOptions options;
  options.path = path;
  options.scale = state.range(0);
  options.faults = tallyvet::sample::FaultSet::kAll;
  options.overwrite = true;
  double seconds = 0;
  std::int64_t lines = 0;
  for (auto _ : state) {
    const auto started = std::chrono::steady_clock::now();
    const auto manifest = tallyvet::sample::CreateSample(options);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    lines = manifest.at("lines").get<std::int64_t>();
  }
  state.counters["seconds"] = seconds;
  state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / (1024.0 * 1024.0);
  state.counters["lines"] = static_cast<double>(lines);
  std::error_code ec;
  fs::remove(path, ec);
}

BENCHMARK(BM_CreateSample)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
