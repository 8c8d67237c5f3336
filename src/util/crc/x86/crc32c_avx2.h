// crc32c_avx2.h -- CRC32C kernel that runs CRC32 chains beside 256-bit
// carry-less folds (AVX2 with VPCLMULQDQ).
#ifndef ZELKOR_UTIL_CRC_CRC32C_AVX2_H
#define ZELKOR_UTIL_CRC_CRC32C_AVX2_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Three chunks on CRC32 chains beside three folded on the vector unit.
inline constexpr size_t kCrc32cHybridAvx2Group = 6;
void crc32c_hybrid_avx2_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                               uint32_t *words);
uint32_t crc32c_hybrid_avx2_one(const uint8_t *data, size_t len);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CRC32C_AVX2_H
