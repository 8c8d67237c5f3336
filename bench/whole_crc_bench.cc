// whole_crc_bench.cc -- whole-buffer CRCs (zelkor_crc.h): update against
// ISA-L's crc32_iscsi / crc32_gzip_refl and zlib's crc32() on the same
// buffer, compose of a buffer's stored words against an update over the
// buffer itself, and combine at lengths of every size.  Every peer's value
// is checked against zelkor_crc_update's before it is timed.  CRC-64/NVME
// (zelkor_crc64_update, under each tier that runs here) against ISA-L's
// crc64_ecma_refl and crc64_jones_refl: the same reflected 64-bit folds on
// other polynomials, so their values are checked against a bitwise CRC of
// their own polynomial instead.
//
//   build/release/bench/whole_crc_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true   (one command line)
//
// The GB/s counter is decimal gigabytes of data per second (for compose: of
// the data the words stand for).
#include <benchmark/benchmark.h>
#include <isa-l/crc.h>
#include <isa-l/crc64.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "util/crc/multiply.h"
#include "util/crc/tiers.h"
#include "util/zelkor_crc.h"

namespace {

constexpr size_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;

const std::vector<uint8_t> &data_of(size_t n) {
  static std::vector<uint8_t> buf;
  if (buf.size() < n) {
    buf.resize(n);
    std::mt19937_64 rng(42);
    for (size_t i = 0; i < n; i += 8) {
      const uint64_t v = rng();
      for (size_t b = 0; b < 8 && i + b < n; ++b) buf[i + b] = static_cast<uint8_t>(v >> (8 * b));
    }
  }
  return buf;
}

uint32_t ours(int type, const uint8_t *p, size_t n) {
  uint32_t crc = 0;
  zelkor_crc_update(type, &crc, p, n);
  return crc;
}
uint32_t isal_iscsi(int, const uint8_t *p, size_t n) {
  return ~crc32_iscsi(const_cast<uint8_t *>(p), static_cast<int>(n), 0xFFFFFFFFu);
}
uint32_t isal_gzip(int, const uint8_t *p, size_t n) { return crc32_gzip_refl(0, p, n); }
uint32_t zlib(int, const uint8_t *p, size_t n) { return static_cast<uint32_t>(crc32_z(0, p, n)); }

using crc_fn = uint32_t (*)(int, const uint8_t *, size_t);

void update(benchmark::State &state, int type, crc_fn fn) {
  const size_t n = static_cast<size_t>(state.range(0));
  const uint8_t *p = data_of(n).data();
  if (fn(type, p, n) != ours(type, p, n)) {
    state.SkipWithError("value differs from zelkor_crc_update");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(fn(type, p, n));
  state.counters["GB/s"] = benchmark::Counter(static_cast<double>(n) * state.iterations() / 1e9,
                                              benchmark::Counter::kIsRate);
}

// The stored words of n bytes at 512-byte chunks, composed.
void compose(benchmark::State &state, int type) {
  const size_t n = static_cast<size_t>(state.range(0));
  constexpr int kChunk = 512;
  std::vector<uint32_t> words(n / kChunk);
  const uint8_t *p = data_of(n).data();
  bulk_crc(p, n, words.data(), type, kChunk, nullptr);
  uint32_t crc = 0;
  zelkor_crc_compose(type, words.data(), n, kChunk, &crc);
  if (crc != ours(type, p, n)) {
    state.SkipWithError("composed value differs from zelkor_crc_update");
    return;
  }
  for (auto _ : state) {
    zelkor_crc_compose(type, words.data(), n, kChunk, &crc);
    benchmark::DoNotOptimize(crc);
  }
  state.counters["GB/s"] = benchmark::Counter(static_cast<double>(n) * state.iterations() / 1e9,
                                              benchmark::Counter::kIsRate);
  state.counters["ns/word"] = benchmark::Counter(
      static_cast<double>(words.size()) * state.iterations(),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

uint64_t ours64(const uint8_t *p, size_t n) {
  uint64_t crc = 0;
  zelkor_crc64_update(CRC64_NVME, &crc, p, n);
  return crc;
}
uint64_t bitwise64(uint64_t poly, const uint8_t *p, size_t n) {
  uint64_t reg = ~uint64_t{0};
  for (size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int b = 0; b < 8; ++b) reg = (reg >> 1) ^ ((reg & 1) ? poly : 0);
  }
  return ~reg;
}

// One CRC-64 routine: under a tier of ours (forced for the run), or a peer
// with its own polynomial (reflected), whose value is checked on a prefix.
void update64(benchmark::State &state, const zelkor::tier_row *row,
              uint64_t (*peer)(uint64_t, const uint8_t *, uint64_t), uint64_t peer_poly) {
  const size_t n = static_cast<size_t>(state.range(0));
  const uint8_t *p = data_of(n).data();
  if (row != nullptr && !zelkor::force_tier(*row)) {
    state.SkipWithError("this processor does not run the tier");
    return;
  }
  const size_t check = n < 4096 ? n : 4096;
  const bool right = peer != nullptr
                         ? peer(0, p, check) == bitwise64(peer_poly, p, check)
                         : ours64(p, check) == bitwise64(0x9A6C9329AC4BC9B5u, p, check);
  if (!right) {
    state.SkipWithError("value differs from the bitwise CRC");
    return;
  }
  if (peer != nullptr) {
    for (auto _ : state) benchmark::DoNotOptimize(peer(0, p, n));
  } else {
    for (auto _ : state) benchmark::DoNotOptimize(ours64(p, n));
  }
  state.counters["GB/s"] = benchmark::Counter(static_cast<double>(n) * state.iterations() / 1e9,
                                              benchmark::Counter::kIsRate);
}

// Lengths drawn from every magnitude, so that no length's bytes are cheaper;
// for the 32-bit types, or CRC-64 (its own combine over 64-bit values).
template <class Crc, int (*Combine)(int, Crc, Crc, uint64_t, Crc *)>
void combine(benchmark::State &state, int type) {
  std::mt19937_64 rng(7);
  std::vector<uint64_t> lengths(1024);
  for (uint64_t &l : lengths) l = rng() >> (rng() % 64);
  Crc crc = 0x1234567u;
  size_t i = 0;
  for (auto _ : state) {
    Combine(type, crc, 0x89ABCDEFu, lengths[i++ & 1023], &crc);
    benchmark::DoNotOptimize(crc);
  }
}

void register_all() {
  std::printf("multiplier: %s\n", zelkor::multiplier_in_force().name);
  for (int64_t n : {int64_t{16 * KiB}, int64_t{64 * MiB}}) {
    benchmark::RegisterBenchmark("update/crc32c/zelkor", update, CRC32C_POLYNOMIAL, ours)->Arg(n);
    benchmark::RegisterBenchmark("update/crc32c/isal_crc32_iscsi", update, CRC32C_POLYNOMIAL,
                                 isal_iscsi)->Arg(n);
    benchmark::RegisterBenchmark("update/crc32/zelkor", update, CRC32_ZLIB_POLYNOMIAL, ours)
        ->Arg(n);
    benchmark::RegisterBenchmark("update/crc32/isal_crc32_gzip_refl", update,
                                 CRC32_ZLIB_POLYNOMIAL, isal_gzip)->Arg(n);
    benchmark::RegisterBenchmark("update/crc32/zlib_crc32", update, CRC32_ZLIB_POLYNOMIAL, zlib)
        ->Arg(n);
  }
  for (int type : {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL}) {
    const char *t = type == CRC32C_POLYNOMIAL ? "crc32c" : "crc32";
    benchmark::RegisterBenchmark((std::string("update_1GiB/") + t).c_str(), update, type, ours)
        ->Arg(static_cast<int64_t>(GiB))->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("compose_1GiB_512/") + t).c_str(), compose, type)
        ->Arg(static_cast<int64_t>(GiB))->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("combine_any_length/") + t).c_str(),
                                 combine<uint32_t, zelkor_crc_combine>, type);
  }
  benchmark::RegisterBenchmark("combine_any_length/crc64", combine<uint64_t, zelkor_crc64_combine>,
                               CRC64_NVME);
  // The load-time choice first (named in the header line), then every tier.
  const zelkor::tier_row &chosen = zelkor::tier_in_force(zelkor::crc_poly::crc64_nvme);
  std::printf("crc64 tier: %s\n", zelkor::tier_name(chosen));
  for (int64_t n : {int64_t{64}, int64_t{256}, int64_t{4 * KiB}, int64_t{64 * KiB},
                    int64_t{64 * MiB}}) {
    for (const zelkor::tier_row &r : zelkor::tier_rows()) {
      if (r.poly != zelkor::crc_poly::crc64_nvme) continue;
      const std::string name = std::string("update/crc64/zelkor_") + r.name +
                               (&r == &chosen ? "_chosen" : "");
      benchmark::RegisterBenchmark(name.c_str(), update64, &r, nullptr, 0)->Arg(n);
    }
    benchmark::RegisterBenchmark("update/crc64/isal_crc64_ecma_refl", update64, nullptr,
                                 crc64_ecma_refl, 0xC96C5795D7870F42u)->Arg(n);
    benchmark::RegisterBenchmark("update/crc64/isal_crc64_jones_refl", update64, nullptr,
                                 crc64_jones_refl, 0x95AC9329AC4BC9B5u)->Arg(n);
  }
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  register_all();
  const zelkor::tier_row &chosen = zelkor::tier_in_force(zelkor::crc_poly::crc64_nvme);
  benchmark::RunSpecifiedBenchmarks();
  zelkor::force_tier(chosen);
  benchmark::Shutdown();
  return 0;
}
