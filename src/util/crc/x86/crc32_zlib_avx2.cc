// crc32_zlib_avx2.cc -- CRC-32 (zlib) of whole chunks on 256-bit carry-less folds.
//
// Long chunks fold on four 256-bit accumulators (eight lanes), short ones
// four chunks in lockstep with one accumulator each; the 128-bit pieces of
// crc32_zlib_fold.h do the rest.
#include "crc32_zlib_fold.h"
#include "tier_table.h"

#define ZELKOR_ZLIB_AVX2 __attribute__((target("avx2,pclmul,vpclmulqdq")))

namespace zelkor {

namespace {

using namespace crc32_zlib_fold;

// One chunk of at least 128 bytes on four 256-bit accumulators.
ZELKOR_CLMUL256 __m128i residue_long256(const uint8_t *p, size_t len, uint32_t reg = kInit) {
  __m256i a[4];
  a[0] = xor256(load256(p), widen(init128(reg)));
#pragma GCC unroll 4
  for (int i = 1; i < 4; ++i) a[i] = load256(p + 32 * i);
  for (p += 128, len -= 128; len >= 128; p += 128, len -= 128)
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) a[i] = fold256_add<P, 1024>(a[i], load256(p + 32 * i));
  // Lane l of accumulator i is 16-byte block 2i + l of the window; each moves
  // to the window's end, where the last lane already is.
  const __m256i a3_lane0 = fold256<P, 128, 128>(a[3]);
  const __m256i s = xor256(xor256(fold256<P, 896, 768>(a[0]), fold256<P, 640, 512>(a[1])),
                           xor256(fold256<P, 384, 256>(a[2]), _mm256_blend_epi32(a3_lane0, a[3], 0xF0)));
  const __m128i x = xor128(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
  return fold_rest(x, p, len);
}

// Four chunks of cs bytes (32 <= cs) from p in lockstep, one 256-bit
// accumulator each; the two lanes of each are then joined two chunks per
// register, and the last 0..31 bytes go the 128-bit way.
ZELKOR_CLMUL256 void residues_lockstep256(const uint8_t *p, size_t cs, __m128i (&r)[4]) {
  const __m256i init = widen(init128());
  __m256i y[4];
#pragma GCC unroll 4
  for (int g = 0; g < 4; ++g) y[g] = xor256(load256(p + g * cs), init);
  size_t off = 32;
  for (; cs - off >= 32; off += 32)
#pragma GCC unroll 4
    for (int g = 0; g < 4; ++g) y[g] = fold256_add<P, 256>(y[g], load256(p + g * cs + off));
  const __m256i c01 = xor256(fold256<P, 128, 128>(_mm256_permute2x128_si256(y[0], y[1], 0x20)),
                             _mm256_permute2x128_si256(y[0], y[1], 0x31));
  const __m256i c23 = xor256(fold256<P, 128, 128>(_mm256_permute2x128_si256(y[2], y[3], 0x20)),
                             _mm256_permute2x128_si256(y[2], y[3], 0x31));
  r[0] = _mm256_castsi256_si128(c01);
  r[1] = _mm256_extracti128_si256(c01, 1);
  r[2] = _mm256_castsi256_si128(c23);
  r[3] = _mm256_extracti128_si256(c23, 1);
  if (cs > off)
    for (int g = 0; g < 4; ++g) r[g] = fold_rest(r[g], p + g * cs + off, cs - off);
}

ZELKOR_CLMUL256 __m128i residue256(const uint8_t *p, size_t len, uint32_t reg = kInit) {
  if (len < kLongChunk) return residue128(p, len, reg);
  return residue_long256(p, len, reg);
}

ZELKOR_CLMUL256 residues4_t residues4(const uint8_t *p, size_t cs) {
  residues4_t q;
  __m128i (&r)[4] = q.r;
  if (cs < 16) {
    for (int g = 0; g < 4; ++g) r[g] = residue_short(p + g * cs, cs);
  } else if (cs < 32) {
    residues_lockstep<4>(p, cs, r);
  } else if (cs < kLongChunk) {
    residues_lockstep256(p, cs, r);
  } else {
    for (int g = 0; g < 4; ++g) r[g] = residue_long256(p + g * cs, cs);
  }
  return q;
}

// reduce128 on both lanes.
ZELKOR_CLMUL256 __m256i reduce256(__m256i v) {
  const __m256i k = _mm256_broadcastsi128_si256(reduce_k128());
  const __m256i b = _mm256_broadcastsi128_si256(barrett128());
  __m256i u = xor256(_mm256_clmulepi64_epi128(v, k, 0x00), _mm256_bsrli_epi128(v, 4));
  u = _mm256_and_si256(u, _mm256_set_epi32(-1, -1, -1, 0, -1, -1, -1, 0));
  const __m256i a = xor256(_mm256_clmulepi64_epi128(u, k, 0x10), u);
  const __m256i q = _mm256_clmulepi64_epi128(
      _mm256_and_si256(a, _mm256_set_epi32(0, -1, 0, 0, 0, -1, 0, 0)), b, 0x01);
  const __m256i qp = _mm256_clmulepi64_epi128(
      _mm256_and_si256(q, _mm256_set_epi32(0, 0, 0, -1, 0, 0, 0, -1)), b, 0x10);
  return xor256(qp, _mm256_bsrli_epi128(a, 8));
}

// Four residues to their four stored words, two reduced per register.
ZELKOR_CLMUL256 __m128i words4(const residues4_t &q) {
  const __m128i (&r)[4] = q.r;
  const __m256i y01 = reduce256(_mm256_set_m128i(r[1], r[0]));
  const __m256i y23 = reduce256(_mm256_set_m128i(r[3], r[2]));
  // Lane 0 gets r0 and r2, lane 1 r1 and r3 (dwords 2 and 3).
  const __m256i t = _mm256_unpacklo_epi32(y01, y23);
  return stored_words(
      _mm_unpackhi_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1)));
}

}  // namespace

ZELKOR_ZLIB_AVX2 void crc32_zlib_vpclmul_avx2_chunks(const uint8_t *data, size_t chunk_size,
                                                     size_t n_chunks, uint32_t *words) {
  static_assert(crc32_zlib_vpclmul_avx2_group == 4);
  for (; n_chunks >= 4; n_chunks -= 4, data += 4 * chunk_size, words += 4)
    store4(words, words4(residues4(data, chunk_size)));
  for (; n_chunks > 0; --n_chunks, data += chunk_size) *words++ = word_of(residue256(data, chunk_size));
}

ZELKOR_ZLIB_AVX2 uint32_t crc32_zlib_vpclmul_avx2_one(uint32_t reg, const uint8_t *data,
                                                       size_t len) {
  return len == 0 ? reg : register_of(residue256(data, len, reg));
}

}  // namespace zelkor
