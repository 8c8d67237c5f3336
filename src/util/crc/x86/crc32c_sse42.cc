// crc32c_sse42.cc -- CRC32C of whole chunks on 3 or 12 chains of CRC32.
#include "crc32c_chains.h"
#include "tier_table.h"

namespace zelkor {

namespace {
using step = sse42_crc32c_step;
}  // namespace

// A kernel on as many chains as its group holds.
#define ZELKOR_SSE42_CHAINS(name)                                                           \
  ZELKOR_CRC32C_TARGET void name##_chunks(const uint8_t *data, size_t chunk_size,           \
                                          size_t n_chunks, uint32_t *words) {               \
    chains::chunks<step, name##_group>(data, chunk_size, n_chunks, words);                  \
  }                                                                                         \
  ZELKOR_CRC32C_TARGET uint32_t name##_one(uint32_t reg, const uint8_t *data, size_t len) { \
    return chains::one_register<step, name##_group>(reg, data, len);                        \
  }

ZELKOR_SSE42_CHAINS(crc32c_sse42_x3)
ZELKOR_SSE42_CHAINS(crc32c_sse42_x12)

#undef ZELKOR_SSE42_CHAINS

}  // namespace zelkor
