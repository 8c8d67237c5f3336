// crc32c_sse42.h -- CRC32C kernels on chains of the SSE4.2 CRC32 instruction
// (PCLMULQDQ joins the streams of a lone chunk).
#ifndef ZELKOR_UTIL_CRC_CRC32C_SSE42_H
#define ZELKOR_UTIL_CRC_CRC32C_SSE42_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Three chains: one CRC32 unit of latency 3 (Intel, AMD Zen 1-4).
inline constexpr size_t kCrc32cSse42X3Group = 3;
void crc32c_sse42_x3_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                            uint32_t *words);
uint32_t crc32c_sse42_x3_one(const uint8_t *data, size_t len);

// Twelve chains: three CRC32 units (AMD Zen 5).
inline constexpr size_t kCrc32cSse42X12Group = 12;
void crc32c_sse42_x12_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                             uint32_t *words);
uint32_t crc32c_sse42_x12_one(const uint8_t *data, size_t len);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CRC32C_SSE42_H
