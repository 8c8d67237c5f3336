// armv8_pmull_fold.h -- CRC32C and CRC-32 of long chunks by 128-bit PMULL
// folds, for both polynomials' kernels.
//
// The same folds as the x86-64 kernels: eight accumulators walk the chunk
// 128 bytes at a time, so that eight products are in flight (Neoverse V1-V3
// issue four PMULL a cycle at a latency of two), then fold onto one, which
// the chunk's last whole lanes join.  The end needs no Barrett step here:
// the 16 bytes of the residue V, fed to the CRC instruction from a zero
// register, give V * x^32 mod P, which is the register over everything
// folded; the last 0..15 bytes continue on the instruction.  Short chunks
// have too few lanes to pay for the folds and go to the CRC chains.
#ifndef ZELKOR_UTIL_CRC_AARCH64_ARMV8_PMULL_FOLD_H
#define ZELKOR_UTIL_CRC_AARCH64_ARMV8_PMULL_FOLD_H

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "../gf2.h"
#include "armv8_crc_chains.h"

namespace zelkor::armv8_pmull_fold {

// From this length a chunk is folded.
inline constexpr size_t kFoldMin = 256;

ZELKOR_ARMV8_CRC_TARGET inline uint64x2_t load128(const uint8_t *p) {
  return vreinterpretq_u64_u8(vld1q_u8(p));
}

// x moved forward by D bits (gf2::fold_multiplier): its low half times
// x^(D+64), its high half times x^D.
template <uint32_t P, long long D>
ZELKOR_ARMV8_CRC_TARGET inline uint64x2_t fold(uint64x2_t x) {
  constexpr uint64_t lo = gf2::fold_multiplier(P, D + 64), hi = gf2::fold_multiplier(P, D);
  const poly128_t a = vmull_p64(vgetq_lane_u64(x, 0), lo);
  const poly128_t b = vmull_p64(vgetq_lane_u64(x, 1), hi);
  return veorq_u64(vreinterpretq_u64_p128(a), vreinterpretq_u64_p128(b));
}

// The register after one chunk of at least 128 bytes, continued from reg
// (which is added into its first four bytes).
template <class S>
ZELKOR_ARMV8_CRC_TARGET inline uint32_t fold_register(uint32_t reg, const uint8_t *p, size_t len) {
  constexpr uint32_t P = S::kPoly;
  uint64x2_t a[8];
  a[0] = veorq_u64(load128(p), vcombine_u64(vcreate_u64(reg), vcreate_u64(0)));
  for (int i = 1; i < 8; ++i) a[i] = load128(p + 16 * i);
  for (p += 128, len -= 128; len >= 128; p += 128, len -= 128) {
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) a[i] = veorq_u64(fold<P, 1024>(a[i]), load128(p + 16 * i));
  }
  // Accumulator i stands 128 * (7 - i) bits before the end of the window.
  uint64x2_t v = veorq_u64(veorq_u64(fold<P, 896>(a[0]), fold<P, 768>(a[1])),
                           veorq_u64(fold<P, 640>(a[2]), fold<P, 512>(a[3])));
  v = veorq_u64(v, veorq_u64(veorq_u64(fold<P, 384>(a[4]), fold<P, 256>(a[5])),
                             veorq_u64(fold<P, 128>(a[6]), a[7])));
  for (; len >= 16; p += 16, len -= 16) v = veorq_u64(fold<P, 128>(v), load128(p));
  const uint32_t r = S::step64(S::step64(0, vgetq_lane_u64(v, 0)), vgetq_lane_u64(v, 1));
  return chains::crc_serial<S>(r, p, len);
}

template <class S>
ZELKOR_ARMV8_CRC_TARGET inline uint32_t one_register(uint32_t reg, const uint8_t *p, size_t len) {
  return len < kFoldMin ? chains::one_register<S, kArmv8Chains>(reg, p, len)
                        : fold_register<S>(reg, p, len);
}

template <class S>
ZELKOR_ARMV8_CRC_TARGET inline void chunks(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if (cs < kFoldMin) return chains::chunks<S, kArmv8Chains>(p, cs, n, words);
  for (; n > 0; --n, p += cs) *words++ = stored_word(fold_register<S>(kRegisterInit, p, cs));
}

}  // namespace zelkor::armv8_pmull_fold

#endif  // ZELKOR_UTIL_CRC_AARCH64_ARMV8_PMULL_FOLD_H
