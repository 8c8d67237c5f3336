// v512.h -- the 512-bit vector operations that the 512-bit kernels are
// written in, twice over: natively on AVX-512 with VPCLMULQDQ, and as a
// model of the same operations on four 128-bit lanes (PCLMULQDQ, SSE4.1).
//
// A kernel's algorithm lives in one body file that its .cc includes twice,
// once inside a namespace that uses `native` and once inside one that uses
// `model`, each time with ZELKOR_V512 naming that copy's target.  (A template
// takes its target from where it is defined, so one template over both sets
// of operations would not inline into either.)  The model computes the very
// words of the native copy on every processor with PCLMULQDQ, emulators and
// valgrind included, which never run the native one.
//
// A vector holds four 128-bit lanes, lane 0 at the lowest address; every
// operation that works on lanes treats each of them as the 128-bit forms of
// clmul.h do.  Only what the kernels need is here.
#ifndef ZELKOR_UTIL_CRC_V512_H
#define ZELKOR_UTIL_CRC_V512_H

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "clmul.h"

// The native copy's target: what its operations and the 128-bit helpers of
// clmul.h that it inlines need.
#define ZELKOR_V512_NATIVE_TARGET \
  "avx512f,avx512bw,avx512vl,avx2,vpclmulqdq,pclmul,sse4.1"
#define ZELKOR_V512_MODEL_TARGET "pclmul,sse4.1"

#define ZELKOR_V512_NATIVE_OP \
  __attribute__((target(ZELKOR_V512_NATIVE_TARGET), always_inline)) inline
#define ZELKOR_V512_MODEL_OP __attribute__((target(ZELKOR_V512_MODEL_TARGET), always_inline)) inline

namespace zelkor::v512 {

namespace native {

struct vec {
  __m512i v;
};

ZELKOR_V512_NATIVE_OP vec load(const uint8_t *p) { return {_mm512_loadu_si512(p)}; }

// The n (1..64) bytes at p as the last n bytes of a vector, zeros before
// them.  The masked-off bytes below p are never read: masked loads do not
// fault on them, and the address is formed as an integer.
ZELKOR_V512_NATIVE_OP vec load_tail(const uint8_t *p, size_t n) {
  const uintptr_t from = reinterpret_cast<uintptr_t>(p) - (64 - n);
  return {_mm512_maskz_loadu_epi8(~uint64_t{0} << (64 - n), reinterpret_cast<const void *>(from))};
}

// 64 zero bytes, then 64 bytes of ones: the 64 from offset n keep the last n.
alignas(64) inline constexpr std::array<uint8_t, 128> kKeepLast = [] {
  std::array<uint8_t, 128> t{};
  for (int i = 64; i < 128; ++i) t[i] = 0xFF;
  return t;
}();

// The same where the 64 - n bytes before p may be read.  A masked load is
// slow when it misses the cache; a load and a mask from memory are not (and
// unlike a masked move, the compiler does not merge them into that load).
ZELKOR_V512_NATIVE_OP vec load_tail_after(const uint8_t *p, size_t n) {
  return {_mm512_and_si512(_mm512_loadu_si512(p - (64 - n)), _mm512_loadu_si512(kKeepLast.data() + n))};
}

// v in the vector's last four bytes (dword 15), zeros elsewhere.
ZELKOR_V512_NATIVE_OP vec last_dword(uint32_t v) {
  return {_mm512_maskz_set1_epi32(0x8000, static_cast<int>(v))};
}

// v in the vector's first four bytes (dword 0), zeros elsewhere.
ZELKOR_V512_NATIVE_OP vec first_dword(uint32_t v) {
  return {_mm512_maskz_set1_epi32(0x1, static_cast<int>(v))};
}

// Lane i gets the pair (lo_i, hi_i): lo in its low 64 bits.
ZELKOR_V512_NATIVE_OP vec set_pairs(long long lo0, long long hi0, long long lo1, long long hi1,
                                    long long lo2, long long hi2, long long lo3, long long hi3) {
  return {_mm512_set_epi64(hi3, lo3, hi2, lo2, hi1, lo1, hi0, lo0)};
}

// (g++ 12 warns about the unmasked forms of some operations, whose unused
// source it leaves undefined; the forms with a full zeroing mask are the
// same instructions.)
ZELKOR_V512_NATIVE_OP vec broadcast(__m128i x) { return {_mm512_maskz_broadcast_i32x4(0xFFFF, x)}; }

ZELKOR_V512_NATIVE_OP vec xor2(vec a, vec b) { return {_mm512_xor_si512(a.v, b.v)}; }
ZELKOR_V512_NATIVE_OP vec xor3(vec a, vec b, vec c) {
  return {_mm512_ternarylogic_epi64(a.v, b.v, c.v, 0x96)};
}
ZELKOR_V512_NATIVE_OP vec and2(vec a, vec b) { return {_mm512_and_si512(a.v, b.v)}; }

// PCLMULQDQ on every lane; imm picks the halves as for the 128-bit form.
template <int imm>
ZELKOR_V512_NATIVE_OP vec clmul_lanes(vec a, vec b) {
  return {_mm512_clmulepi64_epi128(a.v, b.v, imm)};
}

// Every lane shifted down by n bytes.
template <int n>
ZELKOR_V512_NATIVE_OP vec shift_lanes_down(vec a) {
  return {_mm512_bsrli_epi128(a.v, n)};
}

// Four vectors as a 4 x 4 matrix of lanes, transposed: afterwards vector j
// holds lane j of each of the four, in their order.
ZELKOR_V512_NATIVE_OP void transpose(vec &a, vec &b, vec &c, vec &d) {
  const __m512i ab01 = _mm512_maskz_shuffle_i64x2(0xFF, a.v, b.v, 0x44);
  const __m512i ab23 = _mm512_maskz_shuffle_i64x2(0xFF, a.v, b.v, 0xEE);
  const __m512i cd01 = _mm512_maskz_shuffle_i64x2(0xFF, c.v, d.v, 0x44);
  const __m512i cd23 = _mm512_maskz_shuffle_i64x2(0xFF, c.v, d.v, 0xEE);
  a.v = _mm512_maskz_shuffle_i64x2(0xFF, ab01, cd01, 0x88);
  b.v = _mm512_maskz_shuffle_i64x2(0xFF, ab01, cd01, 0xDD);
  c.v = _mm512_maskz_shuffle_i64x2(0xFF, ab23, cd23, 0x88);
  d.v = _mm512_maskz_shuffle_i64x2(0xFF, ab23, cd23, 0xDD);
}

// The four lanes added into one.
ZELKOR_V512_NATIVE_OP __m128i sum_lanes(vec a) {
  const __m256i h = _mm256_xor_si256(_mm512_maskz_extracti64x4_epi64(0xF, a.v, 0),
                                     _mm512_maskz_extracti64x4_epi64(0xF, a.v, 1));
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

// Dword 1 of each lane, lane 0's first.
ZELKOR_V512_NATIVE_OP __m128i dword1_of_lanes(vec a) {
  const __m512i idx = _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13, 9, 5, 1);
  return _mm512_maskz_extracti32x4_epi32(0xF, _mm512_maskz_permutexvar_epi32(0xFFFF, idx, a.v), 0);
}

}  // namespace native

namespace model {

struct vec {
  __m128i l[4];
};

ZELKOR_V512_MODEL_OP vec load(const uint8_t *p) {
  return {{clmul::load128(p), clmul::load128(p + 16), clmul::load128(p + 32), clmul::load128(p + 48)}};
}

ZELKOR_V512_MODEL_OP vec load_tail(const uint8_t *p, size_t n) {
  alignas(16) uint8_t buf[64] = {};
  std::memcpy(buf + 64 - n, p, n);
  return load(buf);
}

ZELKOR_V512_MODEL_OP vec load_tail_after(const uint8_t *p, size_t n) { return load_tail(p, n); }

ZELKOR_V512_MODEL_OP vec last_dword(uint32_t v) {
  const __m128i z = _mm_setzero_si128();
  return {{z, z, z, _mm_set_epi32(static_cast<int>(v), 0, 0, 0)}};
}

ZELKOR_V512_MODEL_OP vec first_dword(uint32_t v) {
  const __m128i z = _mm_setzero_si128();
  return {{_mm_cvtsi32_si128(static_cast<int>(v)), z, z, z}};
}

ZELKOR_V512_MODEL_OP vec set_pairs(long long lo0, long long hi0, long long lo1, long long hi1,
                                   long long lo2, long long hi2, long long lo3, long long hi3) {
  return {{_mm_set_epi64x(hi0, lo0), _mm_set_epi64x(hi1, lo1), _mm_set_epi64x(hi2, lo2),
           _mm_set_epi64x(hi3, lo3)}};
}

ZELKOR_V512_MODEL_OP vec broadcast(__m128i x) { return {{x, x, x, x}}; }

ZELKOR_V512_MODEL_OP vec xor2(vec a, vec b) {
  for (int i = 0; i < 4; ++i) a.l[i] = _mm_xor_si128(a.l[i], b.l[i]);
  return a;
}
ZELKOR_V512_MODEL_OP vec xor3(vec a, vec b, vec c) { return xor2(xor2(a, b), c); }
ZELKOR_V512_MODEL_OP vec and2(vec a, vec b) {
  for (int i = 0; i < 4; ++i) a.l[i] = _mm_and_si128(a.l[i], b.l[i]);
  return a;
}

template <int imm>
ZELKOR_V512_MODEL_OP vec clmul_lanes(vec a, vec b) {
  for (int i = 0; i < 4; ++i) a.l[i] = _mm_clmulepi64_si128(a.l[i], b.l[i], imm);
  return a;
}

template <int n>
ZELKOR_V512_MODEL_OP vec shift_lanes_down(vec a) {
  for (int i = 0; i < 4; ++i) a.l[i] = _mm_srli_si128(a.l[i], n);
  return a;
}

ZELKOR_V512_MODEL_OP void transpose(vec &a, vec &b, vec &c, vec &d) {
  vec *m[4] = {&a, &b, &c, &d};
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) {
      const __m128i t = m[i]->l[j];
      m[i]->l[j] = m[j]->l[i];
      m[j]->l[i] = t;
    }
}

ZELKOR_V512_MODEL_OP __m128i sum_lanes(vec a) {
  return _mm_xor_si128(_mm_xor_si128(a.l[0], a.l[1]), _mm_xor_si128(a.l[2], a.l[3]));
}

ZELKOR_V512_MODEL_OP __m128i dword1_of_lanes(vec a) {
  return _mm_unpackhi_epi64(_mm_unpacklo_epi32(a.l[0], a.l[1]), _mm_unpacklo_epi32(a.l[2], a.l[3]));
}

}  // namespace model

// The same vector as two 256-bit halves (AVX2 with VPCLMULQDQ), for the
// processors whose widest carry-less multiply is 256 bits: a kernel body
// written over these operations folds 64 bytes a step there too.  Only what
// the CRC32C hybrid needs.
#define ZELKOR_V512_HALVES_TARGET "avx2,vpclmulqdq,pclmul,sse4.1"
#define ZELKOR_V512_HALVES_OP \
  __attribute__((target(ZELKOR_V512_HALVES_TARGET), always_inline)) inline

namespace halves {

struct vec {
  __m256i lo, hi;  // lanes 0 and 1, lanes 2 and 3
};

ZELKOR_V512_HALVES_OP vec load(const uint8_t *p) {
  return {_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)),
          _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32))};
}

ZELKOR_V512_HALVES_OP vec first_dword(uint32_t v) {
  return {_mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(v))), _mm256_setzero_si256()};
}

ZELKOR_V512_HALVES_OP vec set_pairs(long long lo0, long long hi0, long long lo1, long long hi1,
                                    long long lo2, long long hi2, long long lo3, long long hi3) {
  return {_mm256_set_epi64x(hi1, lo1, hi0, lo0), _mm256_set_epi64x(hi3, lo3, hi2, lo2)};
}

ZELKOR_V512_HALVES_OP vec xor2(vec a, vec b) {
  return {_mm256_xor_si256(a.lo, b.lo), _mm256_xor_si256(a.hi, b.hi)};
}
ZELKOR_V512_HALVES_OP vec xor3(vec a, vec b, vec c) { return xor2(xor2(a, b), c); }

template <int imm>
ZELKOR_V512_HALVES_OP vec clmul_lanes(vec a, vec b) {
  return {_mm256_clmulepi64_epi128(a.lo, b.lo, imm), _mm256_clmulepi64_epi128(a.hi, b.hi, imm)};
}

ZELKOR_V512_HALVES_OP __m128i sum_lanes(vec a) {
  const __m256i h = _mm256_xor_si256(a.lo, a.hi);
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

}  // namespace halves

}  // namespace zelkor::v512

#endif  // ZELKOR_UTIL_CRC_V512_H
