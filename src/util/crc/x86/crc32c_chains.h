// crc32c_chains.h -- CRC32C on many chains of the CRC32 instruction.
//
// The CRC32 instruction has a latency of three cycles.  One unit (Intel, AMD
// Zen 1-4) needs three independent chains to issue every cycle; Zen 5 has
// three units and needs nine or more.  Whole chunks run in lockstep, one
// chain each, with the chunk size a compile-time constant for the common
// sizes, so that every load has a constant displacement.  A lone chunk (a
// leftover one, the partial one) is cut into as many streams as there are
// chains; each stream starts from a zero register and the streams are joined
// by carry-less multiplication:
//
//   reg(A || B) = reg(A) * x^(8|B|) mod P  XOR  reg0(B)
//
// Shared by the kernels built on these chains (crc32c_sse42.cc, and the
// hybrid of crc32c_avx2.cc for what it leaves to the chains).
#ifndef ZELKOR_UTIL_CRC_CRC32C_CHAINS_H
#define ZELKOR_UTIL_CRC_CRC32C_CHAINS_H

#include <arpa/inet.h>
#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "../../bulk_crc32_internal.h"
#include "../gf2.h"
#include "../prefetch.h"

#define ZELKOR_CRC32C_TARGET __attribute__((target("sse4.2,pclmul")))

namespace zelkor::crc32c_chains {

// The longest stream of a round, and the most chains of any kernel.
inline constexpr size_t kRoundStream = 4096;
inline constexpr int kMaxChains = 12;
inline constexpr size_t kShiftEntries = kMaxChains * kRoundStream / 8 + 1;

// kShift[m] shifts a register over 8m bytes (gf2::shift_multiplier).
inline constexpr std::array<uint32_t, kShiftEntries> kShift = [] {
  constexpr uint32_t p = gf2::kCrc32c;
  std::array<uint32_t, kShiftEntries> t{};
  const uint32_t x64 = gf2::x_pow(p, 64);
  t[1] = gf2::shift_multiplier(p, 8);
  for (size_t m = 2; m < kShiftEntries; ++m) t[m] = gf2::mul_mod(p, t[m - 1], x64);
  return t;
}();
static_assert(kShift[kShiftEntries - 1] == gf2::shift_multiplier(gf2::kCrc32c, 8 * (kShiftEntries - 1)));

ZELKOR_CRC32C_TARGET inline __m128i clmul32(uint32_t a, uint32_t k) {
  return _mm_clmulepi64_si128(_mm_cvtsi32_si128(static_cast<int>(a)),
                              _mm_cvtsi32_si128(static_cast<int>(k)), 0);
}

// One chain over n bytes.
ZELKOR_CRC32C_TARGET inline uint32_t crc_serial(uint32_t c, const uint8_t *p, size_t n) {
  for (; n >= 8; n -= 8, p += 8) c = static_cast<uint32_t>(_mm_crc32_u64(c, load_le64(p)));
  for (; n > 0; --n, ++p) c = _mm_crc32_u8(c, *p);
  return c;
}

inline uint32_t stored(uint32_t reg) { return htonl(~reg); }

// N streams of `len` bytes each, back to back from p, in lockstep; LEN == 0
// means the length is only known at run time.  c[] holds the registers.
template <int N, size_t LEN>
ZELKOR_CRC32C_TARGET inline void lockstep(uint32_t (&c)[N], const uint8_t *p, size_t len) {
  if constexpr (LEN != 0) len = LEN;
  uint64_t r[N];
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) r[k] = c[k];
  const size_t words = len / 8;
  for (size_t i = 0; i < words; ++i, p += 8) {
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) r[k] = _mm_crc32_u64(r[k], load_le64(p + k * len));
  }
  for (size_t i = len % 8; i > 0; --i, ++p) {
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) r[k] = _mm_crc32_u8(static_cast<uint32_t>(r[k]), p[k * len]);
  }
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) c[k] = static_cast<uint32_t>(r[k]);
}

// Joins the registers of N back-to-back streams of b bytes each (every one
// started from zero) onto acc, the register over everything before them:
// acc moves past all N streams, stream k past the N-1-k after it.  The
// products are summed before the one CRC32 that reduces them.
template <int N>
ZELKOR_CRC32C_TARGET inline uint32_t join_streams(uint32_t acc, const uint32_t (&c)[N], size_t b) {
  __m128i t = clmul32(acc, kShift[N * b / 8]);
#pragma GCC unroll 16
  for (int k = 0; k < N - 1; ++k) t = _mm_xor_si128(t, clmul32(c[k], kShift[(N - 1 - k) * b / 8]));
  return static_cast<uint32_t>(_mm_crc32_u64(0, static_cast<uint64_t>(_mm_cvtsi128_si64(t)))) ^
         c[N - 1];
}

// Register of the message over one buffer, on N streams, continuing from acc
// (all ones: the start of a message).
template <int N>
ZELKOR_CRC32C_TARGET inline uint32_t one_register(const uint8_t *p, size_t len,
                                                  uint32_t acc = 0xFFFFFFFFu) {
  const bool prefetch = len >= kPrefetchMin;
  while (len >= N * 8) {
    const size_t b = len >= N * kRoundStream ? kRoundStream : len / (N * 8) * 8;
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * b, N * b);
    uint32_t c[N] = {};
    if (b == kRoundStream)
      lockstep<N, kRoundStream>(c, p, b);
    else
      lockstep<N, 0>(c, p, b);
    acc = join_streams<N>(acc, c, b);
    p += N * b;
    len -= N * b;
  }
  return crc_serial(acc, p, len);
}

// Whole chunks: groups of N in lockstep, the rest (fewer than N) one by one
// on all N streams.
template <int N, size_t CS>
ZELKOR_CRC32C_TARGET inline void chunks_n(const uint8_t *p, size_t cs, size_t n,
                                          uint32_t *words) {
  if constexpr (CS != 0) cs = CS;
  const bool prefetch = n * cs >= kPrefetchMin;
  for (; n >= N; n -= N, p += N * cs, words += N) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * cs, N * cs);
    uint32_t c[N];
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) c[k] = 0xFFFFFFFFu;
    lockstep<N, CS>(c, p, cs);
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) words[k] = stored(c[k]);
  }
  for (; n > 0; --n, p += cs) *words++ = stored(one_register<N>(p, cs));
}

template <int N>
ZELKOR_CRC32C_TARGET inline void chunks(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  switch (cs) {
    case 64: return chunks_n<N, 64>(p, cs, n, words);
    case 128: return chunks_n<N, 128>(p, cs, n, words);
    case 256: return chunks_n<N, 256>(p, cs, n, words);
    case 512: return chunks_n<N, 512>(p, cs, n, words);
    case 1024: return chunks_n<N, 1024>(p, cs, n, words);
    case 2048: return chunks_n<N, 2048>(p, cs, n, words);
    case 4096: return chunks_n<N, 4096>(p, cs, n, words);
    default: return chunks_n<N, 0>(p, cs, n, words);
  }
}

}  // namespace zelkor::crc32c_chains

#endif  // ZELKOR_UTIL_CRC_CRC32C_CHAINS_H
