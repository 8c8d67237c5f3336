// crc32c_sse42.cc -- CRC32C of whole chunks on 3 or 12 chains of CRC32.
#include "crc32c_sse42.h"

#include "crc32c_chains.h"

namespace zelkor {

using crc32c_chains::stored;

ZELKOR_CRC32C_TARGET void crc32c_sse42_x3_chunks(const uint8_t *data, size_t chunk_size,
                                                 size_t n_chunks, uint32_t *words) {
  crc32c_chains::chunks<kCrc32cSse42X3Group>(data, chunk_size, n_chunks, words);
}
ZELKOR_CRC32C_TARGET uint32_t crc32c_sse42_x3_one(const uint8_t *data, size_t len) {
  return stored(crc32c_chains::one_register<kCrc32cSse42X3Group>(data, len));
}

ZELKOR_CRC32C_TARGET void crc32c_sse42_x12_chunks(const uint8_t *data, size_t chunk_size,
                                                  size_t n_chunks, uint32_t *words) {
  crc32c_chains::chunks<kCrc32cSse42X12Group>(data, chunk_size, n_chunks, words);
}
ZELKOR_CRC32C_TARGET uint32_t crc32c_sse42_x12_one(const uint8_t *data, size_t len) {
  return stored(crc32c_chains::one_register<kCrc32cSse42X12Group>(data, len));
}

}  // namespace zelkor
