// v512_lanes.h -- the vector operations of v512.h on kLanes separate 128-bit
// lanes (PCLMULQDQ, SSE4.1): four as the model of the 512-bit vector, one as
// the vector of the 128-bit tier.
//
// No include guard: v512.h includes it once in each namespace that sets
// kLanes to a lane count.  Every operation treats each lane as the native
// forms treat theirs, so a body built on them computes the native copy's
// very words.

struct vec {
  __m128i l[kLanes];
};

ZELKOR_V512_MODEL_OP vec load(const uint8_t *p) {
  vec a;
  for (int i = 0; i < kLanes; ++i) a.l[i] = load128(p + 16 * i);
  return a;
}

ZELKOR_V512_MODEL_OP vec last_lane(__m128i x) {
  vec a;
  for (int i = 0; i < kLanes - 1; ++i) a.l[i] = _mm_setzero_si128();
  a.l[kLanes - 1] = x;
  return a;
}

ZELKOR_V512_MODEL_OP vec load_tail(const uint8_t *p, size_t n, size_t avail) {
  if (avail < 16) return last_lane(short_lane(p, n));
  vec a;
  for (int i = 0; i < kLanes; ++i) a.l[i] = tail_lane(p, n, 16 * kLanes, i);
  return a;
}

ZELKOR_V512_MODEL_OP vec first_dword(uint32_t v) {
  vec a;
  a.l[0] = _mm_cvtsi32_si128(static_cast<int>(v));
  for (int i = 1; i < kLanes; ++i) a.l[i] = _mm_setzero_si128();
  return a;
}

ZELKOR_V512_MODEL_OP vec first_qword(uint64_t v) {
  vec a;
  a.l[0] = _mm_cvtsi64_si128(static_cast<long long>(v));
  for (int i = 1; i < kLanes; ++i) a.l[i] = _mm_setzero_si128();
  return a;
}

ZELKOR_V512_MODEL_OP vec set_pairs(const std::array<long long, 2 * kLanes> &k) {
  vec a;
  for (int i = 0; i < kLanes; ++i) a.l[i] = _mm_set_epi64x(k[2 * i + 1], k[2 * i]);
  return a;
}

ZELKOR_V512_MODEL_OP vec broadcast(__m128i x) {
  vec a;
  for (int i = 0; i < kLanes; ++i) a.l[i] = x;
  return a;
}

ZELKOR_V512_MODEL_OP vec xor2(vec a, vec b) {
  for (int i = 0; i < kLanes; ++i) a.l[i] = _mm_xor_si128(a.l[i], b.l[i]);
  return a;
}
ZELKOR_V512_MODEL_OP vec xor3(vec a, vec b, vec c) { return xor2(xor2(a, b), c); }
ZELKOR_V512_MODEL_OP vec and2(vec a, vec b) {
  for (int i = 0; i < kLanes; ++i) a.l[i] = _mm_and_si128(a.l[i], b.l[i]);
  return a;
}

ZELKOR_V512_MODEL_OP vec load_tail_after(const uint8_t *p, size_t n) {
  return and2(load(p - (16 * kLanes - n)), load(kKeepLast.data() + 64 - 16 * kLanes + n));
}

template <int imm>
ZELKOR_V512_MODEL_OP vec clmul_lanes(vec a, vec b) {
  for (int i = 0; i < kLanes; ++i) a.l[i] = _mm_clmulepi64_si128(a.l[i], b.l[i], imm);
  return a;
}

template <int n>
ZELKOR_V512_MODEL_OP vec shift_lanes_down(vec a) {
  for (int i = 0; i < kLanes; ++i) a.l[i] = _mm_srli_si128(a.l[i], n);
  return a;
}

// Run j of G lanes starts at lane G * j.
template <int G>
ZELKOR_V512_MODEL_OP void deinterleave(vec &a, vec &b) {
  const vec x = a, y = b;
  for (int i = 0; i < kLanes / 2; ++i) {
    const int even = 2 * G * (i / G) + i % G;
    a.l[i] = x.l[even];
    a.l[kLanes / 2 + i] = y.l[even];
    b.l[i] = x.l[even + G];
    b.l[kLanes / 2 + i] = y.l[even + G];
  }
}

// Lanes From .. From + N added as a tree, so that the sums wait on each
// other log2(N) deep.
template <int From, int N>
ZELKOR_V512_MODEL_OP __m128i sum_of_lanes(const vec &a) {
  if constexpr (N == 1)
    return a.l[From];
  else
    return _mm_xor_si128(sum_of_lanes<From, N / 2>(a), sum_of_lanes<From + N / 2, N / 2>(a));
}

ZELKOR_V512_MODEL_OP __m128i sum_lanes(vec a) { return sum_of_lanes<0, kLanes>(a); }

// Lane k of the four is lane k % kLanes of r[k / kLanes].
ZELKOR_V512_MODEL_OP __m128i dword1_of_lanes(const vec (&r)[4 / kLanes]) {
  const auto lane = [&](int k) { return r[k / kLanes].l[k % kLanes]; };
  return _mm_unpackhi_epi64(_mm_unpacklo_epi32(lane(0), lane(1)),
                            _mm_unpacklo_epi32(lane(2), lane(3)));
}

ZELKOR_V512_MODEL_OP __m128i low_lane(vec a) { return a.l[0]; }
