// multiply_body.h -- the routines of a multiplier (multiply.h), written once
// over the operations of a carry-less multiplier.
//
// Included inside a namespace that defines `ops` and ZELKOR_MULTIPLY (the
// attributes of each function, with the target it needs).  `ops::v` holds
// ops::kWords 64-bit lanes (2 or 4), in 128-bit halves; ops gives:
//   of(lo, hi)      lanes 0 and 1, the others zero
//   lo(a)           lane 0
//   total(a)        lane 0 of every 128-bit half, added up
//   mul_lo, mul_hi  the carry-less products of the even (odd) lanes, each as
//                   the 128 bits of its half
//   add(a, b)       a xor b
//   load(p)         the big-endian words at p, p + 4, ..., one per lane in
//                   its low 32 bits, the high ones zero
//   of_words(w)     w[0], w[1], ... one per lane
//
// A CRC value a has x^(31-i) at bit i.  The carry-less product of two such
// values in lane 0 has x^(62-k) at bit k; moved up one bit it is a 64-bit
// value u with x^(63-k) at bit k: high32(u) holds the coefficients below
// x^32, low32(u) those from x^32 up, which Barrett's step reduces (q, the
// quotient, is low32 of low32(u) * mu; u mod P is high32(u) + high32 of
// q * P).  Products of 32-bit values never pass bit 62, so many of them
// add up before one reduction: a block of kBlock words costs kBlock + 1
// products and one reduction, and two chains of blocks run side by side, so
// that the multiplier works at its throughput rather than its latency.
#ifndef ZELKOR_MULTIPLY
#error "define ZELKOR_MULTIPLY and ops before including multiply_body.h"
#endif

inline constexpr size_t kBlock = 32;  // words per reduction
inline constexpr uint64_t kLow32 = 0xFFFFFFFFu;

ZELKOR_MULTIPLY uint32_t reduce(const gf2_modulus &m, ops::v u) {
  const ops::v q = ops::of(ops::lo(ops::mul_lo(u, ops::of(m.barrett_mu, 0))) & kLow32, 0);
  return static_cast<uint32_t>(ops::lo(ops::add(u, ops::mul_lo(q, ops::of(m.barrett_poly, 0)))) >>
                               32);
}

// A sum of products in lane 0, moved up into u's form and reduced.
ZELKOR_MULTIPLY uint32_t reduce_sum(const gf2_modulus &m, ops::v sum) {
  return reduce(m, ops::of(ops::lo(sum) << 1, 0));
}

ZELKOR_MULTIPLY uint32_t mul(const gf2_modulus &m, uint32_t a, uint32_t b) {
  return reduce_sum(m, ops::mul_lo(ops::of(a, 0), ops::of(b, 0)));
}

// Eight factors, one per byte of the length, multiplied as a tree.
ZELKOR_MULTIPLY uint32_t shift(const gf2_modulus &m, uint32_t crc, uint64_t n_bytes) {
  const byte_powers &t = *m.powers;
  uint32_t f[8];
  for (int k = 0; k < 8; ++k) f[k] = t[k][(n_bytes >> (8 * k)) & 0xFF];
  const uint32_t a = mul(m, mul(m, f[0], f[1]), mul(m, f[2], f[3]));
  const uint32_t b = mul(m, mul(m, f[4], f[5]), mul(m, f[6], f[7]));
  return mul(m, crc, mul(m, a, b));
}

// The powers of a block: words[j] multiplies the ops::kWords words from
// word j * kWords of a block, word i standing kBlock - 1 - i chunks before
// its end.
inline constexpr size_t kLoads = kBlock / ops::kWords;
static_assert(kLoads % 2 == 0, "a block is loaded two vectors at a time");
struct block_powers {
  ops::v words[kLoads];
  ops::v top;  // M^kBlock, for the register that enters the block
};

ZELKOR_MULTIPLY void powers_of(const gf2_modulus &m, uint32_t mult, block_powers &bp) {
  uint32_t pw[kBlock + 1];  // pw[kBlock - i]: the power of word i
  pw[0] = gf2::kOne;
  for (size_t j = 1; j <= kBlock; ++j) pw[j] = mul(m, pw[j - 1], mult);
  uint32_t rev[kBlock];
  for (size_t i = 0; i < kBlock; ++i) rev[i] = pw[kBlock - 1 - i];
  for (size_t j = 0; j < kLoads; ++j) bp.words[j] = ops::of_words(rev + j * ops::kWords);
  bp.top = ops::of(pw[kBlock], 0);
}

// One block of kBlock words after the register acc.  The register's
// product is added last, so that the words' products do not wait for it.
ZELKOR_MULTIPLY uint32_t block(const gf2_modulus &m, const block_powers &bp, uint32_t acc,
                               const uint8_t *w) {
  ops::v s[4];
#pragma GCC unroll 16
  for (size_t j = 0; j < kLoads; j += 2) {
    const ops::v a = ops::load(w + 4 * ops::kWords * j);
    const ops::v b = ops::load(w + 4 * ops::kWords * (j + 1));
    const ops::v pa = ops::mul_lo(a, bp.words[j]), qa = ops::mul_hi(a, bp.words[j]);
    const ops::v pb = ops::mul_lo(b, bp.words[j + 1]), qb = ops::mul_hi(b, bp.words[j + 1]);
    if (j == 0) {
      s[0] = pa, s[1] = qa, s[2] = pb, s[3] = qb;
    } else {
      s[0] = ops::add(s[0], pa), s[1] = ops::add(s[1], qa);
      s[2] = ops::add(s[2], pb), s[3] = ops::add(s[3], qb);
    }
  }
  const ops::v words = ops::add(ops::add(s[0], s[1]), ops::add(s[2], s[3]));
  const ops::v sum = ops::add(words, ops::mul_lo(ops::of(acc, 0), bp.top));
  return reduce(m, ops::of(ops::total(sum) << 1, 0));
}

ZELKOR_MULTIPLY uint32_t load_be32(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

ZELKOR_MULTIPLY uint32_t horner(const gf2_modulus &m, uint32_t acc, const uint8_t *w, size_t n,
                                uint64_t chunk_bytes) {
  const uint32_t mult = shift(m, gf2::kOne, chunk_bytes);
  if (n >= 4 * kBlock) {
    block_powers bp;
    powers_of(m, mult, bp);
    // The second chain takes the second half of the whole blocks, from a
    // zero register; its result joins the first chain's moved past it.
    const size_t half = n / (2 * kBlock) * kBlock;
    const uint8_t *w2 = w + 4 * half;
    uint32_t acc2 = 0;
    for (size_t i = 0; i < half; i += kBlock, w += 4 * kBlock, w2 += 4 * kBlock) {
      acc = block(m, bp, acc, w);
      acc2 = block(m, bp, acc2, w2);
    }
    acc = shift(m, acc, chunk_bytes * half) ^ acc2;
    w = w2;
    n -= 2 * half;
  }
  for (; n > 0; --n, w += 4) acc = mul(m, acc, mult) ^ load_be32(w);
  return acc;
}
