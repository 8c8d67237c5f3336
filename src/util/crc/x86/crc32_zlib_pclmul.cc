// crc32_zlib_pclmul.cc -- the CRC-32 (zlib) kernel of crc32_zlib_fold_body.h
// on 128-bit carry-less folds: windows of one lane.
#include "../prefetch.h"
#include "crc32_zlib_fold.h"
#include "tier_table.h"
#include "v512.h"

namespace zelkor {

namespace {

namespace lane_copy {
using namespace v512::lane;
#define ZELKOR_V512 ZELKOR_V512_LANE_OP
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_V512_LANE_TARGET))) inline
#include "v512_folds.h"
#include "crc32_zlib_fold_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace lane_copy

}  // namespace

// Eight accumulators of a lane a long chunk: enough to overlap a multiply
// of latency 7 (Haswell to Skylake) started every cycle, and from 128 bytes
// a chunk has them all; shorter chunks go four in lockstep.
ZELKOR_ZLIB_FOLD_ENTRY_POINTS(crc32_zlib_pclmul, lane_copy, ZELKOR_V512_LANE_TARGET, 8, 128);

}  // namespace zelkor
