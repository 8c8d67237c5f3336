// crc32_zlib_avx512.cc -- the CRC-32 (zlib) kernel of crc32_zlib_fold_body.h
// on 512-bit carry-less folds, compiled natively for AVX-512 and as its
// 128-bit model.
#include "../prefetch.h"
#include "crc32_zlib_fold.h"
#include "tier_table.h"
#include "v512.h"

namespace zelkor {

namespace {

namespace native_copy {
using namespace v512::native;
#define ZELKOR_V512 ZELKOR_V512_NATIVE_OP
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_V512_NATIVE_TARGET))) inline
#include "v512_folds.h"
#include "crc32_zlib_fold_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace native_copy

namespace model_copy {
using namespace v512::model;
#define ZELKOR_V512 ZELKOR_V512_MODEL_OP
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_V512_MODEL_TARGET))) inline
#include "v512_folds.h"
#include "crc32_zlib_fold_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace model_copy

}  // namespace

// Four accumulators of 64 bytes keep a multiplier of latency 4..8 busy
// beside the loads; below 1 KiB, four chunks in lockstep do as well.  The
// model takes the native copy's choices, so as to run its very paths.
ZELKOR_ZLIB_FOLD_ENTRY_POINTS(crc32_zlib_vpclmul_avx512, native_copy, ZELKOR_V512_NATIVE_TARGET,
                              4, 1024);
ZELKOR_ZLIB_FOLD_ENTRY_POINTS(crc32_zlib_vpclmul_avx512_model, model_copy,
                              ZELKOR_V512_MODEL_TARGET, 4, 1024);

}  // namespace zelkor
