// v512_folds.h -- folds of a vector's lanes, over whichever set of v512.h's
// operations the including namespace uses.
//
// No include guard: a kernel's .cc includes it once in each copy's
// namespace, before that copy's body, with ZELKOR_V512 naming the copy's
// target (as for the bodies themselves).
//
// A lane moved D bits further down the message is multiplied by x^D: its two
// 64-bit halves are multiplied by x^(D+64) and x^D mod P and the two
// products added, which leaves a 128-bit value congruent to it.

// The pairs of multipliers that move lane i forward by D + Step * (kLanes -
// 1 - i) bits, low half's first.  (Bound to constexpr locals, so that the
// compiler computes them, never the running code.)
template <uint32_t Poly, long long D, long long Step>
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
template <uint32_t Poly, long long D>
ZELKOR_V512 vec fold(vec x) {
  constexpr std::array<long long, 2 * kLanes> pairs = lane_multipliers<Poly, D, 0>();
  const vec k = set_pairs(pairs);
  return xor2(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k));
}

// Every lane moved forward by D bits, and the data found there added.
template <uint32_t Poly, long long D>
ZELKOR_V512 vec fold_add(vec x, vec data) {
  constexpr std::array<long long, 2 * kLanes> pairs = lane_multipliers<Poly, D, 0>();
  const vec k = set_pairs(pairs);
  return xor3(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k), data);
}

// A window (one vector) folded to the 16 bytes at its end.
template <uint32_t Poly>
ZELKOR_V512 __m128i window_to_lane(vec x) {
  if constexpr (kLanes == 1) {
    return sum_lanes(x);
  } else {
    constexpr std::array<long long, 2 * kLanes> pairs = lane_multipliers<Poly, 0, 128>();
    const vec k = set_pairs(pairs);
    return sum_lanes(xor2(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k)));
  }
}
