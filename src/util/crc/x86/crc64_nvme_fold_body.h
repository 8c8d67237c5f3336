// crc64_nvme_fold_body.h -- CRC-64/NVME on carry-less folds, written once
// over the operations of v512.h and built at every width.
//
// No include guard: each kernel's .cc includes this (after v512_folds.h) in
// the namespace of each copy that it builds, with ZELKOR_V512 naming that
// copy's target, as for the CRC-32 bodies.
//
// The buffer is reduced to one 128-bit lane V congruent to
// R * x^(8n-64) + M (crc64_nvme.h), and S = V * x^64 mod P at the end.  Its
// first window holds its first r = 1..kWindow bytes behind zeros, so that
// every window after it is whole; R's share, R * x^(8r-64), is one
// carry-less product placed in that window's last lane (a 128-bit value
// congruent to it is all the folds need), or for r = kWindow R itself in
// the window's first eight bytes.  The windows are folded forward
// on one accumulator, or on A from kLong bytes on, then summed into a lane;
// the lane's high half moves by 64 bits for free, its low half by one
// product, and the 64 bits left over by one table step.  Inputs shorter
// than a lane go through the tables alone.  One buffer is one stream,
// which the hardware fetches ahead well on its own.

using namespace crc64_nvme;

inline constexpr size_t kWindow = 16 * kLanes;  // bytes

// The bytes of a buffer of len >= 1 that its first window holds.
constexpr size_t first_bytes(size_t len) { return len - kWindow * ((len - 1) / kWindow); }

// R's share for a first window of r bytes: a 64-bit half times x^(8r-64)
// (gf2::fold_multiplier), r = 1..64, the exponent negative below 8.
inline constexpr std::array<long long, 65> kStartMultiplier = [] {
  std::array<long long, 65> t{};
  for (int r = 1; r <= 64; ++r)
    t[r] = static_cast<long long>(gf2::fold_multiplier(P, 8 * r - 64));
  return t;
}();

// The low half of a lane moved forward by 64 bits: times x^128.
inline constexpr long long kLowBy64 = static_cast<long long>(gf2::fold_multiplier(P, 128));

// A first window of whole data (the length a multiple of the window's) has R
// in its first eight bytes, where R * x^(8n) stands; any other is given R's
// share at its end by a product.
ZELKOR_V512 vec first_window(const uint8_t *p, size_t r, size_t len, uint64_t reg) {
  if (r == kWindow) return xor2(load(p), first_qword(reg));
  const __m128i share =
      _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(reg)),
                           _mm_cvtsi64_si128(kStartMultiplier[r]), 0x00);
  return xor2(load_tail(p, r, len), last_lane(share));
}

// A lane V to S = V * x^64 mod P.  V * x^64 = lo * x^128 + hi * x^64 (lo its
// first half): the product takes lo forward, hi moves into lo's place, and
// of the sum U = u * x^64 + w, S = step8(u) + w.
ZELKOR_V512 uint64_t register_of_lane(__m128i v) {
  const __m128i u = _mm_xor_si128(_mm_clmulepi64_si128(v, _mm_cvtsi64_si128(kLowBy64), 0x00),
                                  _mm_srli_si128(v, 8));
  return step8(static_cast<uint64_t>(_mm_cvtsi128_si64(u))) ^
         static_cast<uint64_t>(_mm_extract_epi64(u, 1));
}

template <int A, size_t kLong>
ZELKOR_V512 uint64_t one(uint64_t reg, const uint8_t *p, size_t len) {
  static_assert(kLong > (A - 1) * kWindow, "a long buffer fills every accumulator");
  if (len < 16) return advance(reg, p, len);
  const size_t r = first_bytes(len);
  vec x = first_window(p, r, len, reg);
  if (len >= kLong) {
    x = fold_windows<P, A>(x, p + r, len - r);
  } else {
    for (size_t off = r; off < len; off += kWindow)
      x = fold_add<P, 8 * kWindow>(x, load(p + off));
  }
  return register_of_lane(window_to_lane<P>(x));
}
