// crc32c_avx2.cc -- CRC32C on CRC32 chains and 256-bit carry-less folds at once.
//
// The chains run on the integer units and the folds on the vector unit, so
// their rates add: some chunks of a group go to CRC32 chains while the
// others are folded 64 bytes at a time (two 256-bit accumulators each), in
// one loop.  A folded chunk's last 64 bytes are folded down to 16, which two
// CRC32 steps from zero reduce to its register.
#include "crc32c_avx2.h"

#include "clmul.h"
#include "crc32c_chains.h"

namespace zelkor {

namespace {

using crc32c_chains::crc_serial;
using crc32c_chains::stored;

constexpr uint32_t P = gf2::kCrc32c;

#define ZELKOR_HYBRID_TARGET __attribute__((target("sse4.2,pclmul,avx2,vpclmulqdq")))

// The register of a chunk whose last 64 folded bytes are a0 || a1.
ZELKOR_HYBRID_TARGET inline uint32_t fold_finish(__m256i a0, __m256i a1) {
  a1 = clmul::fold256_add<P, 256>(a0, a1);
  const __m128i v = clmul::xor128(clmul::fold128<P, 128>(_mm256_castsi256_si128(a1)),
                                  _mm256_extracti128_si256(a1, 1));
  const uint64_t r = _mm_crc32_u64(0, static_cast<uint64_t>(_mm_cvtsi128_si64(v)));
  return static_cast<uint32_t>(
      _mm_crc32_u64(r, static_cast<uint64_t>(_mm_extract_epi64(v, 1))));
}

// K blocks on CRC32 chains, then M folded blocks, all of cs >= 64 bytes,
// walked 64 bytes at a time in one loop.  The registers start from all ones
// (whole chunks) or from zero (streams of one chunk, joined afterwards).
template <int K, int M, size_t CS, bool kPreset>
ZELKOR_HYBRID_TARGET inline void hybrid_registers(const uint8_t *p, size_t cs,
                                                  uint32_t (&regs)[K + M]) {
  if constexpr (CS != 0) cs = CS;
  const size_t windows = cs / 64, rest = cs % 64;
  const uint8_t *f = p + K * cs;
  uint64_t c[K];
  __m256i a0[M], a1[M];
#pragma GCC unroll 16
  for (int k = 0; k < K; ++k) c[k] = kPreset ? 0xFFFFFFFFu : 0;
  // A preset register is the same as its bits added into the first bytes.
  const __m256i init = _mm256_setr_epi64x(kPreset ? 0xFFFFFFFFll : 0, 0, 0, 0);
#pragma GCC unroll 16
  for (int m = 0; m < M; ++m) {
    a0[m] = clmul::xor256(clmul::load256(f + m * cs), init);
    a1[m] = clmul::load256(f + m * cs + 32);
  }
#pragma GCC unroll 8
  for (int w = 0; w < 8; ++w)
#pragma GCC unroll 16
    for (int k = 0; k < K; ++k) c[k] = _mm_crc32_u64(c[k], load_le64(p + k * cs + 8 * w));
  for (size_t i = 1; i < windows; ++i) {
    const size_t off = 64 * i;
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m) {
      a0[m] = clmul::fold256_add<P, 512>(a0[m], clmul::load256(f + m * cs + off));
      a1[m] = clmul::fold256_add<P, 512>(a1[m], clmul::load256(f + m * cs + off + 32));
    }
#pragma GCC unroll 8
    for (int w = 0; w < 8; ++w)
#pragma GCC unroll 16
      for (int k = 0; k < K; ++k) c[k] = _mm_crc32_u64(c[k], load_le64(p + k * cs + off + 8 * w));
  }
  const size_t done = 64 * windows;
#pragma GCC unroll 16
  for (int k = 0; k < K; ++k)
    regs[k] = crc_serial(static_cast<uint32_t>(c[k]), p + k * cs + done, rest);
#pragma GCC unroll 16
  for (int m = 0; m < M; ++m)
    regs[K + m] = crc_serial(fold_finish(a0[m], a1[m]), f + m * cs + done, rest);
}

template <int K, int M, size_t CS>
ZELKOR_HYBRID_TARGET inline void hybrid_group(const uint8_t *p, size_t cs, uint32_t *words) {
  uint32_t regs[K + M];
  hybrid_registers<K, M, CS, true>(p, cs, regs);
#pragma GCC unroll 16
  for (int k = 0; k < K + M; ++k) words[k] = stored(regs[k]);
}

// One long chunk: rounds of 3 streams on CRC32 chains and 3 folded, joined
// as in crc32c_chains::one_register; what is left goes there.
ZELKOR_HYBRID_TARGET inline uint32_t hybrid_one_register(const uint8_t *p, size_t len) {
  using namespace crc32c_chains;
  constexpr int N = 6;
  uint32_t acc = 0xFFFFFFFFu;
  const bool prefetch = len >= kPrefetchMin;
  while (len >= N * 64) {
    const size_t b = len >= N * kRoundStream ? kRoundStream : len / (N * 64) * 64;
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * b, N * b);
    uint32_t c[N];
    if (b == kRoundStream)
      hybrid_registers<3, 3, kRoundStream, false>(p, b, c);
    else
      hybrid_registers<3, 3, 0, false>(p, b, c);
    acc = join_streams<N>(acc, c, b);
    p += N * b;
    len -= N * b;
  }
  return one_register<3>(p, len, acc);
}

template <int K, int M, size_t CS>
ZELKOR_HYBRID_TARGET void hybrid_chunks_n(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  using namespace crc32c_chains;
  if constexpr (CS != 0) cs = CS;
  const bool prefetch = n * cs >= kPrefetchMin;
  for (; n >= K + M; n -= K + M, p += (K + M) * cs, words += K + M) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * (K + M) * cs, (K + M) * cs);
    hybrid_group<K, M, CS>(p, cs, words);
  }
  // The last few chunks: a smaller mix; two chunks go faster both folded
  // than with one of them on a lone chain.
  static_assert(K + M == kCrc32cHybridAvx2Group, "the leftover mixes below assume groups of six");
  switch (n) {
    case 5: return hybrid_group<3, 2, CS>(p, cs, words);
    case 4: return hybrid_group<2, 2, CS>(p, cs, words);
    case 3: return hybrid_group<2, 1, CS>(p, cs, words);
    case 2: return hybrid_group<0, 2, CS>(p, cs, words);
    case 1: *words = stored(hybrid_one_register(p, cs)); return;
  }
}

}  // namespace

// Chunks below 64 bytes leave nothing to fold.
ZELKOR_HYBRID_TARGET void crc32c_hybrid_avx2_chunks(const uint8_t *data, size_t chunk_size,
                                                    size_t n_chunks, uint32_t *words) {
  switch (chunk_size) {
    case 128: return hybrid_chunks_n<3, 3, 128>(data, chunk_size, n_chunks, words);
    case 256: return hybrid_chunks_n<3, 3, 256>(data, chunk_size, n_chunks, words);
    case 512: return hybrid_chunks_n<3, 3, 512>(data, chunk_size, n_chunks, words);
    case 1024: return hybrid_chunks_n<3, 3, 1024>(data, chunk_size, n_chunks, words);
    case 2048: return hybrid_chunks_n<3, 3, 2048>(data, chunk_size, n_chunks, words);
    case 4096: return hybrid_chunks_n<3, 3, 4096>(data, chunk_size, n_chunks, words);
    default:
      if (chunk_size < 64) return crc32c_chains::chunks<3>(data, chunk_size, n_chunks, words);
      return hybrid_chunks_n<3, 3, 0>(data, chunk_size, n_chunks, words);
  }
}

ZELKOR_HYBRID_TARGET uint32_t crc32c_hybrid_avx2_one(const uint8_t *data, size_t len) {
  return stored(hybrid_one_register(data, len));
}

}  // namespace zelkor
