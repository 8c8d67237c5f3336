// armv8_kernels.cc -- CRC32C and CRC-32 (zlib) of whole chunks on 3 chains
// of the CRC instruction, or on PMULL folds: the same kernels for both
// polynomials, each over its own instruction.
#include "armv8_crc_chains.h"
#include "armv8_pmull_fold.h"
#include "tier_table.h"

namespace zelkor {

static_assert(crc32c_armv8_crc_x3_group == kArmv8Chains);
static_assert(crc32_zlib_armv8_crc_x3_group == kArmv8Chains);
// The folds' short chunks go to the chains, in their groups.
static_assert(crc32c_armv8_pmull_group == kArmv8Chains);
static_assert(crc32_zlib_armv8_pmull_group == kArmv8Chains);

#define ZELKOR_ARMV8_KERNELS(poly, step)                                                      \
  ZELKOR_ARMV8_CRC_TARGET void poly##_armv8_crc_x3_chunks(const uint8_t *data,                \
                                                          size_t chunk_size, size_t n_chunks, \
                                                          uint32_t *words) {                  \
    chains::chunks<step, kArmv8Chains>(data, chunk_size, n_chunks, words);                    \
  }                                                                                           \
  ZELKOR_ARMV8_CRC_TARGET uint32_t poly##_armv8_crc_x3_one(uint32_t reg, const uint8_t *data, \
                                                           size_t len) {                      \
    return chains::one_register<step, kArmv8Chains>(reg, data, len);                          \
  }                                                                                           \
  ZELKOR_ARMV8_CRC_TARGET void poly##_armv8_pmull_chunks(const uint8_t *data,                 \
                                                         size_t chunk_size, size_t n_chunks,  \
                                                         uint32_t *words) {                   \
    armv8_pmull_fold::chunks<step>(data, chunk_size, n_chunks, words);                        \
  }                                                                                           \
  ZELKOR_ARMV8_CRC_TARGET uint32_t poly##_armv8_pmull_one(uint32_t reg, const uint8_t *data,  \
                                                          size_t len) {                       \
    return armv8_pmull_fold::one_register<step>(reg, data, len);                              \
  }

ZELKOR_ARMV8_KERNELS(crc32c, armv8_crc32c_step)
ZELKOR_ARMV8_KERNELS(crc32_zlib, armv8_crc32_zlib_step)

#undef ZELKOR_ARMV8_KERNELS

}  // namespace zelkor
