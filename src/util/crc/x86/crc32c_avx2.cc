// crc32c_avx2.cc -- the CRC32C hybrid of crc32c_hybrid_body.h on 256-bit
// carry-less folds: three chunks on CRC32 chains beside three folded (each
// on two 256-bit halves), which keeps one CRC32 unit and a 256-bit vector
// unit busy (Zen 3 and 4; Intel with VPCLMULQDQ but no AVX-512).
#include "../prefetch.h"
#include "crc32c_chains.h"
#include "tier_table.h"
#include "v512.h"

#define ZELKOR_HYBRID_AVX2_TARGET "sse4.2," ZELKOR_V512_HALVES_TARGET

namespace zelkor {

namespace {

namespace halves_copy {
using namespace v512::halves;
#define ZELKOR_V512 __attribute__((target(ZELKOR_HYBRID_AVX2_TARGET), always_inline)) inline
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_HYBRID_AVX2_TARGET))) inline
#include "v512_folds.h"
#include "crc32c_hybrid_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace halves_copy

}  // namespace

static_assert(crc32c_hybrid_avx2_group == 3 + 3);

__attribute__((target(ZELKOR_HYBRID_AVX2_TARGET))) void crc32c_hybrid_avx2_chunks(
    const uint8_t *data, size_t chunk_size, size_t n_chunks, uint32_t *words) {
  halves_copy::chunks<3, 3, 3, 3, 3, 64>(data, chunk_size, n_chunks, words);
}

__attribute__((target(ZELKOR_HYBRID_AVX2_TARGET))) uint32_t crc32c_hybrid_avx2_one(
    uint32_t reg, const uint8_t *data, size_t len) {
  return halves_copy::one<3, 3>(reg, data, len);
}

}  // namespace zelkor
