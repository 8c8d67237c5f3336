// multiply.cc -- the multipliers of multiply.h: the portable one, the table
// of this architecture's, and the choice among them.
#include "multiply.h"

#include "gf2.h"
#include "known_answer.h"

namespace zelkor {

namespace {

constexpr byte_powers powers_for(uint32_t p) {
  byte_powers t{};
  uint32_t x8 = gf2::x_pow(p, 8);  // x^(8 * 256^k), k = 0 first
  for (auto &row : t) {
    row[0] = gf2::kOne;
    for (size_t b = 1; b < 256; ++b) row[b] = gf2::mul_mod(p, row[b - 1], x8);
    x8 = gf2::mul_mod(p, row[255], x8);
  }
  return t;
}

constexpr byte_powers kCrc32cPowers = powers_for(gf2::kCrc32c);
constexpr byte_powers kCrc32ZlibPowers = powers_for(gf2::kCrc32Zlib);

static_assert(kCrc32cPowers[1][1] == gf2::x_pow(gf2::kCrc32c, 8 * 256));
static_assert(kCrc32ZlibPowers[7][1] == gf2::x_pow(gf2::kCrc32Zlib, 8 * (1ll << 56)) &&
              kCrc32ZlibPowers[3][0xFF] == gf2::x_pow(gf2::kCrc32Zlib, 8 * 255 * (1ll << 24)),
              "the tables are the powers of their bytes");

constexpr gf2_modulus kModuli[kPolys32] = {
    {gf2::barrett_poly(gf2::kCrc32c), gf2::barrett_mu(gf2::kCrc32c), &kCrc32cPowers},
    {gf2::barrett_poly(gf2::kCrc32Zlib), gf2::barrett_mu(gf2::kCrc32Zlib), &kCrc32ZlibPowers},
};

// Carry-less products in plain integer code, for processors without the
// instruction (and as the rows' common ground in tests).
namespace portable {
struct ops {
  static constexpr size_t kWords = 2;
  struct v {
    uint64_t l, h;
  };
  static v of(uint64_t lo, uint64_t hi) { return {lo, hi}; }
  static uint64_t lo(v a) { return a.l; }
  static uint64_t total(v a) { return a.l; }
  // The low 64 bits of a * b: every product here has one factor of at most
  // 33 bits, which is b.
  static uint64_t clmul(uint64_t a, uint64_t b) {
    uint64_t r = 0;
    for (; b != 0; b >>= 1, a <<= 1) r ^= a & (0 - (b & 1));
    return r;
  }
  static v mul_lo(v a, v b) { return {clmul(a.l, b.l), 0}; }
  static v mul_hi(v a, v b) { return {clmul(a.h, b.h), 0}; }
  static v add(v a, v b) { return {a.l ^ b.l, a.h ^ b.h}; }
  static v of_words(const uint32_t *w) { return {w[0], w[1]}; }
  static v load(const uint8_t *p) {
    return {uint64_t{p[0]} << 24 | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 8 | p[3],
            uint64_t{p[4]} << 24 | uint64_t{p[5]} << 16 | uint64_t{p[6]} << 8 | p[7]};
  }
};
#define ZELKOR_MULTIPLY inline
#include "multiply_body.h"
#undef ZELKOR_MULTIPLY
}  // namespace portable

#if defined(__x86_64__)
constexpr bool wide(const cpu_features &f) {
  return f.pclmul && f.avx2 && f.vpclmulqdq && f.ymm_state;
}
#endif

constexpr multiplier_row kRows[] = {
    {"portable", [](const cpu_features &) { return true; }, false, portable::mul,
     portable::shift, portable::horner},
#if defined(__x86_64__)
    {"pclmulqdq", [](const cpu_features &f) { return f.pclmul && f.ssse3; }, false, pclmul_mul,
     pclmul_shift, pclmul_horner},
    {"vpclmulqdq_avx2", wide, false, vpclmul_avx2_mul, vpclmul_avx2_shift, vpclmul_avx2_horner},
    {"vpclmulqdq_avx512_model", wide, true, vpclmul_avx512_model_mul, vpclmul_avx512_model_shift,
     vpclmul_avx512_model_horner},
    {"vpclmulqdq_avx512",
     [](const cpu_features &f) { return wide(f) && f.avx512f && f.zmm_state; }, false,
     vpclmul_avx512_mul, vpclmul_avx512_shift, vpclmul_avx512_horner},
#elif defined(__aarch64__)
    {"pmull", [](const cpu_features &f) { return f.arm_pmull; }, false, pmull_mul, pmull_shift,
     pmull_horner},
#endif
};

constinit const multiplier_row *g_row = &kRows[0];
constinit cpu_features g_row_features{};

}  // namespace

const gf2_modulus &modulus_of(crc_poly poly) { return kModuli[static_cast<size_t>(poly)]; }

std::span<const multiplier_row> multiplier_rows() { return kRows; }

const multiplier_row &multiplier_in_force() { return *g_row; }

const multiplier_row &choose_multiplier(const cpu_features &f) {
  const multiplier_row *chosen = &kRows[0];
  for (const multiplier_row &r : kRows)
    if (!r.model && r.needs(f)) chosen = &r;
  return *chosen;
}

void select_multiplier(const cpu_features &f) {
  g_row_features = f;
  g_row = &agreeing_multiplier(choose_multiplier(f), f);
}

bool force_multiplier(const multiplier_row &row) {
  if (!row.needs(g_row_features)) return false;
  g_row = &row;
  return true;
}

}  // namespace zelkor
