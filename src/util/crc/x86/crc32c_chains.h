// crc32c_chains.h -- CRC32C on chains of the SSE4.2 CRC32 instruction: the
// instruction as a step of chains.h, joined by PCLMULQDQ.
//
// The hardware routine (bulk_crc32_x86.cc) is compiled for SSE4.2 alone and
// takes only the stepping code; the kernels take all of it.
#ifndef ZELKOR_UTIL_CRC_X86_CRC32C_CHAINS_H
#define ZELKOR_UTIL_CRC_X86_CRC32C_CHAINS_H

#include <immintrin.h>

#include <cstdint>

#include "../gf2.h"

#define ZELKOR_CHAINS_STEP __attribute__((target("sse4.2")))
#define ZELKOR_CHAINS_JOIN __attribute__((target("sse4.2,pclmul")))
#define ZELKOR_CRC32C_TARGET ZELKOR_CHAINS_JOIN

namespace zelkor {

struct sse42_crc32c_step {
  static constexpr uint32_t kPoly = gf2::kCrc32c;
  // The instruction's 64-bit form has a 64-bit destination; a 64-bit
  // register spares a zero extension at every step.
  using reg_t = uint64_t;
  [[gnu::always_inline]] ZELKOR_CHAINS_STEP static reg_t step64(reg_t c, uint64_t v) {
    return _mm_crc32_u64(c, v);
  }
  [[gnu::always_inline]] ZELKOR_CHAINS_STEP static reg_t step8(reg_t c, uint8_t v) {
    return _mm_crc32_u8(static_cast<uint32_t>(c), v);
  }
  [[gnu::always_inline]] ZELKOR_CHAINS_JOIN static uint64_t clmul32(uint32_t a, uint32_t k) {
    return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_clmulepi64_si128(
        _mm_cvtsi32_si128(static_cast<int>(a)), _mm_cvtsi32_si128(static_cast<int>(k)), 0)));
  }
};

}  // namespace zelkor

#include "../chains.h"

#endif  // ZELKOR_UTIL_CRC_X86_CRC32C_CHAINS_H
