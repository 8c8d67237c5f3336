// bulk_crc_bench.cc -- bulk_crc throughput at 512-byte chunks, in cache and out of it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bulk_crc32.h"

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

BENCHMARK_MAIN();
