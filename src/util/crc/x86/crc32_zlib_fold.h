// crc32_zlib_fold.h -- CRC-32 (zlib) by carry-less folding: the constants
// that every copy of crc32_zlib_fold_body.h shares, and the entry points
// that each copy gets.
//
// The CRC register after a message M of n bytes, started at R, is
// S = (R * x^(8n) + M * x^32) mod P (bit-reflected, as zlib keeps it).  A
// chunk is therefore reduced to a 128-bit value V congruent to
// R * x^(8n-32) + M, and S = V * x^32 mod P is computed at the end:
//   * folding (v512_folds.h): accumulators move forward over the chunk and
//     take in the data they meet; several per chunk, so that the products'
//     latency overlaps, combined by independent folds;
//   * the chunk's first bytes, as many as leave a whole number of windows
//     after them, start the first window behind zeros, with R's share;
//   * the 128 -> 32 bit reduction (two folds, then Barrett) runs for four
//     chunks together, and the four words are formed and stored at once.
#ifndef ZELKOR_UTIL_CRC_X86_CRC32_ZLIB_FOLD_H
#define ZELKOR_UTIL_CRC_X86_CRC32_ZLIB_FOLD_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "../../bulk_crc32_internal.h"
#include "../gf2.h"

namespace zelkor::crc32_zlib_fold {

inline constexpr uint32_t P = gf2::kCrc32Zlib;
inline constexpr uint32_t kInit = kRegisterInit;  // the register's start value, all ones

// A first window that holds a chunk's first n bytes (1..64) right-aligned
// gets R * x^(8n-32) mod P in its last four bytes; for n < 4 the exponent is
// negative, which x's inverse handles.
inline constexpr std::array<uint32_t, 65> kStartShift = [] {
  std::array<uint32_t, 65> t{};
  for (int n = 0; n <= 64; ++n) t[n] = gf2::x_pow(P, 8 * n - 32);
  return t;
}();

// The same for R all ones, as the last lane of that window: a load, where
// placing the dword would wait on its own load first.
struct alignas(16) start_lane_t {
  uint32_t dwords[4];
};
inline constexpr std::array<start_lane_t, 65> kStartLanes = [] {
  std::array<start_lane_t, 65> t{};
  for (int n = 0; n <= 64; ++n) t[n].dwords[3] = gf2::mul_mod(P, kInit, kStartShift[n]);
  return t;
}();

// The multipliers of the 128 -> 64 step (by x^96 and x^64), and Barrett's
// pair (P, mu).
inline constexpr long long kReduce96 = static_cast<long long>(gf2::fold_multiplier(P, 96));
inline constexpr long long kReduce64 = static_cast<long long>(gf2::fold_multiplier(P, 64));
inline constexpr long long kBarrettPoly = static_cast<long long>(gf2::barrett_poly(P));
inline constexpr long long kBarrettMu = static_cast<long long>(gf2::barrett_mu(P));

}  // namespace zelkor::crc32_zlib_fold

// The entry points of one copy of the body, each compiled for that copy's
// target, with A accumulators a long chunk and long chunks from kLong bytes.
#define ZELKOR_ZLIB_FOLD_ENTRY_POINTS(name, copy, isa, A, kLong)                          \
  __attribute__((target(isa))) void name##_chunks(const uint8_t *data, size_t chunk_size,  \
                                                  size_t n_chunks, uint32_t *words) {      \
    copy::chunks<A, kLong>(data, chunk_size, n_chunks, words);                             \
  }                                                                                        \
  __attribute__((target(isa))) uint32_t name##_one(uint32_t reg, const uint8_t *data,    \
                                                    size_t len) {                          \
    return copy::one<A, kLong>(reg, data, len);                                            \
  }                                                                                        \
  static_assert(name##_group == 4)

#endif  // ZELKOR_UTIL_CRC_X86_CRC32_ZLIB_FOLD_H
