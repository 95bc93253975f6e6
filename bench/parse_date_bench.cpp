// Cost of one timestamp parse, alone and as the scan calls it with a memo.
#include "timing.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Timestamps of a sorted log: eight lines a second.
std::vector<std::string> sorted_stamps(const char *format) {
  std::vector<std::string> stamps;
  for (std::time_t t = 1704067200; stamps.size() < 4096; ++t) {
    std::tm tm;
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    for (int i = 0; i < 8; ++i)
      stamps.push_back(std::string(buf) + ".123Z web-01 GET /");
  }
  return stamps;
}

void run(benchmark::State &state, const char *format, bool memo) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::vector<std::string> stamps = sorted_stamps(format);
  date_memo m{};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        parse_date(stamps[i].c_str(), memo ? &m : nullptr));
    i = (i + 1) % stamps.size();
  }
}

void canonical(benchmark::State &state) {
  run(state, "%Y-%m-%dT%H:%M:%S", false);
}
void canonical_memo(benchmark::State &state) {
  run(state, "%Y-%m-%dT%H:%M:%S", true);
}
void odd_shapes(benchmark::State &state) {
  run(state, "  +%Y-%-m-%-dT %-H:%-M:%-S", false);
}
void odd_shapes_memo(benchmark::State &state) {
  run(state, "  +%Y-%-m-%-dT %-H:%-M:%-S", true);
}

void rejected(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(parse_date("2024-03-01 12:00:05Z not a stamp"));
}

BENCHMARK(canonical);
BENCHMARK(canonical_memo);
BENCHMARK(odd_shapes);
BENCHMARK(odd_shapes_memo);
BENCHMARK(rejected);

} // namespace

BENCHMARK_MAIN();
