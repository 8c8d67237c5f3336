// crc32c_sse42.cc -- CRC32C of whole chunks on 3 or 12 chains of CRC32.
#include "crc32c_chains.h"
#include "tier_table.h"

namespace zelkor {

namespace {
using step = sse42_crc32c_step;
}  // namespace

ZELKOR_CRC32C_TARGET void crc32c_sse42_x3_chunks(const uint8_t *data, size_t chunk_size,
                                                 size_t n_chunks, uint32_t *words) {
  chains::chunks<step, crc32c_sse42_x3_group>(data, chunk_size, n_chunks, words);
}
ZELKOR_CRC32C_TARGET uint32_t crc32c_sse42_x3_one(uint32_t reg, const uint8_t *data,
                                                  size_t len) {
  return chains::one_register<step, crc32c_sse42_x3_group>(reg, data, len);
}

ZELKOR_CRC32C_TARGET void crc32c_sse42_x12_chunks(const uint8_t *data, size_t chunk_size,
                                                  size_t n_chunks, uint32_t *words) {
  chains::chunks<step, crc32c_sse42_x12_group>(data, chunk_size, n_chunks, words);
}
ZELKOR_CRC32C_TARGET uint32_t crc32c_sse42_x12_one(uint32_t reg, const uint8_t *data,
                                                   size_t len) {
  return chains::one_register<step, crc32c_sse42_x12_group>(reg, data, len);
}

}  // namespace zelkor
