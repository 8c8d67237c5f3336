// crc32_zlib_avx2.cc -- the CRC-32 (zlib) kernel of crc32_zlib_fold_body.h
// on 256-bit carry-less folds: 64-byte windows as two halves.
#include "../prefetch.h"
#include "crc32_zlib_fold.h"
#include "tier_table.h"
#include "v512.h"

namespace zelkor {

namespace {

namespace halves_copy {
using namespace v512::halves;
#define ZELKOR_V512 ZELKOR_V512_HALVES_OP
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_V512_HALVES_TARGET))) inline
#include "v512_folds.h"
#include "crc32_zlib_fold_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace halves_copy

// The same body on one lane, compiled for this kernel's target.
namespace lane_copy {
using namespace v512::lane;
#define ZELKOR_V512 ZELKOR_V512_HALVES_OP
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_V512_HALVES_TARGET))) inline
#include "v512_folds.h"
#include "crc32_zlib_fold_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace lane_copy

}  // namespace

// Two accumulators of 64 bytes a long chunk, four 256-bit registers: what a
// 256-bit multiplier of latency 4..8 keeps busy beside the loads; from 128
// bytes a chunk has both.
__attribute__((target(ZELKOR_V512_HALVES_TARGET))) void crc32_zlib_vpclmul_avx2_chunks(
    const uint8_t *data, size_t chunk_size, size_t n_chunks, uint32_t *words) {
  halves_copy::chunks<2, 128>(data, chunk_size, n_chunks, words);
}

// A lone chunk of a few windows goes faster a lane at a time: without
// masked loads, a first window put together from four lanes, and the
// halves' reduction, cost more than the 64-byte folds save.
__attribute__((target(ZELKOR_V512_HALVES_TARGET))) uint32_t crc32_zlib_vpclmul_avx2_one(
    uint32_t reg, const uint8_t *data, size_t len) {
  if (len < 256) return lane_copy::one<8, 128>(reg, data, len);
  return halves_copy::one<2, 128>(reg, data, len);
}

static_assert(crc32_zlib_vpclmul_avx2_group == 4);

}  // namespace zelkor
