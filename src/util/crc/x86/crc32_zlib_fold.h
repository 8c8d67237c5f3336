// crc32_zlib_fold.h -- CRC-32 (zlib) by carry-less folding: what every tier shares.
//
// The CRC register after a message M of n bytes, started at R, is
// S = (R * x^(8n) + M * x^32) mod P (bit-reflected, as zlib keeps it).  A
// chunk is therefore reduced to a 128-bit value V congruent to
// R * x^(8n-32) + M, and S = V * x^32 mod P is computed at the end:
//   * folding (clmul.h): accumulators move forward over the chunk and take
//     in the data they meet; several per chunk, so that the products'
//     latency overlaps, combined by a tree of independent folds;
//   * the last 1..15 bytes are handled by splitting accumulator plus tail
//     into the t bytes that overflow 128 bits (folded) and the 16 that fit;
//   * the 128 -> 32 bit reduction (two folds, then Barrett) runs for four
//     chunks together, and the four words are formed and stored at once.
//
// These are the 128-bit (PCLMULQDQ, SSE4.1) pieces; a wider tier inlines
// them for short chunks and for what its own registers leave.
#ifndef ZELKOR_UTIL_CRC_CRC32_ZLIB_FOLD_H
#define ZELKOR_UTIL_CRC_CRC32_ZLIB_FOLD_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../../bulk_crc32_internal.h"
#include "clmul.h"

namespace zelkor::crc32_zlib_fold {

using namespace clmul;

inline constexpr uint32_t P = gf2::kCrc32Zlib;
inline constexpr uint32_t kInit = 0xFFFFFFFFu;  // the register's start value, all ones

// From this length a chunk has enough for accumulators of its own.
inline constexpr size_t kLongChunk = 128;

// A chunk of n < 16 bytes becomes M (right-aligned in 16 bytes) plus
// R * x^(8n-32) mod P in the last four bytes; for n < 4 the exponent is
// negative, which x's inverse handles.  The 512-bit kernels start every
// chunk the same way with its first 1..64 bytes in a 64-byte window.
inline constexpr std::array<uint32_t, 65> kStartShift = [] {
  std::array<uint32_t, 65> t{};
  for (int n = 0; n <= 64; ++n) t[n] = gf2::x_pow(P, 8 * n - 32);
  return t;
}();
inline constexpr std::array<uint32_t, 65> kShortInit = [] {
  std::array<uint32_t, 65> t{};
  for (int n = 0; n <= 64; ++n) t[n] = gf2::mul_mod(P, kInit, kStartShift[n]);
  return t;
}();

// The same for a chunk continued from any register.
inline uint32_t start_value(uint32_t reg, size_t n) {
  return reg == kInit ? kShortInit[n] : gf2::mul_mod(P, reg, kStartShift[n]);
}

// PSHUFB masks: 16 bytes loaded at offset 16 - s shift a register up by s
// bytes (byte k <- byte k - s), at offset 16 + s down by s; 0x80 zeroes.
alignas(16) inline constexpr std::array<uint8_t, 48> kShiftMasks = [] {
  std::array<uint8_t, 48> t{};
  for (int j = 0; j < 48; ++j) t[j] = (j >= 16 && j < 32) ? static_cast<uint8_t>(j - 16) : 0x80;
  return t;
}();

// The start register, to be added to the first four bytes of a chunk.
ZELKOR_CLMUL128 __m128i init128(uint32_t reg = kInit) {
  return _mm_cvtsi32_si128(static_cast<int>(reg));
}

// Appends the last t (1..15) bytes of a chunk that ends at end and is at
// least 16 bytes long.  Accumulator and tail make 16 + t bytes: the first t
// (h, right-aligned) are folded over the last 16 (l).
ZELKOR_CLMUL128 __m128i fold_tail(__m128i x, const uint8_t *end, size_t t) {
  const __m128i last16 = load128(end - 16);
  const __m128i up = load128(kShiftMasks.data() + t);         // up by 16 - t
  const __m128i down = load128(kShiftMasks.data() + 16 + t);  // down by t
  const __m128i h = _mm_shuffle_epi8(x, up);
  const __m128i l = _mm_blendv_epi8(_mm_shuffle_epi8(x, down), last16, down);
  return xor128(fold128<P, 128>(h), l);
}

// Folds the rest of a chunk (fewer than 128 bytes) onto x.
ZELKOR_CLMUL128 __m128i fold_rest(__m128i x, const uint8_t *p, size_t len) {
  for (; len >= 16; p += 16, len -= 16) x = xor128(fold128<P, 128>(x), load128(p));
  if (len > 0) x = fold_tail(x, p + len, len);
  return x;
}

// Chunks shorter than 16 bytes.
ZELKOR_CLMUL128 __m128i residue_short(const uint8_t *p, size_t n, uint32_t reg = kInit) {
  alignas(16) uint8_t buf[16] = {};
  if (n > 0) std::memcpy(buf + 16 - n, p, n);
  return xor128(load128(buf), _mm_set_epi32(static_cast<int>(start_value(reg, n)), 0, 0, 0));
}

// G chunks of cs bytes (16 <= cs) from p, in lockstep, one accumulator each.
// Meant for short chunks, where a chunk alone has too little to overlap.
template <int G>
ZELKOR_CLMUL128 void residues_lockstep(const uint8_t *p, size_t cs, __m128i *r,
                                       __m128i init = init128()) {
  __m128i x[G];
  for (int g = 0; g < G; ++g) x[g] = xor128(load128(p + g * cs), init);
  size_t off = 16;
  for (; cs - off >= 16; off += 16)
    for (int g = 0; g < G; ++g) x[g] = xor128(fold128<P, 128>(x[g]), load128(p + g * cs + off));
  if (cs > off)
    for (int g = 0; g < G; ++g) x[g] = fold_tail(x[g], p + g * cs + cs, cs - off);
  for (int g = 0; g < G; ++g) r[g] = x[g];
}

// One chunk of at least 128 bytes on eight accumulators.
ZELKOR_CLMUL128 __m128i residue_long128(const uint8_t *p, size_t len, __m128i init = init128()) {
  __m128i a[8];
  a[0] = xor128(load128(p), init);
#pragma GCC unroll 8
  for (int i = 1; i < 8; ++i) a[i] = load128(p + 16 * i);
  for (p += 128, len -= 128; len >= 128; p += 128, len -= 128)
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) a[i] = xor128(fold128<P, 1024>(a[i]), load128(p + 16 * i));
  // Accumulator i stands 128 * (7 - i) bits before the end of the window.
  const __m128i x0 = xor128(xor128(fold128<P, 896>(a[0]), fold128<P, 768>(a[1])),
                            xor128(fold128<P, 640>(a[2]), fold128<P, 512>(a[3])));
  const __m128i x1 = xor128(xor128(fold128<P, 384>(a[4]), fold128<P, 256>(a[5])),
                            xor128(fold128<P, 128>(a[6]), a[7]));
  return fold_rest(xor128(x0, x1), p, len);
}

// The residue of one chunk whose register starts at reg.
ZELKOR_CLMUL128 __m128i residue128(const uint8_t *p, size_t len, uint32_t reg = kInit) {
  if (len < 16) return residue_short(p, len, reg);
  if (len < kLongChunk) {
    __m128i r;
    residues_lockstep<1>(p, len, &r, init128(reg));
    return r;
  }
  return residue_long128(p, len, init128(reg));
}

// The two multipliers of the 128 -> 64 step (by x^96 and x^64), and
// Barrett's pair (P, mu).
ZELKOR_CLMUL128 __m128i reduce_k128() {
  constexpr long long k96 = static_cast<long long>(gf2::fold_multiplier(P, 96));
  constexpr long long k64 = static_cast<long long>(gf2::fold_multiplier(P, 64));
  return _mm_set_epi64x(k64, k96);
}
ZELKOR_CLMUL128 __m128i barrett128() {
  constexpr long long poly = static_cast<long long>(gf2::barrett_poly(P));
  constexpr long long mu = static_cast<long long>(gf2::barrett_mu(P));
  return _mm_set_epi64x(poly, mu);
}

// 128-bit V to the CRC register S = V * x^32 mod P, left in dword 1.
// V * x^32 = a * x^96 + b * x^32 (a, b its halves): a is folded by x^96 onto
// b * x^32, the top 32 bits of that by x^64, and the 64 bits left go through
// Barrett (q = floor(low word * mu / x^32), S = A + q * P).
ZELKOR_CLMUL128 __m128i reduce128(__m128i v) {
  const __m128i k = reduce_k128(), b = barrett128();
  __m128i u = xor128(_mm_clmulepi64_si128(v, k, 0x00), _mm_srli_si128(v, 4));
  u = _mm_and_si128(u, _mm_set_epi32(-1, -1, -1, 0));
  const __m128i a = xor128(_mm_clmulepi64_si128(u, k, 0x10), u);  // A in the high half
  const __m128i q = _mm_clmulepi64_si128(_mm_and_si128(a, _mm_set_epi32(0, -1, 0, 0)), b, 0x01);
  const __m128i qp = _mm_clmulepi64_si128(_mm_and_si128(q, _mm_set_epi32(0, 0, 0, -1)), b, 0x10);
  return xor128(qp, _mm_srli_si128(a, 8));
}

// Four registers, one per dword, to four stored words: inverted, big-endian.
ZELKOR_CLMUL128 __m128i stored_words(__m128i regs) {
  const __m128i bswap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  return _mm_shuffle_epi8(xor128(regs, _mm_set1_epi32(-1)), bswap);
}

// The register of one chunk's residue, and its stored word.
ZELKOR_CLMUL128 uint32_t register_of(__m128i residue) {
  return static_cast<uint32_t>(_mm_extract_epi32(reduce128(residue), 1));
}
ZELKOR_CLMUL128 uint32_t word_of(__m128i residue) { return stored_word(register_of(residue)); }

// The residues of four chunks, in chunk order.
struct residues4_t {
  __m128i r[4];
};

ZELKOR_CLMUL128 void store4(uint32_t *words, __m128i w) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(words), w);
}

}  // namespace zelkor::crc32_zlib_fold

#endif  // ZELKOR_UTIL_CRC_CRC32_ZLIB_FOLD_H
