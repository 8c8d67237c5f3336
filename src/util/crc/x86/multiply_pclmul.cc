// multiply_pclmul.cc -- the multiplier of multiply_body.h on PCLMULQDQ.
#include <immintrin.h>

#include "../gf2.h"
#include "../multiply.h"

#define ZELKOR_PCLMUL_TARGET "pclmul,ssse3"

namespace zelkor {

namespace {
namespace copy {
struct ops {
  using v = __m128i;
#define ZELKOR_OP __attribute__((target(ZELKOR_PCLMUL_TARGET), always_inline)) static inline
  ZELKOR_OP v of(uint64_t lo, uint64_t hi) {
    return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
  }
  ZELKOR_OP uint64_t lo(v a) { return static_cast<uint64_t>(_mm_cvtsi128_si64(a)); }
  ZELKOR_OP v mul_lo(v a, v b) { return _mm_clmulepi64_si128(a, b, 0x00); }
  ZELKOR_OP v mul_hi(v a, v b) { return _mm_clmulepi64_si128(a, b, 0x11); }
  ZELKOR_OP v add(v a, v b) { return _mm_xor_si128(a, b); }
  ZELKOR_OP v load_pair(const uint8_t *p) {
    const __m128i swap = _mm_set_epi8(-1, -1, -1, -1, 4, 5, 6, 7, -1, -1, -1, -1, 0, 1, 2, 3);
    return _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), swap);
  }
#undef ZELKOR_OP
};
#define ZELKOR_MULTIPLY __attribute__((target(ZELKOR_PCLMUL_TARGET))) inline
#include "../multiply_body.h"
#undef ZELKOR_MULTIPLY
}  // namespace copy
}  // namespace

#define ZELKOR_ENTRY __attribute__((target(ZELKOR_PCLMUL_TARGET)))
ZELKOR_ENTRY uint32_t pclmul_mul(const gf2_modulus &m, uint32_t a, uint32_t b) {
  return copy::mul(m, a, b);
}
ZELKOR_ENTRY uint32_t pclmul_shift(const gf2_modulus &m, uint32_t crc, uint64_t n_bytes) {
  return copy::shift(m, crc, n_bytes);
}
ZELKOR_ENTRY uint32_t pclmul_horner(const gf2_modulus &m, uint32_t acc, const uint8_t *words,
                                    size_t n, uint64_t chunk_bytes) {
  return copy::horner(m, acc, words, n, chunk_bytes);
}

}  // namespace zelkor
