// crc32c_hybrid_body.h -- CRC32C on CRC32 chains and carry-less folds at once,
// written once over the operations of v512.h.
//
// No include guard: a kernel's .cc includes it (after v512_folds.h) in the
// namespace of each copy that it builds, with ZELKOR_V512 naming that copy's
// target, which must add SSE4.2 to the operations' own, and
// ZELKOR_V512_SHARED the same target without forced inlining: the loops
// over whole chunks and over one long chunk are compiled once a copy and
// shared by its entry points.
//
// The chains run on the integer units and the folds on the vector unit, so
// their rates add: of a group of K + M chunks, K go to CRC32 chains while M
// are folded 64 bytes a step, one vector per chunk, in one loop.  A folded
// chunk's last window is folded down to 16 bytes, which two CRC32 steps from
// zero reduce to its register.  How many of each keeps both kinds of unit
// busy depends on the processor; the tier module chooses the split.  A lone
// long chunk is cut into K + M streams walked the same way and joined as
// chains.h joins streams.

using step = sse42_crc32c_step;

// From this size a leftover chunk (fewer than a group remain) goes faster
// cut into streams of its own than in a smaller mix of chains and folds.
inline constexpr size_t kLoneFrom = 2048;

// The register of a chunk whose last folded window is x.
ZELKOR_V512 uint32_t fold_finish(vec x) {
  const __m128i v = window_to_lane<gf2::kCrc32c>(x);
  const uint64_t r = _mm_crc32_u64(0, static_cast<uint64_t>(_mm_cvtsi128_si64(v)));
  return static_cast<uint32_t>(_mm_crc32_u64(r, static_cast<uint64_t>(_mm_extract_epi64(v, 1))));
}

// K blocks on CRC32 chains, then M folded blocks, all of cs >= 64 bytes,
// walked 64 bytes at a time in one loop.  The registers start from all ones
// (whole chunks) or from zero (streams of one chunk, joined afterwards).
//
// Out of the caches, `ahead` is where a later round of K + M streams of one
// long chunk lies: a line of each of its streams is fetched at every step,
// spread over the loop (a whole round of 4 KiB streams asked for at once
// overruns the loads in flight; whole chunks of a group, shorter, are
// fetched a group at a time, which measured better there).
template <int K, int M, size_t CS, bool kPreset>
ZELKOR_V512 void hybrid_registers(const uint8_t *p, size_t cs, uint32_t (&regs)[K + M],
                                  const uint8_t *ahead) {
  if constexpr (CS != 0) cs = CS;
  const auto fetch_ahead = [&](size_t off) {
    if (ahead == nullptr) return;
    const uintptr_t at = reinterpret_cast<uintptr_t>(ahead) + off;
#pragma GCC unroll 16
    for (int k = 0; k < K + M; ++k) __builtin_prefetch(reinterpret_cast<const void *>(at + k * cs), 0, 3);
  };
  const size_t windows = cs / 64, rest = cs % 64;
  const uint8_t *f = p + K * cs;
  uint64_t c[K > 0 ? K : 1];
  vec a[M];
#pragma GCC unroll 16
  for (int k = 0; k < K; ++k) c[k] = kPreset ? kRegisterInit : 0;
  // A preset register is the same as its bits added into the first bytes.
  const vec init = first_dword(kPreset ? kRegisterInit : 0);
  fetch_ahead(0);
#pragma GCC unroll 16
  for (int m = 0; m < M; ++m) a[m] = xor2(load(f + m * cs), init);
#pragma GCC unroll 8
  for (int w = 0; w < 8; ++w)
#pragma GCC unroll 16
    for (int k = 0; k < K; ++k) c[k] = _mm_crc32_u64(c[k], load_le64(p + k * cs + 8 * w));
  for (size_t i = 1; i < windows; ++i) {
    const size_t off = 64 * i;
    fetch_ahead(off);
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m) a[m] = fold_add<gf2::kCrc32c, 512>(a[m], load(f + m * cs + off));
#pragma GCC unroll 8
    for (int w = 0; w < 8; ++w)
#pragma GCC unroll 16
      for (int k = 0; k < K; ++k) c[k] = _mm_crc32_u64(c[k], load_le64(p + k * cs + off + 8 * w));
  }
  const size_t done = 64 * windows;
#pragma GCC unroll 16
  for (int k = 0; k < K; ++k)
    regs[k] = chains::crc_serial<step>(static_cast<uint32_t>(c[k]), p + k * cs + done, rest);
#pragma GCC unroll 16
  for (int m = 0; m < M; ++m) regs[K + m] = chains::crc_serial<step>(fold_finish(a[m]), f + m * cs + done, rest);
}

template <int K, int M, size_t CS>
ZELKOR_V512 void hybrid_group(const uint8_t *p, size_t cs, uint32_t *words,
                              const uint8_t *ahead = nullptr) {
  uint32_t regs[K + M];
  hybrid_registers<K, M, CS, true>(p, cs, regs, ahead);
#pragma GCC unroll 16
  for (int k = 0; k < K + M; ++k) words[k] = stored_word(regs[k]);
}

// The register after one chunk of any length, continued from acc: rounds
// of 3 streams on chains and 3 folded, joined; what is left after the
// rounds goes on three chains.  (Rounds of
// more folded streams lose: each stream's finish and join costs more than
// the fold rate gains over a lone chunk.)
ZELKOR_V512_SHARED uint32_t hybrid_one_register(uint32_t acc, const uint8_t *p, size_t len) {
  constexpr int K = 3, M = 3, N = K + M;
  constexpr size_t kRound = chains::kRoundStream;
  const bool prefetch = len >= kPrefetchMin;
  while (len >= N * 64) {
    const size_t b = len >= N * kRound ? kRound : len / (N * 64) * 64;
    const uint8_t *ahead = prefetch ? p + kPrefetchAhead * N * b : nullptr;
    uint32_t c[N];
    if (b == kRound)
      hybrid_registers<K, M, kRound, false>(p, b, c, ahead);
    else
      hybrid_registers<K, M, 0, false>(p, b, c, ahead);
    acc = chains::join_streams<step, N>(acc, c, b);
    p += N * b;
    len -= N * b;
  }
  return chains::one_register<step, 3>(acc, p, len);
}

// Whole chunks of cs >= 64 bytes: groups of K + M; the last few long ones
// each as a lone chunk, short ones in groups of three and three, then a
// smaller mix (two chunks go faster both folded than with one of them on a
// lone chain).
template <int K, int M, size_t CS>
ZELKOR_V512_SHARED void hybrid_chunks_n(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if constexpr (CS != 0) cs = CS;
  const bool prefetch = n * cs >= kPrefetchMin;
  for (; n >= K + M; n -= K + M, p += (K + M) * cs, words += K + M) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * (K + M) * cs, (K + M) * cs);
    hybrid_group<K, M, CS>(p, cs, words);
  }
  if (cs >= kLoneFrom) {
    for (; n > 0; --n, p += cs) *words++ = stored_word(hybrid_one_register(kRegisterInit, p, cs));
    return;
  }
  for (; n >= 6; n -= 6, p += 6 * cs, words += 6) hybrid_group<3, 3, CS>(p, cs, words);
  switch (n) {
    case 5: return hybrid_group<3, 2, CS>(p, cs, words);
    case 4: return hybrid_group<2, 2, CS>(p, cs, words);
    case 3: return hybrid_group<2, 1, CS>(p, cs, words);
    case 2: return hybrid_group<0, 2, CS>(p, cs, words);
    case 1: *words = stored_word(hybrid_one_register(kRegisterInit, p, cs)); return;
  }
}

// Short chunks leave little to fold: below kFoldFrom bytes they go on S
// chains alone, as many as the processor's CRC32 units want.
template <int K, int M, int S, size_t kFoldFrom>
ZELKOR_V512 void chunks(const uint8_t *data, size_t cs, size_t n, uint32_t *words) {
  static_assert(kFoldFrom >= 64, "a folded chunk needs a whole window");
  if (cs < kFoldFrom) return chains::chunks<step, S>(data, cs, n, words);
#define ZELKOR_CASE(size) \
  case size: return hybrid_chunks_n<K, M, size>(data, cs, n, words);
  switch (cs) {
#if !defined(ZELKOR_INSTRUMENTED_SIZES)
    ZELKOR_COMMON_CHUNK_SIZES(ZELKOR_CASE)
#elif ZELKOR_INSTRUMENTED_SIZES == 512  // instrumented builds: see src/CMakeLists.txt
    ZELKOR_CASE(512)
#endif
    default: return hybrid_chunks_n<K, M, 0>(data, cs, n, words);
  }
#undef ZELKOR_CASE
}

ZELKOR_V512 uint32_t one(uint32_t reg, const uint8_t *data, size_t len) {
  return hybrid_one_register(reg, data, len);
}
