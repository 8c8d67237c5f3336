// v512_folds.h -- folds of a vector's four lanes, over whichever set of
// v512.h's operations the including namespace uses.
//
// No include guard: a kernel's .cc includes it once in each copy's
// namespace, before that copy's body, with ZELKOR_V512 naming the copy's
// target (as for the bodies themselves).

template <uint32_t Poly, long long D>
constexpr long long multiplier() {
  return static_cast<long long>(gf2::fold_multiplier(Poly, D));
}

// Lane i moved forward by Di bits.
template <uint32_t Poly, long long D0, long long D1, long long D2, long long D3>
ZELKOR_V512 vec fold_lanes(vec x) {
  const vec k = set_pairs(multiplier<Poly, D0 + 64>(), multiplier<Poly, D0>(),
                          multiplier<Poly, D1 + 64>(), multiplier<Poly, D1>(),
                          multiplier<Poly, D2 + 64>(), multiplier<Poly, D2>(),
                          multiplier<Poly, D3 + 64>(), multiplier<Poly, D3>());
  return xor2(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k));
}

// Every lane moved forward by D bits, and the data found there added.
template <uint32_t Poly, long long D>
ZELKOR_V512 vec fold_add(vec x, vec data) {
  const vec k = set_pairs(multiplier<Poly, D + 64>(), multiplier<Poly, D>(),
                          multiplier<Poly, D + 64>(), multiplier<Poly, D>(),
                          multiplier<Poly, D + 64>(), multiplier<Poly, D>(),
                          multiplier<Poly, D + 64>(), multiplier<Poly, D>());
  return xor3(clmul_lanes<0x00>(x, k), clmul_lanes<0x11>(x, k), data);
}

// A 64-byte window folded to the 16 bytes at its end.
template <uint32_t Poly>
ZELKOR_V512 __m128i window_to_lane(vec x) {
  return sum_lanes(fold_lanes<Poly, 384, 256, 128, 0>(x));
}
