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
// busy depends on the processor; the tier table names the split.  A lone
// chunk is cut into rounds of streams walked the same way (on a split of
// its own) and joined as chains.h joins streams, the chunks after the last
// group into as many streams as a group has; beyond the caches a chunk is
// read as one folded stream instead.

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
// Out of the caches, `ahead` is the next group: each step fetches the next
// K + M lines of it in order, so that the group is fetched front to back
// over the loop.  (Measured on Zen 5 at 512-byte chunks: 8 bytes a cycle
// out of memory, against 6-7 for the whole group fetched at the start of
// the one before and 4 for none.)
template <int K, int M, size_t CS, bool kPreset>
ZELKOR_V512 void hybrid_registers(const uint8_t *p, size_t cs, uint32_t (&regs)[K + M],
                                  const uint8_t *ahead = nullptr) {
  if constexpr (CS != 0) cs = CS;
  const size_t windows = cs / 64, rest = cs % 64;
  const uint8_t *f = p + K * cs;
  uint64_t c[K > 0 ? K : 1];
  vec a[M];
#pragma GCC unroll 16
  for (int k = 0; k < K; ++k) c[k] = kPreset ? kRegisterInit : 0;
  // A preset register is the same as its bits added into the first bytes.
  const vec init = first_dword(kPreset ? kRegisterInit : 0);
  if (ahead != nullptr) prefetch_range(ahead, 0, (K + M) * 64);
#pragma GCC unroll 16
  for (int m = 0; m < M; ++m) a[m] = xor2(load(f + m * cs), init);
#pragma GCC unroll 8
  for (int w = 0; w < 8; ++w)
#pragma GCC unroll 16
    for (int k = 0; k < K; ++k) c[k] = _mm_crc32_u64(c[k], load_le64(p + k * cs + 8 * w));
  for (size_t i = 1; i < windows; ++i) {
    const size_t off = 64 * i;
    if (ahead != nullptr) prefetch_range(ahead, (K + M) * off, (K + M) * 64);
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

// One stream folded four windows a step from front to back, continued from
// acc, for len >= 256.  Out of the caches a chunk read as one sequential
// stream keeps the hardware prefetcher ahead of the loads, which the
// streams of a round (each a stream of its own to the prefetcher) do not;
// the fold alone runs faster than memory.
ZELKOR_V512_SHARED uint32_t fold_stream(uint32_t acc, const uint8_t *p, size_t len) {
  constexpr uint32_t P = gf2::kCrc32c;
  vec a0 = xor2(load(p), first_dword(acc)), a1 = load(p + 64), a2 = load(p + 128),
      a3 = load(p + 192);
  for (p += 256, len -= 256; len >= 256; p += 256, len -= 256) {
    // A little ahead of the hardware prefetcher: measured a few percent
    // over it alone.
    prefetch_range(p, 4096, 256);
    a0 = fold_add<P, 2048>(a0, load(p));
    a1 = fold_add<P, 2048>(a1, load(p + 64));
    a2 = fold_add<P, 2048>(a2, load(p + 128));
    a3 = fold_add<P, 2048>(a3, load(p + 192));
  }
  vec x = xor3(fold<P, 1536>(a0), fold<P, 1024>(a1), fold_add<P, 512>(a2, a3));
  for (; len >= 64; p += 64, len -= 64) x = fold_add<P, 512>(x, load(p));
  return chains::crc_serial<step>(fold_finish(x), p, len);
}

// From this length a chunk is read as one stream (fold_stream): measured on
// Zen 5, the rounds fall behind it from 2 MiB, warm in the caches or not
// (and out of memory by 40%).
inline constexpr size_t kStreamFrom = 2u << 20;

// The stream length of the rounds after those of B-byte streams: half as
// long, down to a window.  Instrumented builds compile the longest and the
// shortest only, which keeps their compile time in bounds (the logic is the
// same at every length; see src/CMakeLists.txt).
template <size_t B>
inline constexpr size_t kShorterStream =
#if defined(ZELKOR_INSTRUMENTED_SIZES)
    64;
#else
    B / 2;
#endif

// Rounds of K streams on chains and M folded, each stream B bytes, joined
// onto acc while a round fits in len; then rounds of shorter streams.
// Every stream length is a constant, as in the groups, which keeps the
// loads at constant displacements and the registers out of memory.
template <int K, int M, size_t B>
ZELKOR_V512 uint32_t rounds(uint32_t acc, const uint8_t *&p, size_t &len) {
  constexpr int N = K + M;
  for (; len >= N * B; p += N * B, len -= N * B) {
    uint32_t c[N];
    hybrid_registers<K, M, B, false>(p, B, c);
    acc = chains::join_streams<step, N>(acc, c, B);
  }
  if constexpr (B > 64) return rounds<K, M, kShorterStream<B>>(acc, p, len);
  return acc;
}

// The register after one chunk of any length, continued from acc: rounds
// of K + M streams, and what is left after them on the K chains alone.
template <int K, int M>
ZELKOR_V512_SHARED uint32_t hybrid_one_register(uint32_t acc, const uint8_t *p, size_t len) {
  static_assert(K + M <= chains::kMaxChains, "the shift table covers a round");
  if (len >= kStreamFrom) return fold_stream(acc, p, len);
  acc = rounds<K, M, chains::kRoundStream>(acc, p, len);
  return chains::one_register<step, K < 3 ? 3 : K>(acc, p, len);
}

// (K + M) / S chunks of CS bytes, each cut into S streams walked as one
// group of K + M: fewer chunks than a group at the group's rate.
template <int K, int M, size_t CS, int S>
ZELKOR_V512 void split_group(const uint8_t *p, uint32_t *words) {
  constexpr int N = K + M;
  static_assert(N % S == 0 && CS % (64 * S) == 0);
  uint32_t c[N];
  hybrid_registers<K, M, CS / S, false>(p, CS / S, c);
#pragma GCC unroll 16
  for (int j = 0; j < N / S; ++j) {
    uint32_t part[S];
#pragma GCC unroll 16
    for (int k = 0; k < S; ++k) part[k] = c[S * j + k];
    words[j] = stored_word(chains::join_streams<step, S>(kRegisterInit, part, CS / S));
  }
}

// The chunks after the last whole group, for chunk sizes known at compile
// time: as many as fit in split groups of halves, quarters, ... of chunks
// (halves only in instrumented builds, as for kShorterStream).
template <int K, int M, size_t CS, int S = 2>
ZELKOR_V512 void split_leftovers(const uint8_t *&p, size_t &n, uint32_t *&words) {
  constexpr int N = K + M;
#if defined(ZELKOR_INSTRUMENTED_SIZES)
  constexpr bool kCompiled = S == 2;
#else
  constexpr bool kCompiled = true;
#endif
  if constexpr (kCompiled && CS != 0 && N % S == 0 && CS % (64 * S) == 0) {
    if (n >= N / S) {
      split_group<K, M, CS, S>(p, words);
      p += N / S * CS;
      n -= N / S;
      words += N / S;
    }
    split_leftovers<K, M, CS, 2 * S>(p, n, words);
  }
}

// From this many bytes of chunks each group fetches the next (see
// hybrid_registers), well below kPrefetchMin: measured on Zen 5 at 512-byte
// chunks, 5% faster at 1 MiB (in L2) and 2% at 256 KiB.
inline constexpr size_t kGroupFetchFrom = 128u << 10;

// Whole chunks of cs >= 64 bytes: groups of K + M, then split groups; the
// last few long ones each as a lone chunk (on LK + LM streams), short ones
// in groups of three and three, then a smaller mix (two chunks go faster
// both folded than with one of them on a lone chain).
template <int K, int M, int LK, int LM, size_t CS>
ZELKOR_V512_SHARED void hybrid_chunks_n(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if constexpr (CS != 0) cs = CS;
  const bool prefetch = n * cs >= kGroupFetchFrom;
  for (; n >= K + M; n -= K + M, p += (K + M) * cs, words += K + M)
    hybrid_group<K, M, CS>(p, cs, words, prefetch ? p + (K + M) * cs : nullptr);
  split_leftovers<K, M, CS>(p, n, words);
  if (cs >= kLoneFrom) {
    for (; n > 0; --n, p += cs) *words++ = stored_word(hybrid_one_register<LK, LM>(kRegisterInit, p, cs));
    return;
  }
  for (; n >= 6; n -= 6, p += 6 * cs, words += 6) hybrid_group<3, 3, CS>(p, cs, words);
  switch (n) {
    case 5: return hybrid_group<3, 2, CS>(p, cs, words);
    case 4: return hybrid_group<2, 2, CS>(p, cs, words);
    case 3: return hybrid_group<2, 1, CS>(p, cs, words);
    case 2: return hybrid_group<0, 2, CS>(p, cs, words);
    case 1: *words = stored_word(hybrid_one_register<LK, LM>(kRegisterInit, p, cs)); return;
  }
}

// Short chunks leave little to fold: below kFoldFrom bytes they go on S
// chains alone, as many as the processor's CRC32 units want.
template <int K, int M, int LK, int LM, int S, size_t kFoldFrom>
ZELKOR_V512 void chunks(const uint8_t *data, size_t cs, size_t n, uint32_t *words) {
  static_assert(kFoldFrom >= 64, "a folded chunk needs a whole window");
  if (cs < kFoldFrom) return chains::chunks<step, S>(data, cs, n, words);
#define ZELKOR_CASE(size) \
  case size: return hybrid_chunks_n<K, M, LK, LM, size>(data, cs, n, words);
  switch (cs) {
#if !defined(ZELKOR_INSTRUMENTED_SIZES)
    ZELKOR_COMMON_CHUNK_SIZES(ZELKOR_CASE)
#elif ZELKOR_INSTRUMENTED_SIZES == 512  // instrumented builds: see src/CMakeLists.txt
    ZELKOR_CASE(512)
#endif
    default: return hybrid_chunks_n<K, M, LK, LM, 0>(data, cs, n, words);
  }
#undef ZELKOR_CASE
}

template <int LK, int LM>
ZELKOR_V512 uint32_t one(uint32_t reg, const uint8_t *data, size_t len) {
  return hybrid_one_register<LK, LM>(reg, data, len);
}
