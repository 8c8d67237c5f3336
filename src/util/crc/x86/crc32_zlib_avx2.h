// crc32_zlib_avx2.h -- CRC-32 (zlib) kernel on 256-bit VPCLMULQDQ folds (AVX2).
#ifndef ZELKOR_UTIL_CRC_CRC32_ZLIB_AVX2_H
#define ZELKOR_UTIL_CRC_CRC32_ZLIB_AVX2_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Four chunks share one batched reduction, two per register.
inline constexpr size_t kCrc32ZlibVpclmulAvx2Group = 4;
void crc32_zlib_vpclmul_avx2_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                                    uint32_t *words);
uint32_t crc32_zlib_vpclmul_avx2_one(const uint8_t *data, size_t len);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CRC32_ZLIB_AVX2_H
