// crc32_zlib_fold_body.h -- CRC-32 (zlib) on carry-less folds, written once
// over the operations of v512.h and built at every width.
//
// No include guard: each kernel's .cc includes this (after v512_folds.h) in
// the namespace of each copy that it builds, with ZELKOR_V512 naming that
// copy's target (one lane of 128 bits, two 256-bit halves, and 512 bits
// natively and as the model) and ZELKOR_V512_SHARED the same target without
// forced inlining: a long chunk's loop is compiled once a copy and called
// wherever one is folded (under ASan its inlined copies took most of the
// compile time).
//
// A window is one vector, kLanes lanes of crc32_zlib_fold.h's kind.  Every
// chunk starts with a window that holds its first r = 1..kWindow bytes
// behind kWindow - r zeros (zeros in front of a message change nothing once
// the start register's share is added, kStartLanes[r]), so that all the
// windows after it are whole and no chunk has a tail; at one lane that
// wastes no multiply, as the tail's fold would have cost one.  Chunks go four at a
// time: their windows are folded forward (one accumulator per chunk for
// short chunks, in lockstep; A per chunk for long ones), then halved in
// turn, two chunks a vector (words_of), until one vector holds a residue a
// lane and their 128 -> 32 bit reductions run together.  A first window is
// read with a masked load, or lane by lane, only where the bytes before it
// may not be read (the first chunk of a call): a masked load is slow when
// it misses the cache.  Groups of chunks walked side by side are fetched
// ahead out of memory, beyond one lane; one long chunk is a single stream,
// which the hardware fetches well on its own.
//
// What suits a width is the copy's to choose, as template arguments of its
// entry points: A, the accumulators of a long chunk (enough that the
// multiplier's latency overlaps, few enough to stay in registers), and
// kLong, the length from which a chunk is long (below it, chunks in
// lockstep overlap well enough and spare the joining of accumulators).

using namespace crc32_zlib_fold;

inline constexpr size_t kWindow = 16 * kLanes;  // bytes
inline constexpr long long kWindowBits = 8 * kWindow;

// The bytes of a chunk of len >= 1 that its first window holds.
constexpr size_t first_bytes(size_t len) { return len - kWindow * ((len - 1) / kWindow); }

// The share of a register R that starts a chunk whose first window holds r
// of its bytes, in the last lane of that window.
ZELKOR_V512 __m128i start_lane(uint32_t reg, size_t r) {
  if (reg == kInit) return _mm_load_si128(reinterpret_cast<const __m128i *>(&kStartLanes[r]));
  return _mm_set_epi32(static_cast<int>(gf2::mul_mod(P, reg, kStartShift[r])), 0, 0, 0);
}

// The first window of the chunk of len bytes at p, whose call's data start
// at `from`.  Its register starts at reg.
ZELKOR_V512 vec first_window(const uint8_t *p, size_t r, size_t len, const uint8_t *from,
                             uint32_t reg) {
  const vec start = last_lane(start_lane(reg, r));
  if (r == kWindow) return xor2(load(p), start);  // chunks of whole windows: no mask to apply
  if (static_cast<size_t>(p - from) >= kWindow - r) return xor2(load_tail_after(p, r), start);
  return xor2(load_tail(p, r, len), start);
}

// G chunks of cs >= 1 bytes in lockstep, each folded to one window.
template <int G>
ZELKOR_V512 void windows_lockstep(const uint8_t *p, size_t cs, const uint8_t *from, vec (&x)[4],
                                  uint32_t reg = kInit) {
  const size_t r = first_bytes(cs);
#pragma GCC unroll 4
  for (int g = 0; g < G; ++g) x[g] = first_window(p + g * cs, r, cs, from, reg);
  for (size_t off = r; off < cs; off += kWindow)
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) x[g] = fold_add<P, kWindowBits>(x[g], load(p + g * cs + off));
}

// One chunk of more than A - 1 windows on A accumulators, folded to one
// window (v512_folds.h).
template <int A>
ZELKOR_V512_SHARED vec window_long(const uint8_t *p, size_t len, const uint8_t *from,
                                   uint32_t reg = kInit) {
  const size_t r = first_bytes(len);
  return fold_windows<P, A>(first_window(p, r, len, from, reg), p + r, len - r);
}

// One chunk of len >= 1 bytes folded to one window.
template <int A, size_t kLong>
ZELKOR_V512 vec window(const uint8_t *p, size_t len, const uint8_t *from, uint32_t reg = kInit) {
  static_assert(kLong > (A - 1) * kWindow, "a long chunk fills every accumulator");
  if (len >= kLong) return window_long<A>(p, len, from, reg);
  vec x[4];
  windows_lockstep<1>(p, len, from, x, reg);
  return x[0];
}

// G (1..4) chunks of cs >= 1 bytes, each folded to one window; the windows
// of absent chunks repeat the first.
template <int G, int A, size_t kLong>
ZELKOR_V512 void windows(const uint8_t *p, size_t cs, const uint8_t *from, vec (&x)[4]) {
  if (cs >= kLong) {
    for (int g = 0; g < G; ++g) x[g] = window_long<A>(p + g * cs, cs, from);
  } else {
    windows_lockstep<G>(p, cs, from, x);
  }
  for (int g = G; g < 4; ++g) x[g] = x[0];
}

// 128-bit V to the CRC register S = V * x^32 mod P, in dword 1 of every
// lane.  V * x^32 = a * x^96 + b * x^32 (a, b its halves): a is folded by
// x^96 onto b * x^32, the top 32 bits of that by x^64, and the 64 bits left
// go through Barrett (q = floor(low word * mu / x^32), S = A + q * P).
ZELKOR_V512 vec reduce(vec v) {
  const vec k = broadcast(_mm_set_epi64x(kReduce64, kReduce96));
  const vec b = broadcast(_mm_set_epi64x(kBarrettPoly, kBarrettMu));
  vec u = xor2(clmul_lanes<0x00>(v, k), shift_lanes_down<4>(v));
  u = and2(u, broadcast(_mm_set_epi32(-1, -1, -1, 0)));
  const vec a = xor2(clmul_lanes<0x10>(u, k), u);  // A in the high half
  const vec q = clmul_lanes<0x01>(and2(a, broadcast(_mm_set_epi32(0, -1, 0, 0))), b);
  const vec qp = clmul_lanes<0x10>(and2(q, broadcast(_mm_set_epi32(0, 0, 0, -1))), b);
  return xor2(qp, shift_lanes_down<8>(a));
}

// A lone chunk's window to its register, lane by lane (cheaper than the
// four-chunk way, whose halving would go to waste).
ZELKOR_V512 uint32_t register_of(vec x) {
  const vec residue = broadcast(window_to_lane<P>(x));
  return static_cast<uint32_t>(_mm_extract_epi32(low_lane(reduce(residue)), 1));
}

// Four registers, one per dword, to four stored words: inverted, big-endian.
ZELKOR_V512 __m128i stored_words(__m128i regs) {
  const __m128i bswap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  return _mm_shuffle_epi8(_mm_xor_si128(regs, _mm_set1_epi32(-1)), bswap);
}

ZELKOR_V512 void store4(uint32_t *words, __m128i w) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(words), w);
}

// The stored words of four chunks from their shares in N vectors, each
// vector holding 4 / N chunks' shares of kPart lanes, in chunk order (N = 4:
// a window each).  Shares of more than a lane are halved: two vectors'
// shares are dealt out into their first and second halves, the first moved
// onto the second (kPart / 2 lanes further), which leaves half as many
// vectors of the same chunks in the same order.  Shares of one lane are
// residues, whose reductions run together.
template <int N>
ZELKOR_V512 __m128i words_of(const vec (&v)[N]) {
  constexpr int kPart = kLanes * N / 4;
  if constexpr (kPart == 1) {
    vec r[N];
#pragma GCC unroll 4
    for (int i = 0; i < N; ++i) r[i] = reduce(v[i]);
    return stored_words(dword1_of_lanes(r));
  } else {
    vec h[N / 2];
#pragma GCC unroll 2
    for (int i = 0; i < N / 2; ++i) {
      vec a = v[2 * i], b = v[2 * i + 1];
      deinterleave<kPart / 2>(a, b);
      h[i] = fold_add<P, 64 * kPart>(a, b);
    }
    return words_of(h);
  }
}

template <int A, size_t kLong>
ZELKOR_V512 void chunks(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if (cs == 0) {
    for (; n > 0; --n) *words++ = stored_word(kInit);
    return;
  }
  // (At one lane the folds go slowly enough for the hardware's own fetching
  // ahead, and fetching by hand only costs.)
  const bool prefetch = kLanes > 1 && n * cs >= kPrefetchMin;
  const uint8_t *const from = p;
  vec x[4];
  for (; n >= 4; n -= 4, p += 4 * cs, words += 4) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * 4 * cs, 4 * cs);
    windows<4, A, kLong>(p, cs, from, x);
    store4(words, words_of(x));
  }
  switch (n) {
    case 0: return;
    case 1: *words = stored_word(register_of(window<A, kLong>(p, cs, from))); return;
    case 2: windows<2, A, kLong>(p, cs, from, x); break;
    case 3: windows<3, A, kLong>(p, cs, from, x); break;
  }
  alignas(16) uint32_t w[4];
  store4(w, words_of(x));
  std::memcpy(words, w, n * sizeof w[0]);
}

template <int A, size_t kLong>
ZELKOR_V512 uint32_t one(uint32_t reg, const uint8_t *p, size_t len) {
  if (len == 0) return reg;
  return register_of(window<A, kLong>(p, len, p, reg));
}
