// multiply_pclmul.cc -- the multipliers of multiply_body.h on PCLMULQDQ, two
// products an instruction, on 256-bit VPCLMULQDQ, four, and on 512-bit
// VPCLMULQDQ, eight, with the 512-bit layout's model on 256-bit operations
// (which runs wherever AVX2 with VPCLMULQDQ does).
#include <immintrin.h>

#include "../gf2.h"
#include "../multiply.h"

#define ZELKOR_PCLMUL_TARGET "pclmul,ssse3"
#define ZELKOR_VPCLMUL_TARGET "avx2,vpclmulqdq,pclmul"
#define ZELKOR_VPCLMUL512_TARGET "avx512f,avx2,vpclmulqdq,pclmul"

namespace zelkor {

namespace {
namespace copy {
struct ops {
  static constexpr size_t kWords = 2;
  using v = __m128i;
#define ZELKOR_OP __attribute__((target(ZELKOR_PCLMUL_TARGET), always_inline)) static inline
  ZELKOR_OP v of(uint64_t lo, uint64_t hi) {
    return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
  }
  ZELKOR_OP uint64_t lo(v a) { return static_cast<uint64_t>(_mm_cvtsi128_si64(a)); }
  ZELKOR_OP v mul_lo(v a, v b) { return _mm_clmulepi64_si128(a, b, 0x00); }
  ZELKOR_OP v mul_hi(v a, v b) { return _mm_clmulepi64_si128(a, b, 0x11); }
  ZELKOR_OP v add(v a, v b) { return _mm_xor_si128(a, b); }
  ZELKOR_OP uint64_t total(v a) { return lo(a); }
  ZELKOR_OP v of_words(const uint32_t *w) { return of(w[0], w[1]); }
  ZELKOR_OP v load(const uint8_t *p) {
    const __m128i swap = _mm_set_epi8(-1, -1, -1, -1, 4, 5, 6, 7, -1, -1, -1, -1, 0, 1, 2, 3);
    return _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), swap);
  }
#undef ZELKOR_OP
};
#define ZELKOR_MULTIPLY __attribute__((target(ZELKOR_PCLMUL_TARGET))) inline
#include "../multiply_body.h"
#undef ZELKOR_MULTIPLY
}  // namespace copy

namespace wide_copy {
struct ops {
  static constexpr size_t kWords = 4;
  using v = __m256i;
#define ZELKOR_OP __attribute__((target(ZELKOR_VPCLMUL_TARGET), always_inline)) static inline
  ZELKOR_OP v of(uint64_t lo, uint64_t hi) {
    return _mm256_set_epi64x(0, 0, static_cast<long long>(hi), static_cast<long long>(lo));
  }
  ZELKOR_OP uint64_t lo(v a) {
    return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm256_castsi256_si128(a)));
  }
  ZELKOR_OP uint64_t total(v a) {
    return static_cast<uint64_t>(_mm_cvtsi128_si64(
        _mm_xor_si128(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1))));
  }
  ZELKOR_OP v mul_lo(v a, v b) { return _mm256_clmulepi64_epi128(a, b, 0x00); }
  ZELKOR_OP v mul_hi(v a, v b) { return _mm256_clmulepi64_epi128(a, b, 0x11); }
  ZELKOR_OP v add(v a, v b) { return _mm256_xor_si256(a, b); }
  ZELKOR_OP v of_words(const uint32_t *w) { return _mm256_set_epi64x(w[3], w[2], w[1], w[0]); }
  ZELKOR_OP v load(const uint8_t *p) {
    const __m128i swap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    return _mm256_cvtepu32_epi64(
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), swap));
  }
#undef ZELKOR_OP
};
#define ZELKOR_MULTIPLY __attribute__((target(ZELKOR_VPCLMUL_TARGET))) inline
#include "../multiply_body.h"
#undef ZELKOR_MULTIPLY
}  // namespace wide_copy

// The big-endian words of 32 bytes, byte-swapped in their 128-bit halves.
__attribute__((target(ZELKOR_VPCLMUL_TARGET), always_inline)) inline __m256i load_swapped8(
    const uint8_t *p) {
  const __m256i swap = _mm256_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3, 12,
                                       13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  return _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)), swap);
}

namespace widest_copy {
struct ops {
  static constexpr size_t kWords = 8;
  using v = __m512i;
#define ZELKOR_OP __attribute__((target(ZELKOR_VPCLMUL512_TARGET), always_inline)) static inline
  ZELKOR_OP v of(uint64_t lo, uint64_t hi) {
    return _mm512_set_epi64(0, 0, 0, 0, 0, 0, static_cast<long long>(hi),
                            static_cast<long long>(lo));
  }
  ZELKOR_OP uint64_t lo(v a) {
    // The masked forms: g++ 12 warns of an undefined operand in the plain ones.
    return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm512_maskz_extracti32x4_epi32(0xF, a, 0)));
  }
  ZELKOR_OP uint64_t total(v a) {
    const __m256i h = _mm256_xor_si256(_mm512_maskz_extracti64x4_epi64(0xF, a, 0),
                                       _mm512_maskz_extracti64x4_epi64(0xF, a, 1));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(
        _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1))));
  }
  ZELKOR_OP v mul_lo(v a, v b) { return _mm512_clmulepi64_epi128(a, b, 0x00); }
  ZELKOR_OP v mul_hi(v a, v b) { return _mm512_clmulepi64_epi128(a, b, 0x11); }
  ZELKOR_OP v add(v a, v b) { return _mm512_xor_si512(a, b); }
  ZELKOR_OP v of_words(const uint32_t *w) {
    return _mm512_set_epi64(w[7], w[6], w[5], w[4], w[3], w[2], w[1], w[0]);
  }
  ZELKOR_OP v load(const uint8_t *p) { return _mm512_maskz_cvtepu32_epi64(0xFF, load_swapped8(p)); }
#undef ZELKOR_OP
};
#define ZELKOR_MULTIPLY __attribute__((target(ZELKOR_VPCLMUL512_TARGET))) inline
#include "../multiply_body.h"
#undef ZELKOR_MULTIPLY
}  // namespace widest_copy

// The 512-bit layout on pairs of 256-bit registers: lanes 0-3, then 4-7.
namespace widest_model {
struct ops {
  static constexpr size_t kWords = 8;
  struct v {
    __m256i a, b;
  };
#define ZELKOR_OP __attribute__((target(ZELKOR_VPCLMUL_TARGET), always_inline)) static inline
  ZELKOR_OP v of(uint64_t lo, uint64_t hi) {
    return {wide_copy::ops::of(lo, hi), _mm256_setzero_si256()};
  }
  ZELKOR_OP uint64_t lo(v x) { return wide_copy::ops::lo(x.a); }
  ZELKOR_OP uint64_t total(v x) { return wide_copy::ops::total(_mm256_xor_si256(x.a, x.b)); }
  ZELKOR_OP v mul_lo(v x, v y) {
    return {_mm256_clmulepi64_epi128(x.a, y.a, 0x00), _mm256_clmulepi64_epi128(x.b, y.b, 0x00)};
  }
  ZELKOR_OP v mul_hi(v x, v y) {
    return {_mm256_clmulepi64_epi128(x.a, y.a, 0x11), _mm256_clmulepi64_epi128(x.b, y.b, 0x11)};
  }
  ZELKOR_OP v add(v x, v y) { return {_mm256_xor_si256(x.a, y.a), _mm256_xor_si256(x.b, y.b)}; }
  ZELKOR_OP v of_words(const uint32_t *w) {
    return {wide_copy::ops::of_words(w), wide_copy::ops::of_words(w + 4)};
  }
  ZELKOR_OP v load(const uint8_t *p) {
    const __m256i s = load_swapped8(p);
    return {_mm256_cvtepu32_epi64(_mm256_castsi256_si128(s)),
            _mm256_cvtepu32_epi64(_mm256_extracti128_si256(s, 1))};
  }
#undef ZELKOR_OP
};
#define ZELKOR_MULTIPLY __attribute__((target(ZELKOR_VPCLMUL_TARGET))) inline
#include "../multiply_body.h"
#undef ZELKOR_MULTIPLY
}  // namespace widest_model
}  // namespace

ZELKOR_MULTIPLIER_ENTRIES(pclmul, copy, ZELKOR_PCLMUL_TARGET)
ZELKOR_MULTIPLIER_ENTRIES(vpclmul_avx2, wide_copy, ZELKOR_VPCLMUL_TARGET)
ZELKOR_MULTIPLIER_ENTRIES(vpclmul_avx512, widest_copy, ZELKOR_VPCLMUL512_TARGET)
ZELKOR_MULTIPLIER_ENTRIES(vpclmul_avx512_model, widest_model, ZELKOR_VPCLMUL_TARGET)

}  // namespace zelkor
