// crc32c_avx512.h -- CRC32C kernels that run CRC32 chains beside 512-bit
// carry-less folds (AVX-512 with VPCLMULQDQ), one per split of a group
// between chains and folds; and their 128-bit models (for tests).
#ifndef ZELKOR_UTIL_CRC_CRC32C_AVX512_H
#define ZELKOR_UTIL_CRC_CRC32C_AVX512_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// The splits of a group: chains x folded chunks, and the chains that take
// chunks too short to fold alone.
//   3x9s12  AMD Zen 5: three CRC32 units, short chunks on 12 chains
//   3x9s3   one CRC32 unit beside a full-speed 512-bit multiply (Intel
//           Sapphire Rapids and later)
//   3x3s3   one CRC32 unit beside a 512-bit unit of 256-bit speed (AMD Zen 4,
//           Intel Ice Lake)
inline constexpr size_t kCrc32cHybridAvx512Groups[] = {12, 12, 6};

#define ZELKOR_CRC32C_HYBRID_AVX512(split)                                              \
  void crc32c_hybrid_avx512_##split##_chunks(const uint8_t *data, size_t chunk_size,     \
                                             size_t n_chunks, uint32_t *words);         \
  uint32_t crc32c_hybrid_avx512_##split##_one(const uint8_t *data, size_t len);          \
  void crc32c_hybrid_avx512_##split##_model_chunks(const uint8_t *data, size_t chunk_size, \
                                                   size_t n_chunks, uint32_t *words);   \
  uint32_t crc32c_hybrid_avx512_##split##_model_one(const uint8_t *data, size_t len);
ZELKOR_CRC32C_HYBRID_AVX512(3x9s12)
ZELKOR_CRC32C_HYBRID_AVX512(3x9s3)
ZELKOR_CRC32C_HYBRID_AVX512(3x3s3)
#undef ZELKOR_CRC32C_HYBRID_AVX512

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CRC32C_AVX512_H
