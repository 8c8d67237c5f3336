// armv8_crc_chains.h -- CRC32C and CRC-32 on chains of the ARMv8 CRC32
// instructions (crc32c{b,x} and crc32{b,x}), for both polynomials' kernels.
//
// On the cores measured so far the instruction issues once per cycle with a
// latency of two (Neoverse N1, V1, V2) or three (Apple Firestorm) cycles, so
// three chains cover every one of them; more chains than that add nothing
// there, since no core issues two a cycle.  Whole chunks run three in
// lockstep, with the common chunk sizes compile-time constants so that every
// load has a constant offset.  A lone chunk (a leftover one, the partial
// one) is cut into three streams joined by one 64-bit polynomial multiply
// each (PMULL), as the x86 chains join theirs:
//
//   reg(A || B) = reg(A) * x^(8|B|) mod P  XOR  reg0(B)
#ifndef ZELKOR_UTIL_CRC_ARMV8_CRC_CHAINS_H
#define ZELKOR_UTIL_CRC_ARMV8_CRC_CHAINS_H

#include <arm_acle.h>
#include <arm_neon.h>
#include <arpa/inet.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "../../bulk_crc32_internal.h"
#include "../gf2.h"

// The CRC instructions and PMULL (which GCC 12 files under +crypto).
#define ZELKOR_ARMV8_CRC_TARGET __attribute__((target("+crc+crypto")))

namespace zelkor::armv8_crc_chains {

inline constexpr int kChains = 3;
// The longest stream of a round of a lone chunk.
inline constexpr size_t kRoundStream = 4096;
inline constexpr size_t kShiftEntries = kChains * kRoundStream / 8 + 1;

// kShift<P>[m] shifts a register over 8m bytes (gf2::shift_multiplier).
template <uint32_t P>
inline constexpr std::array<uint32_t, kShiftEntries> kShift = [] {
  std::array<uint32_t, kShiftEntries> t{};
  const uint32_t x64 = gf2::x_pow(P, 64);
  t[1] = gf2::shift_multiplier(P, 8);
  for (size_t m = 2; m < kShiftEntries; ++m) t[m] = gf2::mul_mod(P, t[m - 1], x64);
  return t;
}();
static_assert(kShift<gf2::kCrc32c>[kShiftEntries - 1] ==
              gf2::shift_multiplier(gf2::kCrc32c, 8 * (kShiftEntries - 1)));
static_assert(kShift<gf2::kCrc32Zlib>[kShiftEntries - 1] ==
              gf2::shift_multiplier(gf2::kCrc32Zlib, 8 * (kShiftEntries - 1)));

// The instruction of each polynomial: crc32c* for CRC32C, crc32* for zlib's.
template <uint32_t P>
ZELKOR_ARMV8_CRC_TARGET inline uint32_t step64(uint32_t c, uint64_t v) {
  static_assert(P == gf2::kCrc32c || P == gf2::kCrc32Zlib);
  if constexpr (P == gf2::kCrc32c)
    return __crc32cd(c, v);
  else
    return __crc32d(c, v);
}
template <uint32_t P>
ZELKOR_ARMV8_CRC_TARGET inline uint32_t step8(uint32_t c, uint8_t v) {
  if constexpr (P == gf2::kCrc32c)
    return __crc32cb(c, v);
  else
    return __crc32b(c, v);
}

inline uint32_t stored(uint32_t reg) { return htonl(~reg); }

// One chain over n bytes.
template <uint32_t P>
ZELKOR_ARMV8_CRC_TARGET inline uint32_t crc_serial(uint32_t c, const uint8_t *p, size_t n) {
  for (; n >= 8; n -= 8, p += 8) c = step64<P>(c, load_le64(p));
  for (; n > 0; --n, ++p) c = step8<P>(c, *p);
  return c;
}

// N streams of `len` bytes each, back to back from p, in lockstep; LEN == 0
// means the length is only known at run time.  c[] holds the registers.
template <uint32_t P, int N, size_t LEN>
ZELKOR_ARMV8_CRC_TARGET inline void lockstep(uint32_t (&c)[N], const uint8_t *p, size_t len) {
  if constexpr (LEN != 0) len = LEN;
  uint32_t r[N];
  for (int k = 0; k < N; ++k) r[k] = c[k];
  const size_t words = len / 8;
  for (size_t i = 0; i < words; ++i, p += 8) {
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) r[k] = step64<P>(r[k], load_le64(p + k * len));
  }
  for (size_t i = len % 8; i > 0; --i, ++p) {
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) r[k] = step8<P>(r[k], p[k * len]);
  }
  for (int k = 0; k < N; ++k) c[k] = r[k];
}

// The 64-bit carry-less product of two 32-bit values.
ZELKOR_ARMV8_CRC_TARGET inline uint64_t clmul32(uint32_t a, uint32_t k) {
  return vgetq_lane_u64(vreinterpretq_u64_p128(vmull_p64(a, k)), 0);
}

// Joins the registers of N back-to-back streams of b bytes each (every one
// started from zero) onto acc, the register over everything before them.
template <uint32_t P, int N>
ZELKOR_ARMV8_CRC_TARGET inline uint32_t join_streams(uint32_t acc, const uint32_t (&c)[N],
                                                     size_t b) {
  uint64_t t = clmul32(acc, kShift<P>[N * b / 8]);
  for (int k = 0; k < N - 1; ++k) t ^= clmul32(c[k], kShift<P>[(N - 1 - k) * b / 8]);
  return step64<P>(0, t) ^ c[N - 1];
}

// Register of the message over one buffer, on kChains streams.
template <uint32_t P>
ZELKOR_ARMV8_CRC_TARGET inline uint32_t one_register(const uint8_t *p, size_t len) {
  constexpr int N = kChains;
  uint32_t acc = 0xFFFFFFFFu;
  while (len >= N * 8) {
    const size_t b = len >= N * kRoundStream ? kRoundStream : len / (N * 8) * 8;
    uint32_t c[N] = {};
    if (b == kRoundStream)
      lockstep<P, N, kRoundStream>(c, p, b);
    else
      lockstep<P, N, 0>(c, p, b);
    acc = join_streams<P, N>(acc, c, b);
    p += N * b;
    len -= N * b;
  }
  return crc_serial<P>(acc, p, len);
}

// Whole chunks: groups of kChains in lockstep, the rest one by one.
template <uint32_t P, size_t CS>
ZELKOR_ARMV8_CRC_TARGET inline void chunks_n(const uint8_t *p, size_t cs, size_t n,
                                             uint32_t *words) {
  constexpr int N = kChains;
  if constexpr (CS != 0) cs = CS;
  for (; n >= N; n -= N, p += N * cs, words += N) {
    uint32_t c[N] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    lockstep<P, N, CS>(c, p, cs);
    for (int k = 0; k < N; ++k) words[k] = stored(c[k]);
  }
  for (; n > 0; --n, p += cs) *words++ = stored(one_register<P>(p, cs));
}

template <uint32_t P>
ZELKOR_ARMV8_CRC_TARGET inline void chunks(const uint8_t *p, size_t cs, size_t n,
                                           uint32_t *words) {
  switch (cs) {
    case 512: return chunks_n<P, 512>(p, cs, n, words);
    case 1024: return chunks_n<P, 1024>(p, cs, n, words);
    case 4096: return chunks_n<P, 4096>(p, cs, n, words);
    default: return chunks_n<P, 0>(p, cs, n, words);
  }
}

}  // namespace zelkor::armv8_crc_chains

#endif  // ZELKOR_UTIL_CRC_ARMV8_CRC_CHAINS_H
