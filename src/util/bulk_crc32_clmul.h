// bulk_crc32_clmul.h -- CRC-32 (zlib) of whole chunks by carry-less multiplication (x86-64).
//
// Each tier is a pair of kernels behind one shape; all tiers give the same
// words.  A kernel may only be called when crc32_clmul_tiers() reports its
// tier.  The words are in stored form: the big-endian bytes of the inverted
// CRC-32 (register started at all ones) of each chunk.
#ifndef ZELKOR_UTIL_BULK_CRC32_CLMUL_H
#define ZELKOR_UTIL_BULK_CRC32_CLMUL_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Tier bits of crc32_clmul_tiers().
enum : unsigned {
  // 128-bit PCLMULQDQ with SSE4.1 (any x86-64 that has both).
  CLMUL_TIER_PCLMUL = 1u << 0,
  // 256-bit VPCLMULQDQ with AVX2, the operating system saving YMM state.
  CLMUL_TIER_VPCLMUL_AVX2 = 1u << 1,
};

struct cpu_features;

// The tiers that a processor and operating system with these features can
// run (see read_cpu_features); the second form reads this processor's.
// Safe on every x86-64.
unsigned crc32_clmul_tiers(const cpu_features &f);
unsigned crc32_clmul_tiers();

// Stored words of n_chunks whole chunks of chunk_size bytes lying back to
// back from data, into words[0 .. n_chunks).  Any chunk size (0 included)
// and any alignment.
void crc32_zlib_chunks_pclmul(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                              uint32_t *words);
// Stored word of the len bytes at data (any length, 0 included).
uint32_t crc32_zlib_one_pclmul(const uint8_t *data, size_t len);

void crc32_zlib_chunks_vpclmul_avx2(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                                    uint32_t *words);
uint32_t crc32_zlib_one_vpclmul_avx2(const uint8_t *data, size_t len);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_BULK_CRC32_CLMUL_H
