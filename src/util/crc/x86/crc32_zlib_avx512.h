// crc32_zlib_avx512.h -- CRC-32 (zlib) kernel on 512-bit VPCLMULQDQ folds
// (AVX-512), and its model on 128-bit PCLMULQDQ that computes the same
// words on any processor with PCLMULQDQ and SSE4.1 (see v512.h).
#ifndef ZELKOR_UTIL_CRC_CRC32_ZLIB_AVX512_H
#define ZELKOR_UTIL_CRC_CRC32_ZLIB_AVX512_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Four chunks share one vector of residues and its reductions.
inline constexpr size_t kCrc32ZlibVpclmulAvx512Group = 4;
void crc32_zlib_vpclmul_avx512_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                                      uint32_t *words);
uint32_t crc32_zlib_vpclmul_avx512_one(const uint8_t *data, size_t len);

void crc32_zlib_vpclmul_avx512_model_chunks(const uint8_t *data, size_t chunk_size,
                                            size_t n_chunks, uint32_t *words);
uint32_t crc32_zlib_vpclmul_avx512_model_one(const uint8_t *data, size_t len);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CRC32_ZLIB_AVX512_H
