// crc32_zlib_armv8.cc -- CRC-32 (zlib) of whole chunks on 3 chains of
// crc32x, or on PMULL folds.
#include "crc32_zlib_armv8.h"

#include "armv8_crc_chains.h"
#include "armv8_pmull_fold.h"

namespace zelkor {

namespace chains = armv8_crc_chains;
static_assert(kCrc32ZlibArmv8CrcX3Group == chains::kChains);

ZELKOR_ARMV8_CRC_TARGET void crc32_zlib_armv8_crc_x3_chunks(const uint8_t *data,
                                                            size_t chunk_size, size_t n_chunks,
                                                            uint32_t *words) {
  chains::chunks<gf2::kCrc32Zlib>(data, chunk_size, n_chunks, words);
}
ZELKOR_ARMV8_CRC_TARGET uint32_t crc32_zlib_armv8_crc_x3_one(const uint8_t *data, size_t len) {
  return chains::stored(chains::one_register<gf2::kCrc32Zlib>(data, len));
}

namespace fold = armv8_pmull_fold;
static_assert(kCrc32ZlibArmv8PmullGroup == chains::kChains);  // the short chunks' groups

ZELKOR_ARMV8_CRC_TARGET void crc32_zlib_armv8_pmull_chunks(const uint8_t *data, size_t chunk_size,
                                                           size_t n_chunks, uint32_t *words) {
  fold::chunks<gf2::kCrc32Zlib>(data, chunk_size, n_chunks, words);
}
ZELKOR_ARMV8_CRC_TARGET uint32_t crc32_zlib_armv8_pmull_one(const uint8_t *data, size_t len) {
  return chains::stored(fold::one_register<gf2::kCrc32Zlib>(data, len));
}

}  // namespace zelkor
