// bulk_crc_bench.cc -- bulk_crc throughput at 512-byte chunks, in cache and
// out of it; and what the load-time choice costs (the features read, every
// chosen kernel and the multiplier checked against their known answers),
// warm and with the caches emptied first.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bulk_crc32.h"
#include "crc/tiers.h"

namespace {

constexpr int kChunk = 512;

// Arguments: checksum type, buffer bytes, verify (0/1).
void BM_BulkCrc(benchmark::State &state) {
  const int type = static_cast<int>(state.range(0));
  const size_t len = static_cast<size_t>(state.range(1));
  const bool verify = state.range(2) != 0;
  std::vector<uint8_t> data(len);
  for (size_t i = 0; i < len; ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  std::vector<uint32_t> sums((len + kChunk - 1) / kChunk);
  bulk_crc(data.data(), len, sums.data(), type, kChunk, nullptr);
  crc32_error_t err;
  for (auto _ : state) {
    const int rc = bulk_crc(data.data(), len, sums.data(), type, kChunk, verify ? &err : nullptr);
    if (rc != BULK_CRC_OK) state.SkipWithError("bulk_crc failed");
    benchmark::DoNotOptimize(sums.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
  state.SetLabel(std::string(type == CRC32C_POLYNOMIAL ? "CRC32C" : "CRC-32") +
                 (verify ? " verify" : " compute"));
}

BENCHMARK(BM_BulkCrc)
    ->ArgNames({"type", "bytes", "verify"})
    ->ArgsProduct({{CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL}, {16 << 10, 64 << 20}, {0, 1}});

}  // namespace

// Argument: 1 to empty the caches before each choice (a pass over 64 MiB).
void BM_LoadTimeChoice(benchmark::State &state) {
  std::vector<uint8_t> evict(state.range(0) != 0 ? 64u << 20 : 0);
  for (auto _ : state) {
    if (!evict.empty()) {
      state.PauseTiming();
      for (size_t i = 0; i < evict.size(); i += 64) evict[i] += 1;
      benchmark::ClobberMemory();
      state.ResumeTiming();
    }
    zelkor::select_tiers_at_load();
  }
  state.counters["us"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1e-6,
                                            benchmark::Counter::kIsRate |
                                                benchmark::Counter::kInvert);
}

BENCHMARK(BM_LoadTimeChoice)->ArgName("cold")->Arg(0)->Arg(1);

BENCHMARK_MAIN();
