// clmul_kernels_bench.cc -- the CRC-32 carry-less-multiply kernels, tier by
// tier, against peers called once per chunk (zlib's crc32(), ISA-L's
// crc32_gzip_refl) and against the engine's table path (bulk_crc).  Every
// implementation's words are checked against zlib's before it is timed.
//
//   build/release/bench/clmul_kernels_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true   (one command line)
//
// The GB/s counter is decimal gigabytes of chunk data per second.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <isa-l/crc.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "util/bulk_crc32.h"
#include "util/crc/x86/crc32_zlib_avx2.h"
#include "util/crc/x86/crc32_zlib_pclmul.h"
#include "util/crc/tiers.h"

namespace {

// Stored words of n chunks of cs bytes (the last one may be shorter).
using chunk_fn = void (*)(const uint8_t *data, size_t len, size_t cs, uint32_t *words);

template <uint32_t (*Crc)(const uint8_t *, size_t)>
void per_chunk(const uint8_t *data, size_t len, size_t cs, uint32_t *words) {
  for (size_t off = 0; off < len; off += cs)
    *words++ = Crc(data + off, len - off < cs ? len - off : cs);
}

uint32_t zlib_one(const uint8_t *p, size_t n) {
  return htonl(static_cast<uint32_t>(crc32_z(0, p, n)));
}
uint32_t isal_one(const uint8_t *p, size_t n) { return htonl(crc32_gzip_refl(0, p, n)); }

template <void (*Chunks)(const uint8_t *, size_t, size_t, uint32_t *),
          uint32_t (*One)(const uint8_t *, size_t)>
void kernel(const uint8_t *data, size_t len, size_t cs, uint32_t *words) {
  if (cs >= len) {
    *words = One(data, len);
    return;
  }
  Chunks(data, cs, len / cs, words);
  if (len % cs) words[len / cs] = One(data + len / cs * cs, len % cs);
}

void engine_tables(const uint8_t *data, size_t len, size_t cs, uint32_t *words) {
  bulk_crc(data, len, words, CRC32_ZLIB_POLYNOMIAL, static_cast<int>(cs), nullptr);
}

struct impl {
  const char *name;
  chunk_fn fn;
  zelkor::crc32_zlib_tier needs;  // specified: runs anywhere
};

const impl kImpls[] = {
    {"clmul_pclmul", kernel<zelkor::crc32_zlib_pclmul_chunks, zelkor::crc32_zlib_pclmul_one>,
     zelkor::crc32_zlib_tier::pclmul},
    {"clmul_vpclmul_avx2",
     kernel<zelkor::crc32_zlib_vpclmul_avx2_chunks, zelkor::crc32_zlib_vpclmul_avx2_one>,
     zelkor::crc32_zlib_tier::vpclmul_avx2},
    {"isal_crc32_gzip_refl", per_chunk<isal_one>, zelkor::crc32_zlib_tier::specified},
    {"zlib_crc32", per_chunk<zlib_one>, zelkor::crc32_zlib_tier::specified},
    {"engine_tables", engine_tables, zelkor::crc32_zlib_tier::specified},
};

struct bench_case {
  const char *name;
  size_t chunk;
  size_t total;
};

const bench_case kCases[] = {
    {"512B_chunks/16KiB", 512, 16 << 10},
    {"512B_chunks/1MiB", 512, 1 << 20},
    {"512B_chunks/64MiB", 512, 64 << 20},
    {"64B_chunks/16KiB", 64, 16 << 10},
    {"4KiB_chunks/16KiB", 4096, 16 << 10},
    {"16KiB_chunks/16KiB", 16384, 16 << 10},
    {"one_64MiB_chunk", 64 << 20, 64 << 20},
};

const std::vector<uint8_t> &buffer(size_t n) {
  static std::map<size_t, std::vector<uint8_t>> buffers;
  auto &b = buffers[n];
  if (b.empty()) {
    std::mt19937_64 rng(n);
    b.resize(n);
    for (auto &byte : b) byte = static_cast<uint8_t>(rng());
  }
  return b;
}

void run(benchmark::State &state, const impl &im, const bench_case &c) {
  const auto &data = buffer(c.total);
  std::vector<uint32_t> words((c.total + c.chunk - 1) / c.chunk), want(words.size());
  per_chunk<zlib_one>(data.data(), c.total, c.chunk, want.data());
  im.fn(data.data(), c.total, c.chunk, words.data());
  if (words != want) {
    state.SkipWithError("words differ from zlib's");
    return;
  }
  for (auto _ : state) {
    im.fn(data.data(), c.total, c.chunk, words.data());
    benchmark::DoNotOptimize(words.data());
    benchmark::ClobberMemory();
  }
  state.counters["GB/s"] = benchmark::Counter(static_cast<double>(c.total) / 1e9,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown";
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::AddCustomContext("cpu_model", cpu_model());
  const zelkor::cpu_features features = zelkor::read_cpu_features();
  for (const auto &c : kCases)
    for (const auto &im : kImpls) {
      if (!zelkor::runs_here(im.needs, features)) continue;
      benchmark::RegisterBenchmark((std::string("crc32/") + c.name + "/" + im.name).c_str(),
                                   [&im, &c](benchmark::State &s) { run(s, im, c); });
    }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
