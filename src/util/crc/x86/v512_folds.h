// v512_folds.h -- folds of a vector's lanes, over whichever set of v512.h's
// operations the including namespace uses.
//
// No include guard: a kernel's .cc includes it once in each copy's
// namespace, before that copy's body, with ZELKOR_V512 naming the copy's
// target (as for the bodies themselves).
//
// A lane moved D bits further down the message is multiplied by x^D: its two
// 64-bit halves are multiplied by x^(D+64) and x^D mod P and the two
// products added, which leaves a 128-bit value congruent to it.  P is a
// 32-bit or a 64-bit polynomial (gf2.h): the lanes are the same.

// The pairs of multipliers that move lane i forward by D + Step * (kLanes -
// 1 - i) bits, low half's first.  (Bound to constexpr locals, so that the
// compiler computes them, never the running code.)
template <auto Poly, long long D, long long Step>
constexpr std::array<long long, 2 * kLanes> lane_multipliers() {
  std::array<long long, 2 * kLanes> k{};
  for (int i = 0; i < kLanes; ++i) {
    const long long d = D + Step * (kLanes - 1 - i);
    k[2 * i] = static_cast<long long>(gf2::fold_multiplier(Poly, d + 64));
    k[2 * i + 1] = static_cast<long long>(gf2::fold_multiplier(Poly, d));
  }
  return k;
}

// Every lane moved forward by D bits.
template <auto Poly, long long D>
ZELKOR_V512 vec fold(vec x) {
  constexpr std::array<long long, 2 * kLanes> pairs = lane_multipliers<Poly, D, 0>();
  const vec k = set_pairs(pairs);
  return xor2(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k));
}

// Every lane moved forward by D bits, and the data found there added.
template <auto Poly, long long D>
ZELKOR_V512 vec fold_add(vec x, vec data) {
  constexpr std::array<long long, 2 * kLanes> pairs = lane_multipliers<Poly, D, 0>();
  const vec k = set_pairs(pairs);
  return xor3(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k), data);
}

// A window (one vector) folded to the 16 bytes at its end.
template <auto Poly>
ZELKOR_V512 __m128i window_to_lane(vec x) {
  if constexpr (kLanes == 1) {
    return sum_lanes(x);
  } else {
    constexpr std::array<long long, 2 * kLanes> pairs = lane_multipliers<Poly, 0, 128>();
    const vec k = set_pairs(pairs);
    return sum_lanes(xor2(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k)));
  }
}

// Of the N vectors in m, each Step bits before the next, m[I .. I + L)
// moved to where the last one stands and added.  Every move is independent
// and the sums go as a tree, so that eight accumulators join no slower
// than two.
template <auto Poly, long long Step, int N, int I = 0, int L = N>
ZELKOR_V512 vec fold_together(const vec (&m)[N]) {
  if constexpr (L == 1 && I == N - 1)
    return m[I];
  else if constexpr (L == 1)
    return fold<Poly, Step *(N - 1 - I)>(m[I]);
  else if constexpr (L == 2)
    return fold_add<Poly, Step *(N - 1 - I)>(m[I], fold_together<Poly, Step, N, I + 1, 1>(m));
  else
    return xor2(fold_together<Poly, Step, N, I, L / 2>(m),
                fold_together<Poly, Step, N, I + L / 2, L - L / 2>(m));
}

// A message's first window, a0, folded over the len bytes after it (whole
// windows, at least A - 1 of them) on A accumulators, to one window.  The
// windows beyond whole rounds of A (a0 counted) are folded at the start,
// where their latency hides behind the other accumulators' first loads.
template <auto Poly, int A>
ZELKOR_V512 vec fold_windows(vec a0, const uint8_t *p, size_t len) {
  constexpr size_t kWin = 16 * kLanes;
  constexpr long long kWinBits = 8 * kWin;
  constexpr size_t kRound = A * kWin;
  vec a[A];
  a[0] = a0;
  for (; (len + kWin) % kRound != 0; p += kWin, len -= kWin)
    a[0] = fold_add<Poly, kWinBits>(a[0], load(p));
#pragma GCC unroll 8
  for (int i = 1; i < A; ++i) a[i] = load(p + kWin * (i - 1));
  p += kRound - kWin;
  len -= kRound - kWin;
  for (; len > 0; p += kRound, len -= kRound)
#pragma GCC unroll 8
    for (int i = 0; i < A; ++i) a[i] = fold_add<Poly, A * kWinBits>(a[i], load(p + kWin * i));
  return fold_together<Poly, kWinBits, A>(a);
}
