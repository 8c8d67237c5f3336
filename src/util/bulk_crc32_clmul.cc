// bulk_crc32_clmul.cc -- CRC-32 (zlib) folded with carry-less multiplication.
//
// The CRC register after a message M of n bytes, started at R, is
// S = (R * x^(8n) + M * x^32) mod P (bit-reflected, as zlib keeps it).  A
// chunk is therefore reduced to a 128-bit value V congruent to
// R * x^(8n-32) + M, and S = V * x^32 mod P is computed at the end:
//   * folding: a 128-bit accumulator that stands D bits before the end of the
//     data is moved forward by multiplying its two 64-bit halves with
//     x^(D+64) mod P and x^D mod P (two carry-less products, each below
//     96 bits) and adding the data found there;
//   * several accumulators per chunk (eight 128-bit ones, or four 256-bit
//     ones holding eight lanes) so that the products' latency overlaps;
//     a tree of independent folds combines them;
//   * the last 1..15 bytes are handled by splitting accumulator plus tail
//     into the t bytes that overflow 128 bits (folded) and the 16 that fit;
//   * the 128 -> 32 bit reduction (two folds, then Barrett) runs for four
//     chunks together, and the four words are formed and stored at once.
//
// Register layout: byte i of a 128-bit value is message byte i, and bit k
// (bit 0 = the first byte's least significant bit) is the coefficient of
// x^(127-k).  A carry-less product of two 64-bit halves laid out that way is
// x times the product of their polynomials; the constants absorb that x.
//
// Every kernel function carries its own target attribute; the tier detection
// is compiled for the baseline and runs on every x86-64.  The tiers share the
// 128-bit helpers (a 256-bit function may inline them, not the reverse).  A
// 512-bit tier would add zmm versions of the main fold loop and of the
// batched reduction (four chunks per register), a third tier bit, and the
// AVX-512F/VL plus XCR0 opmask/ZMM-state checks in crc32_clmul_tiers().
#include "bulk_crc32_clmul.h"

#include "bulk_crc32_wide.h"

#include <immintrin.h>

#include <array>
#include <cstring>

namespace {

// ---- The polynomial and everything derived from it -------------------------

constexpr uint32_t kReflectedPoly = 0xEDB88320;  // zlib / IEEE 802.3 CRC-32

constexpr uint64_t reflect(uint64_t v, int bits) {
  uint64_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1u) << (bits - 1 - i);
  return r;
}

// P(x) in normal order (bit d = coefficient of x^d) without its x^32 term.
constexpr uint32_t kPoly = static_cast<uint32_t>(reflect(kReflectedPoly, 32));
constexpr uint64_t kPolyFull = (uint64_t{1} << 32) | kPoly;

// a * x mod P, and a / x mod P (x is invertible since P has a constant term:
// adding P clears a's constant term, and P's x^32 becomes x^31).
constexpr uint32_t mul_x(uint32_t a) { return (a << 1) ^ ((a >> 31) ? kPoly : 0); }
constexpr uint32_t div_x(uint32_t a) {
  return (a & 1) ? ((a ^ kPoly) >> 1) | 0x80000000u : a >> 1;
}

// x^e mod P for any integer e.
constexpr uint32_t x_pow(int e) {
  uint32_t r = 1;
  for (; e > 0; --e) r = mul_x(r);
  for (; e < 0; ++e) r = div_x(r);
  return r;
}

// a * b mod P
constexpr uint32_t mul_mod(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int i = 31; i >= 0; --i) r = mul_x(r) ^ (((b >> i) & 1) ? a : 0);
  return r;
}

// Multiplier of one 64-bit half: a carry-less product with it multiplies the
// half's polynomial by x^t mod P.  It holds x^(t-1) mod P (the product adds
// the other x), bit-reflected into the upper 32 bits, so that the product of
// a 64-bit half stays below x^96.
constexpr uint64_t k_mul(int t) { return reflect(x_pow(t - 1), 32) << 32; }

// Barrett: mu = floor(x^64 / P); both it and P are used bit-reflected in 33
// bits, so that (low word * mu) puts the quotient in the low 32 bits.
constexpr uint64_t barrett_mu() {
  uint64_t rem = uint64_t{kPoly} << 32;  // x^64 - x^32 * P
  uint64_t q = uint64_t{1} << 32;
  for (int d = 63; d >= 32; --d) {
    if ((rem >> d) & 1) {
      q |= uint64_t{1} << (d - 32);
      rem ^= kPolyFull << (d - 32);
    }
  }
  return q;
}
constexpr uint64_t kMu = reflect(barrett_mu(), 33);
constexpr uint64_t kPolyReflected33 = reflect(kPolyFull, 33);

constexpr uint32_t kInit = 0xFFFFFFFFu;  // the register's start value, all ones

// A chunk of n < 16 bytes becomes M (right-aligned in 16 bytes) plus
// R * x^(8n-32) mod P in the last four bytes; for n < 4 the exponent is
// negative, which x's inverse handles.
constexpr std::array<uint32_t, 16> short_init() {
  std::array<uint32_t, 16> t{};
  for (int n = 0; n < 16; ++n)
    t[n] = static_cast<uint32_t>(reflect(mul_mod(kInit, x_pow(8 * n - 32)), 32));
  return t;
}
constexpr std::array<uint32_t, 16> kShortInit = short_init();

// PSHUFB masks: 16 bytes loaded at offset 16 - s shift a register up by s
// bytes (byte k <- byte k - s), at offset 16 + s down by s; 0x80 zeroes.
constexpr std::array<uint8_t, 48> shift_masks() {
  std::array<uint8_t, 48> t{};
  for (int j = 0; j < 48; ++j) t[j] = (j >= 16 && j < 32) ? static_cast<uint8_t>(j - 16) : 0x80;
  return t;
}
alignas(16) constexpr std::array<uint8_t, 48> kShiftMasks = shift_masks();

// ---- 128-bit helpers (PCLMULQDQ, SSE4.1) -----------------------------------

#define CLMUL128 __attribute__((target("pclmul,sse4.1")))
#define CLMUL128_INLINE CLMUL128 __attribute__((always_inline)) inline

CLMUL128_INLINE __m128i load128(const uint8_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

CLMUL128_INLINE __m128i xor128(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }

// The start value, to be added to the first four bytes of a chunk.
CLMUL128_INLINE __m128i init128() { return _mm_cvtsi32_si128(static_cast<int>(kInit)); }

// x moved forward by D bits (congruent mod P, still 128 bits).
template <int D>
CLMUL128_INLINE __m128i fold128(__m128i x) {
  constexpr uint64_t lo = k_mul(D + 64), hi = k_mul(D);
  const __m128i k = _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
  return xor128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Appends the last t (1..15) bytes of a chunk that ends at end and is at
// least 16 bytes long.  Accumulator and tail make 16 + t bytes: the first t
// (h, right-aligned) are folded over the last 16 (l).
CLMUL128_INLINE __m128i fold_tail(__m128i x, const uint8_t *end, size_t t) {
  const __m128i last16 = load128(end - 16);
  const __m128i up = load128(kShiftMasks.data() + t);         // up by 16 - t
  const __m128i down = load128(kShiftMasks.data() + 16 + t);  // down by t
  const __m128i h = _mm_shuffle_epi8(x, up);
  const __m128i l = _mm_blendv_epi8(_mm_shuffle_epi8(x, down), last16, down);
  return xor128(fold128<128>(h), l);
}

// Folds the rest of a chunk (fewer than 128 bytes) onto x.
CLMUL128_INLINE __m128i fold_rest(__m128i x, const uint8_t *p, size_t len) {
  for (; len >= 16; p += 16, len -= 16) x = xor128(fold128<128>(x), load128(p));
  if (len > 0) x = fold_tail(x, p + len, len);
  return x;
}

// Chunks shorter than 16 bytes.
CLMUL128_INLINE __m128i residue_short(const uint8_t *p, size_t n) {
  alignas(16) uint8_t buf[16] = {};
  if (n > 0) std::memcpy(buf + 16 - n, p, n);
  return xor128(load128(buf), _mm_set_epi32(static_cast<int>(kShortInit[n]), 0, 0, 0));
}

// G chunks of cs bytes (16 <= cs) from p, in lockstep, one accumulator each.
// Meant for short chunks, where a chunk alone has too little to overlap.
template <int G>
CLMUL128_INLINE void residues_lockstep(const uint8_t *p, size_t cs, __m128i *r) {
  __m128i x[G];
  for (int g = 0; g < G; ++g) x[g] = xor128(load128(p + g * cs), init128());
  size_t off = 16;
  for (; cs - off >= 16; off += 16)
    for (int g = 0; g < G; ++g) x[g] = xor128(fold128<128>(x[g]), load128(p + g * cs + off));
  if (cs > off)
    for (int g = 0; g < G; ++g) x[g] = fold_tail(x[g], p + g * cs + cs, cs - off);
  for (int g = 0; g < G; ++g) r[g] = x[g];
}

// One chunk of at least 128 bytes on eight accumulators.
CLMUL128_INLINE __m128i residue_long128(const uint8_t *p, size_t len) {
  __m128i a0 = xor128(load128(p), init128()), a1 = load128(p + 16), a2 = load128(p + 32),
          a3 = load128(p + 48), a4 = load128(p + 64), a5 = load128(p + 80),
          a6 = load128(p + 96), a7 = load128(p + 112);
  for (p += 128, len -= 128; len >= 128; p += 128, len -= 128) {
    a0 = xor128(fold128<1024>(a0), load128(p));
    a1 = xor128(fold128<1024>(a1), load128(p + 16));
    a2 = xor128(fold128<1024>(a2), load128(p + 32));
    a3 = xor128(fold128<1024>(a3), load128(p + 48));
    a4 = xor128(fold128<1024>(a4), load128(p + 64));
    a5 = xor128(fold128<1024>(a5), load128(p + 80));
    a6 = xor128(fold128<1024>(a6), load128(p + 96));
    a7 = xor128(fold128<1024>(a7), load128(p + 112));
  }
  // Accumulator i stands 128 * (7 - i) bits before the end of the window.
  const __m128i x0 = xor128(xor128(fold128<896>(a0), fold128<768>(a1)),
                            xor128(fold128<640>(a2), fold128<512>(a3)));
  const __m128i x1 = xor128(xor128(fold128<384>(a4), fold128<256>(a5)),
                            xor128(fold128<128>(a6), a7));
  const __m128i x = xor128(x0, x1);
  return fold_rest(x, p, len);
}

constexpr size_t kLongChunk = 128;  // from here a chunk has enough for its own accumulators

CLMUL128_INLINE __m128i residue128(const uint8_t *p, size_t len) {
  if (len < 16) return residue_short(p, len);
  if (len < kLongChunk) {
    __m128i r;
    residues_lockstep<1>(p, len, &r);
    return r;
  }
  return residue_long128(p, len);
}

// 128-bit V to the CRC register S = V * x^32 mod P, left in dword 1.
// V * x^32 = a * x^96 + b * x^32 (a, b its halves): a is folded by x^96 onto
// b * x^32, the top 32 bits of that by x^64, and the 64 bits left go through
// Barrett (q = floor(low word * mu / x^32), S = A + q * P).
CLMUL128_INLINE __m128i reduce128(__m128i v) {
  const __m128i k = _mm_set_epi64x(static_cast<long long>(k_mul(64)),
                                   static_cast<long long>(k_mul(96)));
  const __m128i b = _mm_set_epi64x(static_cast<long long>(kPolyReflected33),
                                   static_cast<long long>(kMu));
  __m128i u = xor128(_mm_clmulepi64_si128(v, k, 0x00), _mm_srli_si128(v, 4));
  u = _mm_and_si128(u, _mm_set_epi32(-1, -1, -1, 0));
  const __m128i a = xor128(_mm_clmulepi64_si128(u, k, 0x10), u);  // A in the high half
  const __m128i q = _mm_clmulepi64_si128(_mm_and_si128(a, _mm_set_epi32(0, -1, 0, 0)), b, 0x01);
  const __m128i qp = _mm_clmulepi64_si128(_mm_and_si128(q, _mm_set_epi32(0, 0, 0, -1)), b, 0x10);
  return xor128(qp, _mm_srli_si128(a, 8));
}

// Registers (dword 1 of each) to four stored words: inverted, big-endian.
CLMUL128_INLINE __m128i words128(__m128i r0, __m128i r1, __m128i r2, __m128i r3) {
  const __m128i s = _mm_unpackhi_epi64(_mm_unpacklo_epi32(r0, r1), _mm_unpacklo_epi32(r2, r3));
  const __m128i bswap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  return _mm_shuffle_epi8(xor128(s, _mm_set1_epi32(-1)), bswap);
}

CLMUL128_INLINE uint32_t word_of(__m128i r) {
  return __builtin_bswap32(~static_cast<uint32_t>(_mm_extract_epi32(r, 1)));
}

// Stores the first n (1..4) of four words.
CLMUL128_INLINE void store_words(uint32_t *words, __m128i w, size_t n) {
  if (n == 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(words), w);
  } else {
    alignas(16) uint32_t tmp[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(tmp), w);
    std::memcpy(words, tmp, n * sizeof(uint32_t));
  }
}

// ---- 256-bit helpers (VPCLMULQDQ, AVX2) -------------------------------------

#define CLMUL256 __attribute__((target("avx2,pclmul,vpclmulqdq")))
#define CLMUL256_INLINE CLMUL256 __attribute__((always_inline)) inline

CLMUL256_INLINE __m256i load256(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

CLMUL256_INLINE __m256i xor256(__m256i a, __m256i b) { return _mm256_xor_si256(a, b); }

// Lane 0 moved forward by D0 bits, lane 1 by D1 bits.
template <int D0, int D1>
CLMUL256_INLINE __m256i fold256(__m256i x) {
  constexpr uint64_t lo0 = k_mul(D0 + 64), hi0 = k_mul(D0), lo1 = k_mul(D1 + 64), hi1 = k_mul(D1);
  const __m256i k = _mm256_set_epi64x(static_cast<long long>(hi1), static_cast<long long>(lo1),
                                      static_cast<long long>(hi0), static_cast<long long>(lo0));
  return xor256(_mm256_clmulepi64_epi128(x, k, 0x00), _mm256_clmulepi64_epi128(x, k, 0x11));
}

// One chunk of at least 128 bytes on four 256-bit accumulators.
CLMUL256_INLINE __m128i residue_long256(const uint8_t *p, size_t len) {
  __m256i a0 = xor256(load256(p), _mm256_castsi128_si256(init128())), a1 = load256(p + 32),
          a2 = load256(p + 64), a3 = load256(p + 96);
  for (p += 128, len -= 128; len >= 128; p += 128, len -= 128) {
    a0 = xor256(fold256<1024, 1024>(a0), load256(p));
    a1 = xor256(fold256<1024, 1024>(a1), load256(p + 32));
    a2 = xor256(fold256<1024, 1024>(a2), load256(p + 64));
    a3 = xor256(fold256<1024, 1024>(a3), load256(p + 96));
  }
  // Lane l of accumulator i is 16-byte block 2i + l of the window; each moves
  // to the window's end, where the last lane already is.
  const __m256i a3_lane0 = fold256<128, 128>(a3);
  const __m256i s = xor256(xor256(fold256<896, 768>(a0), fold256<640, 512>(a1)),
                           xor256(fold256<384, 256>(a2), _mm256_blend_epi32(a3_lane0, a3, 0xF0)));
  const __m128i x = xor128(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
  return fold_rest(x, p, len);
}

// Four chunks of cs bytes (32 <= cs) from p in lockstep, one 256-bit
// accumulator each; the two lanes of each are then joined two chunks per
// register, and the last 0..31 bytes go the 128-bit way.
CLMUL256_INLINE void residues_lockstep256(const uint8_t *p, size_t cs, __m128i *r) {
  const __m256i init = _mm256_castsi128_si256(init128());
  __m256i y0 = xor256(load256(p), init), y1 = xor256(load256(p + cs), init),
          y2 = xor256(load256(p + 2 * cs), init), y3 = xor256(load256(p + 3 * cs), init);
  size_t off = 32;
  for (; cs - off >= 32; off += 32) {
    y0 = xor256(fold256<256, 256>(y0), load256(p + off));
    y1 = xor256(fold256<256, 256>(y1), load256(p + cs + off));
    y2 = xor256(fold256<256, 256>(y2), load256(p + 2 * cs + off));
    y3 = xor256(fold256<256, 256>(y3), load256(p + 3 * cs + off));
  }
  const __m256i c01 = xor256(fold256<128, 128>(_mm256_permute2x128_si256(y0, y1, 0x20)),
                             _mm256_permute2x128_si256(y0, y1, 0x31));
  const __m256i c23 = xor256(fold256<128, 128>(_mm256_permute2x128_si256(y2, y3, 0x20)),
                             _mm256_permute2x128_si256(y2, y3, 0x31));
  r[0] = _mm256_castsi256_si128(c01);
  r[1] = _mm256_extracti128_si256(c01, 1);
  r[2] = _mm256_castsi256_si128(c23);
  r[3] = _mm256_extracti128_si256(c23, 1);
  if (cs > off)
    for (int g = 0; g < 4; ++g) r[g] = fold_rest(r[g], p + g * cs + off, cs - off);
}

CLMUL256_INLINE __m128i residue256(const uint8_t *p, size_t len) {
  if (len < kLongChunk) return residue128(p, len);
  return residue_long256(p, len);
}

// reduce128 on both lanes.
CLMUL256_INLINE __m256i reduce256(__m256i v) {
  const __m256i k = _mm256_set_epi64x(static_cast<long long>(k_mul(64)),
                                      static_cast<long long>(k_mul(96)),
                                      static_cast<long long>(k_mul(64)),
                                      static_cast<long long>(k_mul(96)));
  const __m256i b = _mm256_set_epi64x(static_cast<long long>(kPolyReflected33),
                                      static_cast<long long>(kMu),
                                      static_cast<long long>(kPolyReflected33),
                                      static_cast<long long>(kMu));
  __m256i u = xor256(_mm256_clmulepi64_epi128(v, k, 0x00), _mm256_bsrli_epi128(v, 4));
  u = _mm256_and_si256(u, _mm256_set_epi32(-1, -1, -1, 0, -1, -1, -1, 0));
  const __m256i a = xor256(_mm256_clmulepi64_epi128(u, k, 0x10), u);
  const __m256i q = _mm256_clmulepi64_epi128(
      _mm256_and_si256(a, _mm256_set_epi32(0, -1, 0, 0, 0, -1, 0, 0)), b, 0x01);
  const __m256i qp = _mm256_clmulepi64_epi128(
      _mm256_and_si256(q, _mm256_set_epi32(0, 0, 0, -1, 0, 0, 0, -1)), b, 0x10);
  return xor256(qp, _mm256_bsrli_epi128(a, 8));
}

// Four chunks' 128-bit values to their four stored words, two per register.
CLMUL256_INLINE __m128i words256(__m128i r0, __m128i r1, __m128i r2, __m128i r3) {
  const __m256i y01 = reduce256(_mm256_set_m128i(r1, r0));
  const __m256i y23 = reduce256(_mm256_set_m128i(r3, r2));
  // Lane 0 gets r0 and r2, lane 1 r1 and r3 (dwords 2 and 3).
  const __m256i t = _mm256_unpacklo_epi32(y01, y23);
  const __m128i s = _mm_unpackhi_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
  const __m128i bswap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  return _mm_shuffle_epi8(xor128(s, _mm_set1_epi32(-1)), bswap);
}

}  // namespace

namespace zelkor {

// ---- The 128-bit tier --------------------------------------------------------

CLMUL128 void crc32_zlib_chunks_pclmul(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                                       uint32_t *words) {
  __m128i r[4];
  while (n_chunks > 0) {
    const size_t n = n_chunks < 4 ? n_chunks : 4;
    if (n == 4) {
      if (chunk_size < 16) {
        for (int g = 0; g < 4; ++g) r[g] = residue_short(data + g * chunk_size, chunk_size);
      } else if (chunk_size < kLongChunk) {
        residues_lockstep<4>(data, chunk_size, r);
      } else {
        for (int g = 0; g < 4; ++g) r[g] = residue_long128(data + g * chunk_size, chunk_size);
      }
    } else {
      for (size_t g = 0; g < 4; ++g)
        r[g] = g < n ? residue128(data + g * chunk_size, chunk_size) : _mm_setzero_si128();
    }
    const __m128i w = words128(reduce128(r[0]), reduce128(r[1]), reduce128(r[2]), reduce128(r[3]));
    store_words(words, w, n);
    data += n * chunk_size;
    words += n;
    n_chunks -= n;
  }
}

CLMUL128 uint32_t crc32_zlib_one_pclmul(const uint8_t *data, size_t len) {
  return word_of(reduce128(residue128(data, len)));
}

// ---- The 256-bit tier --------------------------------------------------------

CLMUL256 void crc32_zlib_chunks_vpclmul_avx2(const uint8_t *data, size_t chunk_size,
                                             size_t n_chunks, uint32_t *words) {
  __m128i r[4];
  while (n_chunks > 0) {
    const size_t n = n_chunks < 4 ? n_chunks : 4;
    if (n == 4) {
      if (chunk_size < 16) {
        for (int g = 0; g < 4; ++g) r[g] = residue_short(data + g * chunk_size, chunk_size);
      } else if (chunk_size < 32) {
        residues_lockstep<4>(data, chunk_size, r);
      } else if (chunk_size < kLongChunk) {
        residues_lockstep256(data, chunk_size, r);
      } else {
        for (int g = 0; g < 4; ++g) r[g] = residue_long256(data + g * chunk_size, chunk_size);
      }
    } else {
      for (size_t g = 0; g < 4; ++g)
        r[g] = g < n ? residue256(data + g * chunk_size, chunk_size) : _mm_setzero_si128();
    }
    store_words(words, words256(r[0], r[1], r[2], r[3]), n);
    data += n * chunk_size;
    words += n;
    n_chunks -= n;
  }
}

CLMUL256 uint32_t crc32_zlib_one_vpclmul_avx2(const uint8_t *data, size_t len) {
  return word_of(reduce128(residue256(data, len)));
}

// ---- Detection: from the processor features the engine reads ----------------

unsigned crc32_clmul_tiers(const cpu_features &f) {
  if (!f.pclmul || !f.ssse3 || !f.sse41) return 0;
  unsigned tiers = CLMUL_TIER_PCLMUL;
  // 256-bit registers also need the operating system to save YMM state.
  if (f.avx2 && f.vpclmulqdq && f.ymm_state) tiers |= CLMUL_TIER_VPCLMUL_AVX2;
  return tiers;
}

unsigned crc32_clmul_tiers() { return crc32_clmul_tiers(read_cpu_features()); }

}  // namespace zelkor
