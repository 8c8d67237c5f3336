// armv8_crc_chains.h -- CRC32C and CRC-32 on chains of the ARMv8 CRC32
// instructions (crc32c{b,x} and crc32{b,x}): each as a step of chains.h,
// joined by PMULL.
//
// On the cores measured so far the instruction issues once per cycle with a
// latency of two (Neoverse N1, V1, V2) or three (Apple Firestorm) cycles, so
// three chains cover every one of them; more chains than that add nothing
// there, since no core issues two a cycle.  The hardware routine
// (bulk_crc32_aarch64.cc) is compiled for the CRC extension alone and takes
// only the stepping code; the kernels take all of it.
#ifndef ZELKOR_UTIL_CRC_AARCH64_ARMV8_CRC_CHAINS_H
#define ZELKOR_UTIL_CRC_AARCH64_ARMV8_CRC_CHAINS_H

#include <arm_acle.h>
#include <arm_neon.h>

#include <cstdint>

#include "../gf2.h"

// The CRC instructions, and with them PMULL (which GCC 12 files under +crypto).
#define ZELKOR_CHAINS_STEP __attribute__((target("+crc")))
#define ZELKOR_CHAINS_JOIN __attribute__((target("+crc+crypto")))
#define ZELKOR_ARMV8_CRC_TARGET ZELKOR_CHAINS_JOIN

namespace zelkor {

inline constexpr int kArmv8Chains = 3;

// The step of one polynomial: crc32c* for CRC32C, crc32* for zlib's.
template <uint32_t P>
struct armv8_crc_step {
  static_assert(P == gf2::kCrc32c || P == gf2::kCrc32Zlib);
  static constexpr uint32_t kPoly = P;
  using reg_t = uint32_t;
  [[gnu::always_inline]] ZELKOR_CHAINS_STEP static reg_t step64(reg_t c, uint64_t v) {
    if constexpr (P == gf2::kCrc32c)
      return __crc32cd(c, v);
    else
      return __crc32d(c, v);
  }
  [[gnu::always_inline]] ZELKOR_CHAINS_STEP static reg_t step8(reg_t c, uint8_t v) {
    if constexpr (P == gf2::kCrc32c)
      return __crc32cb(c, v);
    else
      return __crc32b(c, v);
  }
  [[gnu::always_inline]] ZELKOR_CHAINS_JOIN static uint64_t clmul32(uint32_t a, uint32_t k) {
    return vgetq_lane_u64(vreinterpretq_u64_p128(vmull_p64(a, k)), 0);
  }
};
using armv8_crc32c_step = armv8_crc_step<gf2::kCrc32c>;
using armv8_crc32_zlib_step = armv8_crc_step<gf2::kCrc32Zlib>;

}  // namespace zelkor

#include "../chains.h"

#endif  // ZELKOR_UTIL_CRC_AARCH64_ARMV8_CRC_CHAINS_H
