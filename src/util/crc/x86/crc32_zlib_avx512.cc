// crc32_zlib_avx512.cc -- the CRC-32 (zlib) kernel of crc32_zlib_avx512_body.h,
// compiled natively for AVX-512 and as its 128-bit model.
#include "../prefetch.h"
#include "crc32_zlib_fold.h"
#include "tier_table.h"
#include "v512.h"

namespace zelkor {

namespace {

namespace native_copy {
using namespace v512::native;
#define ZELKOR_V512 ZELKOR_V512_NATIVE_OP
#include "v512_folds.h"
#include "crc32_zlib_avx512_body.h"
#undef ZELKOR_V512
}  // namespace native_copy

namespace model_copy {
using namespace v512::model;
#define ZELKOR_V512 ZELKOR_V512_MODEL_OP
#include "v512_folds.h"
#include "crc32_zlib_avx512_body.h"
#undef ZELKOR_V512
}  // namespace model_copy

}  // namespace

// The entry points of one copy, each compiled for that copy's target.
#define ZELKOR_ENTRY_POINTS(name, copy, isa)                                             \
  __attribute__((target(isa))) void name##_chunks(const uint8_t *data, size_t chunk_size,  \
                                                  size_t n_chunks, uint32_t *words) {      \
    copy::chunks(data, chunk_size, n_chunks, words);                                       \
  }                                                                                        \
  __attribute__((target(isa))) uint32_t name##_one(uint32_t reg, const uint8_t *data,    \
                                                    size_t len) {                          \
    return copy::one(reg, data, len);                                                      \
  }

ZELKOR_ENTRY_POINTS(crc32_zlib_vpclmul_avx512, native_copy, ZELKOR_V512_NATIVE_TARGET)
ZELKOR_ENTRY_POINTS(crc32_zlib_vpclmul_avx512_model, model_copy, ZELKOR_V512_MODEL_TARGET)

#undef ZELKOR_ENTRY_POINTS

}  // namespace zelkor
