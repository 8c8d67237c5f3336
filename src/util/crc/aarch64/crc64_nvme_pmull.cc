// crc64_nvme_pmull.cc -- CRC-64/NVME on 128-bit PMULL folds.
//
// The folds of the CRC-32 kernels (armv8_pmull_fold.h) on the 64-bit
// polynomial: eight accumulators walk the buffer 128 bytes at a time, then
// fold onto one, which the buffer's last whole lanes join.  The register R
// is added into the first eight bytes (R * x^(8n) is R standing where they
// stand).  The residue V gives V * x^64 mod P, the register over everything
// folded, as two table steps from a zero register, and the last 0..15 bytes
// continue on the tables; inputs shorter than a lane use the tables alone.
#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "../crc64_nvme.h"
#include "tier_table.h"

#define ZELKOR_PMULL_TARGET __attribute__((target("+crypto")))

namespace zelkor {

namespace {

using crc64_nvme::P;

ZELKOR_PMULL_TARGET inline uint64x2_t load128(const uint8_t *p) {
  return vreinterpretq_u64_u8(vld1q_u8(p));
}

// x moved forward by D bits (gf2::fold_multiplier): its low half times
// x^(D+64), its high half times x^D.
template <long long D>
ZELKOR_PMULL_TARGET inline uint64x2_t fold(uint64x2_t x) {
  constexpr uint64_t lo = gf2::fold_multiplier(P, D + 64), hi = gf2::fold_multiplier(P, D);
  const poly128_t a = vmull_p64(vgetq_lane_u64(x, 0), lo);
  const poly128_t b = vmull_p64(vgetq_lane_u64(x, 1), hi);
  return veorq_u64(vreinterpretq_u64_p128(a), vreinterpretq_u64_p128(b));
}

}  // namespace

ZELKOR_PMULL_TARGET uint64_t crc64_nvme_pmull_one(uint64_t reg, const uint8_t *p, size_t len) {
  if (len < 16) return crc64_nvme::advance(reg, p, len);
  const uint64x2_t start = vcombine_u64(vcreate_u64(reg), vcreate_u64(0));
  uint64x2_t v;
  if (len >= 128) {
    uint64x2_t a[8];
    a[0] = veorq_u64(load128(p), start);
    for (int i = 1; i < 8; ++i) a[i] = load128(p + 16 * i);
    for (p += 128, len -= 128; len >= 128; p += 128, len -= 128) {
#pragma GCC unroll 8
      for (int i = 0; i < 8; ++i) a[i] = veorq_u64(fold<1024>(a[i]), load128(p + 16 * i));
    }
    // Accumulator i stands 128 * (7 - i) bits before the end of the window.
    v = veorq_u64(veorq_u64(fold<896>(a[0]), fold<768>(a[1])),
                  veorq_u64(fold<640>(a[2]), fold<512>(a[3])));
    v = veorq_u64(v, veorq_u64(veorq_u64(fold<384>(a[4]), fold<256>(a[5])),
                               veorq_u64(fold<128>(a[6]), a[7])));
  } else {
    v = veorq_u64(load128(p), start);
    p += 16;
    len -= 16;
  }
  for (; len >= 16; p += 16, len -= 16) v = veorq_u64(fold<128>(v), load128(p));
  const uint64_t r = crc64_nvme::step8(crc64_nvme::step8(vgetq_lane_u64(v, 0)) ^
                                       vgetq_lane_u64(v, 1));
  return crc64_nvme::advance(r, p, len);
}

}  // namespace zelkor
