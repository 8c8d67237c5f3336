// clmul.h -- carry-less folding of 128-bit lanes, shared by the kernels of
// both polynomials.
//
// A lane stands for 16 message bytes (see gf2::fold_multiplier for the
// layout).  Moving a lane D bits further down the message multiplies it by
// x^D; its two 64-bit halves are multiplied by x^(D+64) and x^D mod P and the
// two products added, which leaves a 128-bit value congruent to it.
//
// Each helper carries the narrowest target that it needs, and is always
// inlined: a kernel compiled for a wider target may take it in, never the
// reverse.
#ifndef ZELKOR_UTIL_CRC_CLMUL_H
#define ZELKOR_UTIL_CRC_CLMUL_H

#include <immintrin.h>

#include <cstdint>

#include "../gf2.h"

#define ZELKOR_CLMUL128 __attribute__((target("pclmul,sse4.1"), always_inline)) inline
#define ZELKOR_CLMUL256 \
  __attribute__((target("avx2,pclmul,vpclmulqdq"), always_inline)) inline

namespace zelkor::clmul {

ZELKOR_CLMUL128 __m128i load128(const uint8_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

ZELKOR_CLMUL128 __m128i xor128(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }

// The two multipliers of a lane moved by D bits, low half first.
// (Constants are bound to constexpr locals so that they are computed by the
// compiler, never at run time.)
template <uint32_t P, long long D>
ZELKOR_CLMUL128 __m128i fold_k128() {
  constexpr long long lo = static_cast<long long>(gf2::fold_multiplier(P, D + 64));
  constexpr long long hi = static_cast<long long>(gf2::fold_multiplier(P, D));
  return _mm_set_epi64x(hi, lo);
}

// x moved forward by D bits.
template <uint32_t P, long long D>
ZELKOR_CLMUL128 __m128i fold128(__m128i x) {
  const __m128i k = fold_k128<P, D>();
  return xor128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

ZELKOR_CLMUL256 __m256i load256(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

ZELKOR_CLMUL256 __m256i xor256(__m256i a, __m256i b) { return _mm256_xor_si256(a, b); }

// Lane 0 moved forward by D0 bits, lane 1 by D1 bits.
template <uint32_t P, long long D0, long long D1>
ZELKOR_CLMUL256 __m256i fold256(__m256i x) {
  constexpr long long lo0 = static_cast<long long>(gf2::fold_multiplier(P, D0 + 64));
  constexpr long long hi0 = static_cast<long long>(gf2::fold_multiplier(P, D0));
  constexpr long long lo1 = static_cast<long long>(gf2::fold_multiplier(P, D1 + 64));
  constexpr long long hi1 = static_cast<long long>(gf2::fold_multiplier(P, D1));
  const __m256i k = _mm256_set_epi64x(hi1, lo1, hi0, lo0);
  return xor256(_mm256_clmulepi64_epi128(x, k, 0x00), _mm256_clmulepi64_epi128(x, k, 0x11));
}

// Both lanes moved by D bits, and the data found there added.
template <uint32_t P, long long D>
ZELKOR_CLMUL256 __m256i fold256_add(__m256i x, __m256i data) {
  return xor256(fold256<P, D, D>(x), data);
}

// A 128-bit value in the low lane, the high lane zero (a defined upper half,
// unlike a cast).
ZELKOR_CLMUL256 __m256i widen(__m128i x) { return _mm256_zextsi128_si256(x); }

}  // namespace zelkor::clmul

#endif  // ZELKOR_UTIL_CRC_CLMUL_H
