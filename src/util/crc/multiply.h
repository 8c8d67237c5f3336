// multiply.h -- products of CRC values modulo the polynomial, at run time:
// what joins two CRCs and composes the stored words of a buffer's chunks
// into the CRC of the whole.
//
// Appending n bytes B to a message A maps CRC(A) to CRC(A) * x^(8n) + CRC(B)
// mod P (the initial value and the final inversion cancel), with CRC values
// read as polynomials in gf2.h's reflected convention.  A multiplier is one
// set of routines for these products: on the carry-less multiply instruction
// where the processor has one, else in portable code.  The one in force is
// chosen once, at load time, with the kernels (tiers.cc), from the features
// read then.
#ifndef ZELKOR_UTIL_CRC_MULTIPLY_H
#define ZELKOR_UTIL_CRC_MULTIPLY_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tiers.h"

namespace zelkor {

// x^(8 * b * 256^k) mod P at [k][b]: the power for each byte b of a 64-bit
// length, so that x^(8n) is the product of eight entries.
using byte_powers = std::array<std::array<uint32_t, 256>, 8>;

// What the routines need of a polynomial.
struct gf2_modulus {
  uint64_t barrett_poly, barrett_mu;  // gf2::barrett_poly, gf2::barrett_mu
  const byte_powers *powers;
};

const gf2_modulus &modulus_of(crc_poly poly);

struct multiplier_row {
  const char *name;
  feature_test needs;
  bool model;  // a wider row's layout on narrower operations: for tests, never chosen
  // a * b mod P.
  uint32_t (*mul)(const gf2_modulus &m, uint32_t a, uint32_t b);
  // crc * x^(8 n) mod P: a CRC moved past n bytes, in constant time.
  uint32_t (*shift)(const gf2_modulus &m, uint32_t crc, uint64_t n_bytes);
  // The CRC of a message whose CRC was acc, followed by n chunks of
  // chunk_bytes bytes each whose CRCs are the big-endian words at `words`
  // (any alignment): acc * M^n + sum of c_i * M^(n-1-i), M = x^(8 chunk_bytes).
  uint32_t (*horner)(const gf2_modulus &m, uint32_t acc, const uint8_t *words, size_t n,
                     uint64_t chunk_bytes);
};

// This architecture's multipliers, the portable one first.
std::span<const multiplier_row> multiplier_rows();

const multiplier_row &multiplier_in_force();

// The last row of the table that these features run, models aside (the rows
// are in order of speed): a pure function of them.
const multiplier_row &choose_multiplier(const cpu_features &f);

// Installs that choice if it gives the known answers, else the nearest row
// below it that does (known_answer.h).  Called once, by select_tiers_at_load.
void select_multiplier(const cpu_features &f);

// Test hook: installs the row if this processor runs it and says whether it
// did.  Never while another thread may be computing.
bool force_multiplier(const multiplier_row &row);

// A multiplier's routines, <name>_mul, <name>_shift and <name>_horner, each
// compiled for the instructions it needs.
#define ZELKOR_MULTIPLIER(name)                                                             \
  uint32_t name##_mul(const gf2_modulus &m, uint32_t a, uint32_t b);                        \
  uint32_t name##_shift(const gf2_modulus &m, uint32_t crc, uint64_t n_bytes);              \
  uint32_t name##_horner(const gf2_modulus &m, uint32_t acc, const uint8_t *words, size_t n, \
                         uint64_t chunk_bytes)

// Defines them from a copy of multiply_body.h compiled for `isa`.
#define ZELKOR_MULTIPLIER_ENTRIES(name, copy, isa)                                          \
  __attribute__((target(isa))) uint32_t name##_mul(const gf2_modulus &m, uint32_t a,        \
                                                   uint32_t b) {                            \
    return copy::mul(m, a, b);                                                              \
  }                                                                                         \
  __attribute__((target(isa))) uint32_t name##_shift(const gf2_modulus &m, uint32_t crc,    \
                                                     uint64_t n_bytes) {                    \
    return copy::shift(m, crc, n_bytes);                                                    \
  }                                                                                         \
  __attribute__((target(isa))) uint32_t name##_horner(const gf2_modulus &m, uint32_t acc,   \
                                                      const uint8_t *words, size_t n,       \
                                                      uint64_t chunk_bytes) {               \
    return copy::horner(m, acc, words, n, chunk_bytes);                                     \
  }

#if defined(__x86_64__)
ZELKOR_MULTIPLIER(pclmul);        // PCLMULQDQ, with SSSE3 to swap the words' bytes
ZELKOR_MULTIPLIER(vpclmul_avx2);  // VPCLMULQDQ on 256 bits
ZELKOR_MULTIPLIER(vpclmul_avx512);        // VPCLMULQDQ on 512 bits
ZELKOR_MULTIPLIER(vpclmul_avx512_model);  // the same layout on 256-bit operations
#elif defined(__aarch64__)
ZELKOR_MULTIPLIER(pmull);  // the 64-bit PMULL
#endif

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_MULTIPLY_H
