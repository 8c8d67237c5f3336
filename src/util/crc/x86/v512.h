// v512.h -- the vector operations that the carry-less-fold kernels are
// written in: a 512-bit vector natively on AVX-512 with VPCLMULQDQ, the same
// operations as a model on four 128-bit lanes (PCLMULQDQ, SSE4.1) and on two
// 256-bit halves (AVX2 with VPCLMULQDQ), and a vector of one 128-bit lane
// for the processors whose carry-less multiply is 128 bits wide (the
// model's operations at one lane: v512_lanes.h is written over a count).
//
// A kernel's algorithm lives in one body file that its .cc includes once
// for each set of operations it builds on, each time inside a namespace
// that uses that set and with ZELKOR_V512 naming that copy's target.  (A
// template takes its target from where it is defined, so one template over
// every set of operations would not inline into any.)  The model computes
// the very words of the native copy on every processor with PCLMULQDQ,
// emulators and valgrind included, which never run the native one.
//
// A vector holds kLanes 128-bit lanes, lane 0 at the lowest address; every
// operation that works on lanes treats each of them alike.  A lane stands
// for 16 message bytes (see gf2::fold_multiplier for the layout).  Only what
// the kernels need is here.
#ifndef ZELKOR_UTIL_CRC_V512_H
#define ZELKOR_UTIL_CRC_V512_H

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../gf2.h"

// The native copy's target: what its operations and the 128-bit helpers
// below that it inlines need.
#define ZELKOR_V512_NATIVE_TARGET \
  "avx512f,avx512bw,avx512vl,avx2,vpclmulqdq,pclmul,sse4.1"
#define ZELKOR_V512_MODEL_TARGET "pclmul,sse4.1"

#define ZELKOR_V512_NATIVE_OP \
  __attribute__((target(ZELKOR_V512_NATIVE_TARGET), always_inline)) inline
#define ZELKOR_V512_MODEL_OP __attribute__((target(ZELKOR_V512_MODEL_TARGET), always_inline)) inline

namespace zelkor::v512 {

// The helpers below carry the narrowest target that they need: a layer of a
// wider target may take them in, never the reverse.
ZELKOR_V512_MODEL_OP __m128i load128(const uint8_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// 64 zero bytes, then 64 bytes of ones: the w bytes from offset 64 - w + n
// keep the last n of w.
alignas(64) inline constexpr std::array<uint8_t, 128> kKeepLast = [] {
  std::array<uint8_t, 128> t{};
  for (int i = 64; i < 128; ++i) t[i] = 0xFF;
  return t;
}();

// PSHUFB masks: the 16 bytes from offset k (0..16) shift a lane up by
// 16 - k bytes, zeros in front (k = 0 clears it, k = 16 keeps it whole).
alignas(16) inline constexpr std::array<uint8_t, 32> kShiftUp = [] {
  std::array<uint8_t, 32> t{};
  for (int j = 0; j < 32; ++j) t[j] = j >= 16 ? static_cast<uint8_t>(j - 16) : 0x80;
  return t;
}();

// Lane j of a window of `window` bytes that holds the n bytes at p as its
// last n, zeros before them, where 16 bytes from p may be read.  A lane
// wholly within the data is loaded, the lane where the data begin is the
// first 16 bytes shifted up, and one in front of the data is cleared; the
// same two instructions serve all three, so there is no branch.  (Without
// masked loads, this is what spares a chunk's first window the bytes before
// p without a copy through memory, whose store a wide load cannot take.)
ZELKOR_V512_MODEL_OP __m128i tail_lane(const uint8_t *p, size_t n, size_t window, int j) {
  const ptrdiff_t at = 16 * j - static_cast<ptrdiff_t>(window - n);  // lane start, from p
  const ptrdiff_t keep = at + 16 < 0 ? 0 : (at + 16 > 16 ? 16 : at + 16);
  return _mm_shuffle_epi8(load128(p + (at > 0 ? at : 0)), load128(kShiftUp.data() + keep));
}

// The n (1..15) bytes at p as the last n of a lane, zeros before them,
// reading nothing else: loads that may overlap (the bytes that they share
// are the same), which spare a copy through memory.
ZELKOR_V512_MODEL_OP __m128i short_lane(const uint8_t *p, size_t n) {
  const auto load = [](const uint8_t *q, size_t bytes) {
    uint64_t v = 0;
    std::memcpy(&v, q, bytes);
    return v;
  };
  uint64_t lo = 0, hi;
  if (n >= 8) {
    hi = load(p + n - 8, 8);
    if (n > 8) lo = load(p, 8) << (8 * (16 - n));
  } else {
    const uint64_t v = n >= 4 ? load(p, 4) | load(p + n - 4, 4) << (8 * (n - 4))
                              : p[0] | uint64_t{p[n / 2]} << (8 * (n / 2)) |
                                    uint64_t{p[n - 1]} << (8 * (n - 1));
    hi = v << (8 * (8 - n));
  }
  return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}

namespace native {

inline constexpr int kLanes = 4;

struct vec {
  __m512i v;
};

ZELKOR_V512_NATIVE_OP vec load(const uint8_t *p) { return {_mm512_loadu_si512(p)}; }

// The n (1..64) bytes at p as the last n bytes of a vector, zeros before
// them, where the chunk from p has `avail` bytes (which the layers without
// masked loads need: below 16, n is all there is).  The masked-off bytes
// below p are never read: masked loads do not fault on them, and the
// address is formed as an integer.
ZELKOR_V512_NATIVE_OP vec load_tail(const uint8_t *p, size_t n, size_t /*avail*/) {
  const uintptr_t from = reinterpret_cast<uintptr_t>(p) - (64 - n);
  return {_mm512_maskz_loadu_epi8(~uint64_t{0} << (64 - n), reinterpret_cast<const void *>(from))};
}

// The same where the 64 - n bytes before p may be read.  A masked load is
// slow when it misses the cache; a load and a mask from memory are not (and
// unlike a masked move, the compiler does not merge them into that load).
ZELKOR_V512_NATIVE_OP vec load_tail_after(const uint8_t *p, size_t n) {
  return {_mm512_and_si512(_mm512_loadu_si512(p - (64 - n)), _mm512_loadu_si512(kKeepLast.data() + n))};
}

// x in the vector's last lane, zeros in the others.
ZELKOR_V512_NATIVE_OP vec last_lane(__m128i x) { return {_mm512_maskz_broadcast_i32x4(0xF000, x)}; }

// v in the vector's first four bytes (dword 0), zeros elsewhere.
ZELKOR_V512_NATIVE_OP vec first_dword(uint32_t v) {
  return {_mm512_maskz_set1_epi32(0x1, static_cast<int>(v))};
}

// The same for eight bytes (qword 0).
ZELKOR_V512_NATIVE_OP vec first_qword(uint64_t v) {
  return {_mm512_maskz_set1_epi64(0x1, static_cast<long long>(v))};
}

// Lane i gets the pair (k[2i], k[2i + 1]), the first in its low 64 bits.
ZELKOR_V512_NATIVE_OP vec set_pairs(const std::array<long long, 8> &k) {
  return {_mm512_set_epi64(k[7], k[6], k[5], k[4], k[3], k[2], k[1], k[0])};
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

// a and b as runs of G lanes (1 or 2), dealt out: afterwards a holds the
// even runs of a, then those of b, and b the odd runs of both.
template <int G>
ZELKOR_V512_NATIVE_OP void deinterleave(vec &a, vec &b) {
  constexpr int kEven = G == 2 ? 0x44 : 0x88, kOdd = G == 2 ? 0xEE : 0xDD;
  const __m512i even = _mm512_maskz_shuffle_i64x2(0xFF, a.v, b.v, kEven);
  b.v = _mm512_maskz_shuffle_i64x2(0xFF, a.v, b.v, kOdd);
  a.v = even;
}

// The four lanes added into one.
ZELKOR_V512_NATIVE_OP __m128i sum_lanes(vec a) {
  const __m256i h = _mm256_xor_si256(_mm512_maskz_extracti64x4_epi64(0xF, a.v, 0),
                                     _mm512_maskz_extracti64x4_epi64(0xF, a.v, 1));
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

// Dword 1 of each lane of the 4 / kLanes vectors, lane 0 of r[0] first.
ZELKOR_V512_NATIVE_OP __m128i dword1_of_lanes(const vec (&r)[1]) {
  const __m512i idx = _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13, 9, 5, 1);
  const __m512i dwords = _mm512_maskz_permutexvar_epi32(0xFFFF, idx, r[0].v);
  return _mm512_maskz_extracti32x4_epi32(0xF, dwords, 0);
}

ZELKOR_V512_NATIVE_OP __m128i low_lane(vec a) {
  return _mm512_maskz_extracti32x4_epi32(0xF, a.v, 0);
}

}  // namespace native

namespace model {
inline constexpr int kLanes = 4;
#include "v512_lanes.h"
}  // namespace model

// The same vector as two 256-bit halves (AVX2 with VPCLMULQDQ), for the
// processors whose widest carry-less multiply is 256 bits: a kernel body
// written over these operations folds 64 bytes a step there too.
#define ZELKOR_V512_HALVES_TARGET "avx2,vpclmulqdq,pclmul,sse4.1"
#define ZELKOR_V512_HALVES_OP \
  __attribute__((target(ZELKOR_V512_HALVES_TARGET), always_inline)) inline

namespace halves {

inline constexpr int kLanes = 4;

struct vec {
  __m256i lo, hi;  // lanes 0 and 1, lanes 2 and 3
};

ZELKOR_V512_HALVES_OP __m256i load256(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

ZELKOR_V512_HALVES_OP vec load(const uint8_t *p) { return {load256(p), load256(p + 32)}; }

ZELKOR_V512_HALVES_OP vec last_lane(__m128i x) {
  return {_mm256_setzero_si256(), _mm256_inserti128_si256(_mm256_setzero_si256(), x, 1)};
}

ZELKOR_V512_HALVES_OP vec load_tail(const uint8_t *p, size_t n, size_t avail) {
  if (avail < 16) return last_lane(short_lane(p, n));
  return {_mm256_set_m128i(tail_lane(p, n, 64, 1), tail_lane(p, n, 64, 0)),
          _mm256_set_m128i(tail_lane(p, n, 64, 3), tail_lane(p, n, 64, 2))};
}

ZELKOR_V512_HALVES_OP vec load_tail_after(const uint8_t *p, size_t n) {
  const vec x = load(p - (64 - n)), keep = load(kKeepLast.data() + n);
  return {_mm256_and_si256(x.lo, keep.lo), _mm256_and_si256(x.hi, keep.hi)};
}

ZELKOR_V512_HALVES_OP vec first_dword(uint32_t v) {
  return {_mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(v))), _mm256_setzero_si256()};
}

ZELKOR_V512_HALVES_OP vec first_qword(uint64_t v) {
  return {_mm256_zextsi128_si256(_mm_cvtsi64_si128(static_cast<long long>(v))),
          _mm256_setzero_si256()};
}

ZELKOR_V512_HALVES_OP vec set_pairs(const std::array<long long, 8> &k) {
  return {_mm256_set_epi64x(k[3], k[2], k[1], k[0]), _mm256_set_epi64x(k[7], k[6], k[5], k[4])};
}

ZELKOR_V512_HALVES_OP vec broadcast(__m128i x) {
  const __m256i b = _mm256_broadcastsi128_si256(x);
  return {b, b};
}

ZELKOR_V512_HALVES_OP vec xor2(vec a, vec b) {
  return {_mm256_xor_si256(a.lo, b.lo), _mm256_xor_si256(a.hi, b.hi)};
}
ZELKOR_V512_HALVES_OP vec xor3(vec a, vec b, vec c) { return xor2(xor2(a, b), c); }
ZELKOR_V512_HALVES_OP vec and2(vec a, vec b) {
  return {_mm256_and_si256(a.lo, b.lo), _mm256_and_si256(a.hi, b.hi)};
}

template <int imm>
ZELKOR_V512_HALVES_OP vec clmul_lanes(vec a, vec b) {
  return {_mm256_clmulepi64_epi128(a.lo, b.lo, imm), _mm256_clmulepi64_epi128(a.hi, b.hi, imm)};
}

template <int n>
ZELKOR_V512_HALVES_OP vec shift_lanes_down(vec a) {
  return {_mm256_bsrli_epi128(a.lo, n), _mm256_bsrli_epi128(a.hi, n)};
}

// Runs of two lanes are the halves themselves.
template <int G>
ZELKOR_V512_HALVES_OP void deinterleave(vec &a, vec &b) {
  const vec x = a, y = b;
  if (G == 2) {
    a = {x.lo, y.lo};
    b = {x.hi, y.hi};
  } else {
    a = {_mm256_permute2x128_si256(x.lo, x.hi, 0x20), _mm256_permute2x128_si256(y.lo, y.hi, 0x20)};
    b = {_mm256_permute2x128_si256(x.lo, x.hi, 0x31), _mm256_permute2x128_si256(y.lo, y.hi, 0x31)};
  }
}

ZELKOR_V512_HALVES_OP __m128i sum_lanes(vec a) {
  const __m256i h = _mm256_xor_si256(a.lo, a.hi);
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

ZELKOR_V512_HALVES_OP __m128i dword1_of_lanes(const vec (&r)[1]) {
  // Lanes 0 and 2 side by side in the low 128 bits, 1 and 3 in the high.
  const __m256i t = _mm256_unpacklo_epi32(r[0].lo, r[0].hi);
  return _mm_unpackhi_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
}

ZELKOR_V512_HALVES_OP __m128i low_lane(vec a) { return _mm256_castsi256_si128(a.lo); }

}  // namespace halves

// One 128-bit lane (PCLMULQDQ, SSE4.1), for the processors whose widest
// carry-less multiply is that: the model's operations on a vector of one
// lane.  A kernel body built on it keeps a vector a lane, so that short
// chunks fold no zeros and long ones keep as many independent accumulators
// as the multiplier's latency wants.
#define ZELKOR_V512_LANE_TARGET ZELKOR_V512_MODEL_TARGET
#define ZELKOR_V512_LANE_OP ZELKOR_V512_MODEL_OP

namespace lane {
inline constexpr int kLanes = 1;
#include "v512_lanes.h"
}  // namespace lane

}  // namespace zelkor::v512

#endif  // ZELKOR_UTIL_CRC_V512_H
