// chains.h -- a CRC on many chains of a CRC instruction, for either
// polynomial on either architecture.
//
// A CRC instruction has a latency of a few cycles and issues every cycle on
// each of the processor's units for it, so it runs at full rate only with
// enough independent chains in flight: three for one unit of latency three
// (Intel, AMD Zen 1-4, the aarch64 cores), nine or more on AMD Zen 5.
// Whole chunks run in lockstep, one chain each, with the chunk size a
// compile-time constant for the common sizes, so that every load has a
// constant displacement.  A lone chunk (a leftover one, the partial one) is
// cut into as many streams as there are chains; each stream starts from a
// zero register and the streams are joined by carry-less multiplication:
//
//   reg(A || B) = reg(A) * x^(8|B|) mod P  XOR  reg0(B)
//
// Written once over a step type S, which names the polynomial and supplies
// the instruction:
//   S::kPoly                  the polynomial (gf2.h's form)
//   S::reg_t                  the register as the instruction takes it
//   S::step64(reg_t, uint64_t), S::step8(reg_t, uint8_t)
//   S::clmul32(uint32_t, uint32_t) -> uint64_t, the carry-less product
// The including architecture defines ZELKOR_CHAINS_STEP (the target of the
// CRC instruction alone, for code that only steps) and ZELKOR_CHAINS_JOIN
// (with the carry-less multiply too) before including this header.
#ifndef ZELKOR_UTIL_CRC_CHAINS_H
#define ZELKOR_UTIL_CRC_CHAINS_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "../bulk_crc32_internal.h"
#include "gf2.h"
#include "prefetch.h"

namespace zelkor::chains {

// The longest stream of a round, and the most chains of any kernel.
inline constexpr size_t kRoundStream = 4096;
inline constexpr int kMaxChains = 16;
inline constexpr size_t kShiftEntries = kMaxChains * kRoundStream / 8 + 1;

// kShift<P>[m] shifts a register over 8m bytes (gf2::shift_multiplier).
template <uint32_t P>
inline constexpr std::array<uint32_t, kShiftEntries> kShift = [] {
  std::array<uint32_t, kShiftEntries> t{};
  const uint32_t x64 = gf2::x_pow(P, 64);
  t[1] = gf2::shift_multiplier(P, 8);
  for (size_t m = 2; m < kShiftEntries; ++m) t[m] = gf2::mul_mod(P, t[m - 1], x64);
  return t;
}();

// One chain over n bytes.
template <class S>
ZELKOR_CHAINS_STEP inline uint32_t crc_serial(uint32_t c, const uint8_t *p, size_t n) {
  typename S::reg_t r = c;
  for (; n >= 8; n -= 8, p += 8) r = S::step64(r, load_le64(p));
  for (; n > 0; --n, ++p) r = S::step8(r, *p);
  return static_cast<uint32_t>(r);
}

// N streams of `len` bytes each, back to back from p, in lockstep; LEN == 0
// means the length is only known at run time.  c[0 .. N) holds the registers.
template <class S, int N, size_t LEN>
ZELKOR_CHAINS_STEP inline void lockstep(uint32_t *c, const uint8_t *p, size_t len) {
  if constexpr (LEN != 0) len = LEN;
  typename S::reg_t r[N];
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) r[k] = c[k];
  const size_t words = len / 8;
  for (size_t i = 0; i < words; ++i, p += 8) {
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) r[k] = S::step64(r[k], load_le64(p + k * len));
  }
  for (size_t i = len % 8; i > 0; --i, ++p) {
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) r[k] = S::step8(r[k], p[k * len]);
  }
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) c[k] = static_cast<uint32_t>(r[k]);
}

// The pipelined-routine shape over the instruction: up to three registers,
// each advanced over its own block of block_size bytes, blocks back to back
// from p.  One loop per count, so the count is tested once per call; false
// (nothing read or written) for a count outside 1..3, which the routine
// reports as its own failure.  All three registers are written back, the
// absent blocks' unchanged.
template <class S>
ZELKOR_CHAINS_STEP inline bool three_blocks(uint32_t *crc1, uint32_t *crc2, uint32_t *crc3,
                                            const uint8_t *p, size_t block_size, int num_blocks) {
  uint32_t c[3] = {*crc1, *crc2, *crc3};
  switch (num_blocks) {
    case 3: lockstep<S, 3, 0>(c, p, block_size); break;
    case 2: lockstep<S, 2, 0>(c, p, block_size); break;
    case 1: lockstep<S, 1, 0>(c, p, block_size); break;
    default: return false;
  }
  *crc1 = c[0];
  *crc2 = c[1];
  *crc3 = c[2];
  return true;
}

// Joins the registers of N back-to-back streams of b bytes each (every one
// started from zero) onto acc, the register over everything before them:
// acc moves past all N streams, stream k past the N-1-k after it.  The
// products are summed before the one CRC step that reduces them.
template <class S, int N>
ZELKOR_CHAINS_JOIN inline uint32_t join_streams(uint32_t acc, const uint32_t (&c)[N], size_t b) {
  constexpr const auto &shift = kShift<S::kPoly>;
  uint64_t t = S::clmul32(acc, shift[N * b / 8]);
#pragma GCC unroll 16
  for (int k = 0; k < N - 1; ++k) t ^= S::clmul32(c[k], shift[(N - 1 - k) * b / 8]);
  return static_cast<uint32_t>(S::step64(0, t)) ^ c[N - 1];
}

// The register after one buffer, on N streams, continued from acc.
template <class S, int N>
ZELKOR_CHAINS_JOIN inline uint32_t one_register(uint32_t acc, const uint8_t *p, size_t len) {
  const bool prefetch = len >= kPrefetchMin;
  while (len >= N * 8) {
    const size_t b = len >= N * kRoundStream ? kRoundStream : len / (N * 8) * 8;
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * b, N * b);
    uint32_t c[N] = {};
    if (b == kRoundStream)
      lockstep<S, N, kRoundStream>(c, p, b);
    else
      lockstep<S, N, 0>(c, p, b);
    acc = join_streams<S, N>(acc, c, b);
    p += N * b;
    len -= N * b;
  }
  return crc_serial<S>(acc, p, len);
}

// Whole chunks: groups of N in lockstep, the rest (fewer than N) one by one
// on all N streams.
template <class S, int N, size_t CS>
ZELKOR_CHAINS_JOIN inline void chunks_n(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if constexpr (CS != 0) cs = CS;
  const bool prefetch = n * cs >= kPrefetchMin;
  for (; n >= N; n -= N, p += N * cs, words += N) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * cs, N * cs);
    uint32_t c[N];
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) c[k] = kRegisterInit;
    lockstep<S, N, CS>(c, p, cs);
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) words[k] = stored_word(c[k]);
  }
  for (; n > 0; --n, p += cs) *words++ = stored_word(one_register<S, N>(kRegisterInit, p, cs));
}

// The chunk sizes that kernels compile copies of their chunk loops for,
// each with its size a constant: X(size) for each.
#define ZELKOR_COMMON_CHUNK_SIZES(X) X(128) X(256) X(512) X(1024) X(2048) X(4096)

template <class S, int N>
ZELKOR_CHAINS_JOIN inline void chunks(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
#define ZELKOR_CASE(size) \
  case size: return chunks_n<S, N, size>(p, cs, n, words);
  switch (cs) {
    ZELKOR_CASE(64)
    ZELKOR_COMMON_CHUNK_SIZES(ZELKOR_CASE)
    default: return chunks_n<S, N, 0>(p, cs, n, words);
  }
#undef ZELKOR_CASE
}

}  // namespace zelkor::chains

#endif  // ZELKOR_UTIL_CRC_CHAINS_H
