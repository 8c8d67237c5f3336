// clmul_kernels_bench.cc -- the CRC-32 carry-less-multiply kernels, row by
// row of the tier table, against peers called once per chunk (zlib's crc32(), ISA-L's
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
#include "util/bulk_crc32_internal.h"
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

// A kernel of the tier table, called as the driver calls it.
void kernel(const zelkor::crc_entries &k, const uint8_t *data, size_t len, size_t cs,
            uint32_t *words) {
  const auto one = [&](const uint8_t *p, size_t n) {
    return zelkor::stored_word(k.one(zelkor::kRegisterInit, p, n));
  };
  if (cs >= len) {
    *words = one(data, len);
    return;
  }
  k.chunks(data, cs, len / cs, words);
  if (len % cs) words[len / cs] = one(data + len / cs * cs, len % cs);
}

void engine_tables(const uint8_t *data, size_t len, size_t cs, uint32_t *words) {
  bulk_crc(data, len, words, CRC32_ZLIB_POLYNOMIAL, static_cast<int>(cs), nullptr);
}

// A peer, or a row of the tier table (null for the peers) as it runs
// natively or as its model.
struct impl {
  std::string name;
  chunk_fn fn;
  const zelkor::tier_row *row = nullptr;
  bool model = false;
};

// Every CRC-32 kernel of the table, each model after its native kernel (a
// model is no tier of its own, but its speed shows what the same body costs
// on 128-bit operations), then the peers.
std::vector<impl> impls() {
  std::vector<impl> out;
  for (const zelkor::tier_row &r : zelkor::tier_rows()) {
    if (r.poly != zelkor::crc_poly::crc32_zlib || r.native.chunks == nullptr) continue;
    out.push_back({std::string("clmul_") + r.name, nullptr, &r});
    if (r.model.chunks != nullptr)
      out.push_back({std::string("clmul_") + r.name + "_model", nullptr, &r, true});
  }
  out.push_back({"isal_crc32_gzip_refl", per_chunk<isal_one>});
  out.push_back({"zlib_crc32", per_chunk<zlib_one>});
  out.push_back({"engine_tables", engine_tables});
  return out;
}

void call(const impl &im, const uint8_t *data, size_t len, size_t cs, uint32_t *words) {
  if (im.row != nullptr)
    kernel(im.model ? im.row->model : im.row->native, data, len, cs, words);
  else
    im.fn(data, len, cs, words);
}

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
  call(im, data.data(), c.total, c.chunk, words.data());
  if (words != want) {
    state.SkipWithError("words differ from zlib's");
    return;
  }
  for (auto _ : state) {
    call(im, data.data(), c.total, c.chunk, words.data());
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
  static const std::vector<impl> all = impls();
  for (const auto &c : kCases)
    for (const auto &im : all) {
      if (im.row != nullptr && !(im.model ? zelkor::model_runs_here(*im.row, features)
                                          : zelkor::runs_here(*im.row, features)))
        continue;
      benchmark::RegisterBenchmark((std::string("crc32/") + c.name + "/" + im.name).c_str(),
                                   [&im, &c](benchmark::State &s) { run(s, im, c); });
    }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
