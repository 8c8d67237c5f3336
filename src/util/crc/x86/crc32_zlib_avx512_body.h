// crc32_zlib_avx512_body.h -- CRC-32 (zlib) on 512-bit carry-less folds,
// written once over the operations of v512.h.
//
// No include guard: crc32_zlib_avx512.cc includes this twice, each time in
// its own namespace that uses one set of operations (native or model), with
// ZELKOR_V512 naming that copy's target.
//
// A 64-byte window is four lanes of crc32_zlib_fold.h's kind.  Every chunk
// starts with a window that holds its first r = 1..64 bytes behind 64 - r
// zeros (zeros in front of a message change nothing once the start value's
// share is added, kShortInit[r]), so that all the windows after it are whole
// and no chunk has a tail.  Chunks go four at a time: their windows are
// folded forward (one accumulator per chunk for short chunks, in lockstep;
// four per chunk for long ones), then the four are transposed so that one
// vector holds lane j of every chunk, and three folds leave the four
// residues in one vector, whose 128 -> 32 bit reductions run together.
// A first window is read with a masked load only where the bytes before it
// may not be read (the first chunk of a call): such a load is slow when it
// misses the cache.  Groups of chunks walked side by side are fetched ahead
// out of memory; one long chunk is a single stream, which the hardware
// fetches well on its own.

using namespace crc32_zlib_fold;

// From this length a chunk is folded on accumulators of its own.
inline constexpr size_t kLongWindows = 1024;

// The bytes of a chunk of len >= 1 that its first window holds.
constexpr size_t first_bytes(size_t len) { return len - 64 * ((len - 1) / 64); }

// The first window of the chunk at p, whose call's data start at `from`.
// Its register starts at reg.
ZELKOR_V512 vec first_window(const uint8_t *p, size_t r, const uint8_t *from, uint32_t reg) {
  const vec start = last_dword(start_value(reg, r));
  if (static_cast<size_t>(p - from) >= 64 - r) return xor2(load_tail_after(p, r), start);
  return xor2(load_tail(p, r), start);
}

// G chunks of cs >= 1 bytes in lockstep, each folded to one window.
template <int G>
ZELKOR_V512 void windows_lockstep(const uint8_t *p, size_t cs, const uint8_t *from, vec (&x)[4],
                                  uint32_t reg = kInit) {
  const size_t r = first_bytes(cs);
#pragma GCC unroll 4
  for (int g = 0; g < G; ++g) x[g] = first_window(p + g * cs, r, from, reg);
  for (size_t off = r; off < cs; off += 64)
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) x[g] = fold_add<P, 512>(x[g], load(p + g * cs + off));
}

// One chunk of at least 5 windows on four accumulators, folded to one
// window.  The windows beyond a multiple of four are folded at the start,
// where their latency hides behind the other accumulators' first loads.
ZELKOR_V512 vec window_long(const uint8_t *p, size_t len, const uint8_t *from,
                            uint32_t reg = kInit) {
  const size_t r = first_bytes(len);
  vec a[4];
  a[0] = first_window(p, r, from, reg);
  p += r;
  len -= r;
  for (; len % 256 != 0; p += 64, len -= 64) a[0] = fold_add<P, 512>(a[0], load(p));
  a[0] = fold_add<P, 512>(a[0], load(p));
#pragma GCC unroll 4
  for (int i = 1; i < 4; ++i) a[i] = load(p + 64 * i);
  for (p += 256, len -= 256; len > 0; p += 256, len -= 256)
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) a[i] = fold_add<P, 2048>(a[i], load(p + 64 * i));
  return fold_add<P, 1536>(a[0], fold_add<P, 1024>(a[1], fold_add<P, 512>(a[2], a[3])));
}

// One chunk of len >= 1 bytes folded to one window.
ZELKOR_V512 vec window(const uint8_t *p, size_t len, const uint8_t *from, uint32_t reg = kInit) {
  if (len >= kLongWindows) return window_long(p, len, from, reg);
  vec x[4];
  windows_lockstep<1>(p, len, from, x, reg);
  return x[0];
}

// A lone chunk's window to its residue, lane by lane (cheaper than the
// four-chunk way, whose transposition would go to waste).
ZELKOR_V512 __m128i residue_of(vec x) { return window_to_lane<P>(x); }

// G (1..4) chunks of cs >= 1 bytes, each folded to one window; the windows
// of absent chunks repeat the first.
template <int G>
ZELKOR_V512 void windows(const uint8_t *p, size_t cs, const uint8_t *from, vec (&x)[4]) {
  if (cs >= kLongWindows) {
    for (int g = 0; g < G; ++g) x[g] = window_long(p + g * cs, cs, from);
  } else {
    windows_lockstep<G>(p, cs, from, x);
  }
  for (int g = G; g < 4; ++g) x[g] = x[0];
}

// reduce128 on every lane.
ZELKOR_V512 vec reduce(vec v) {
  const vec k = broadcast(reduce_k128()), b = broadcast(barrett128());
  vec u = xor2(clmul_lanes<0x00>(v, k), shift_lanes_down<4>(v));
  u = and2(u, broadcast(_mm_set_epi32(-1, -1, -1, 0)));
  const vec a = xor2(clmul_lanes<0x10>(u, k), u);
  const vec q = clmul_lanes<0x01>(and2(a, broadcast(_mm_set_epi32(0, -1, 0, 0))), b);
  const vec qp = clmul_lanes<0x10>(and2(q, broadcast(_mm_set_epi32(0, 0, 0, -1))), b);
  return xor2(qp, shift_lanes_down<8>(a));
}

// The stored words of four chunks' windows.  Lane j of a window stands
// 128 * (3 - j) bits before its end.
ZELKOR_V512 __m128i words_of(vec (&x)[4]) {
  transpose(x[0], x[1], x[2], x[3]);
  const vec residues = fold_add<P, 384>(x[0], fold_add<P, 256>(x[1], fold_add<P, 128>(x[2], x[3])));
  return stored_words(dword1_of_lanes(reduce(residues)));
}

ZELKOR_V512 void chunks(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if (cs == 0) {
    for (; n > 0; --n) *words++ = word_of(residue_short(p, 0));
    return;
  }
  const bool prefetch = n * cs >= kPrefetchMin;
  const uint8_t *const from = p;
  vec x[4];
  for (; n >= 4; n -= 4, p += 4 * cs, words += 4) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * 4 * cs, 4 * cs);
    windows<4>(p, cs, from, x);
    store4(words, words_of(x));
  }
  switch (n) {
    case 0: return;
    case 1: *words = word_of(residue_of(window(p, cs, from))); return;
    case 2: windows<2>(p, cs, from, x); break;
    case 3: windows<3>(p, cs, from, x); break;
  }
  alignas(16) uint32_t w[4];
  store4(w, words_of(x));
  std::memcpy(words, w, n * sizeof w[0]);
}

ZELKOR_V512 uint32_t one(uint32_t reg, const uint8_t *p, size_t len) {
  if (len == 0) return reg;
  return register_of(residue_of(window(p, len, p, reg)));
}
