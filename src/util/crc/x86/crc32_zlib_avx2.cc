// crc32_zlib_avx2.cc -- the CRC-32 (zlib) kernel of crc32_zlib_fold_body.h
// on 256-bit carry-less folds: 64-byte windows as two halves.
#include "../prefetch.h"
#include "crc32_zlib_fold.h"
#include "kernels.h"
#include "v512.h"

namespace zelkor {

namespace {

namespace halves_copy {
using namespace v512::halves;
#define ZELKOR_V512 ZELKOR_V512_HALVES_OP
#include "v512_folds.h"
#include "crc32_zlib_fold_body.h"
#undef ZELKOR_V512
}  // namespace halves_copy

}  // namespace

ZELKOR_ZLIB_FOLD_ENTRY_POINTS(crc32_zlib_vpclmul_avx2, halves_copy, ZELKOR_V512_HALVES_TARGET, 2,
                              128);

}  // namespace zelkor
