// crc32_zlib_pclmul.cc -- CRC-32 (zlib) of whole chunks on 128-bit carry-less folds.
#include "crc32_zlib_fold.h"
#include "tier_table.h"

namespace zelkor {

namespace {

using namespace crc32_zlib_fold;

// Four chunks' residues.
ZELKOR_CLMUL128 residues4_t residues4(const uint8_t *p, size_t cs) {
  residues4_t q;
  __m128i (&r)[4] = q.r;
  if (cs < 16) {
    for (int g = 0; g < 4; ++g) r[g] = residue_short(p + g * cs, cs);
  } else if (cs < kLongChunk) {
    residues_lockstep<4>(p, cs, r);
  } else {
    for (int g = 0; g < 4; ++g) r[g] = residue_long128(p + g * cs, cs);
  }
  return q;
}

// Four residues to their stored words: each reduced, dword 1 of each gathered.
ZELKOR_CLMUL128 __m128i words4(const residues4_t &q) {
  const __m128i (&r)[4] = q.r;
  const __m128i r0 = reduce128(r[0]), r1 = reduce128(r[1]), r2 = reduce128(r[2]),
                r3 = reduce128(r[3]);
  return stored_words(
      _mm_unpackhi_epi64(_mm_unpacklo_epi32(r0, r1), _mm_unpacklo_epi32(r2, r3)));
}

}  // namespace

__attribute__((target("pclmul,sse4.1"))) void crc32_zlib_pclmul_chunks(
    const uint8_t *data, size_t chunk_size, size_t n_chunks, uint32_t *words) {
  static_assert(crc32_zlib_pclmul_group == 4);
  for (; n_chunks >= 4; n_chunks -= 4, data += 4 * chunk_size, words += 4)
    store4(words, words4(residues4(data, chunk_size)));
  for (; n_chunks > 0; --n_chunks, data += chunk_size) *words++ = word_of(residue128(data, chunk_size));
}

__attribute__((target("pclmul,sse4.1"))) uint32_t crc32_zlib_pclmul_one(uint32_t reg,
                                                                       const uint8_t *data,
                                                                       size_t len) {
  return len == 0 ? reg : register_of(residue128(data, len, reg));
}

}  // namespace zelkor
