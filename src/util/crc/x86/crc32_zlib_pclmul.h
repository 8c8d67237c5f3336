// crc32_zlib_pclmul.h -- CRC-32 (zlib) kernel on 128-bit PCLMULQDQ folds.
#ifndef ZELKOR_UTIL_CRC_CRC32_ZLIB_PCLMUL_H
#define ZELKOR_UTIL_CRC_CRC32_ZLIB_PCLMUL_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Four chunks share one batched reduction.
inline constexpr size_t kCrc32ZlibPclmulGroup = 4;
void crc32_zlib_pclmul_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                              uint32_t *words);
uint32_t crc32_zlib_pclmul_one(const uint8_t *data, size_t len);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CRC32_ZLIB_PCLMUL_H
