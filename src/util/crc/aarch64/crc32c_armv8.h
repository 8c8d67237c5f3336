// crc32c_armv8.h -- CRC32C kernels on the ARMv8 crc32c instructions: chains of
// them (PMULL joins the streams of a lone chunk), or PMULL folds for long
// chunks.
#ifndef ZELKOR_UTIL_CRC_CRC32C_ARMV8_H
#define ZELKOR_UTIL_CRC_CRC32C_ARMV8_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Three chains: latency 2-3, one issue a cycle (Neoverse N1/V1/V2, Apple).
inline constexpr size_t kCrc32cArmv8CrcX3Group = 3;
void crc32c_armv8_crc_x3_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                                uint32_t *words);
uint32_t crc32c_armv8_crc_x3_one(const uint8_t *data, size_t len);

// Long chunks on eight accumulators of PMULL folds, short ones on the three
// chains (Neoverse V1-V3: four PMULL a cycle; Apple: PMULL fused with EOR).
inline constexpr size_t kCrc32cArmv8PmullGroup = 3;
void crc32c_armv8_pmull_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                               uint32_t *words);
uint32_t crc32c_armv8_pmull_one(const uint8_t *data, size_t len);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CRC32C_ARMV8_H
