// crc32c_avx512.cc -- the CRC32C hybrid of crc32c_hybrid_body.h on 512-bit
// carry-less folds, compiled natively for AVX-512 and as its 128-bit model,
// for each split of a group between chains and folds.
#include "../prefetch.h"
#include "crc32c_chains.h"
#include "tier_table.h"
#include "v512.h"

#define ZELKOR_HYBRID_NATIVE_TARGET "sse4.2," ZELKOR_V512_NATIVE_TARGET
#define ZELKOR_HYBRID_MODEL_TARGET "sse4.2," ZELKOR_V512_MODEL_TARGET

namespace zelkor {

namespace {

namespace native_copy {
using namespace v512::native;
#define ZELKOR_V512 __attribute__((target(ZELKOR_HYBRID_NATIVE_TARGET), always_inline)) inline
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_HYBRID_NATIVE_TARGET))) inline
#include "v512_folds.h"
#include "crc32c_hybrid_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace native_copy

namespace model_copy {
using namespace v512::model;
#define ZELKOR_V512 __attribute__((target(ZELKOR_HYBRID_MODEL_TARGET), always_inline)) inline
#define ZELKOR_V512_SHARED __attribute__((target(ZELKOR_HYBRID_MODEL_TARGET))) inline
#include "v512_folds.h"
#include "crc32c_hybrid_body.h"
#undef ZELKOR_V512_SHARED
#undef ZELKOR_V512
}  // namespace model_copy

}  // namespace

// The entry points of one copy and split, each compiled for that copy's target.
#define ZELKOR_ENTRY_POINTS(name, copy, isa, K, M, LK, LM, S)                               \
  __attribute__((target(isa))) void name##_chunks(const uint8_t *data, size_t chunk_size,     \
                                                  size_t n_chunks, uint32_t *words) {         \
    copy::chunks<K, M, LK, LM, S, (S > 3 ? 128 : 64)>(data, chunk_size, n_chunks, words);     \
  }                                                                                           \
  __attribute__((target(isa))) uint32_t name##_one(uint32_t reg, const uint8_t *data,       \
                                                    size_t len) {                             \
    return copy::one<LK, LM>(reg, data, len);                                                 \
  }                                                                                           \
  static_assert(name##_group == K + M);
// K chains beside M folded chunks in a group, LK beside LM streams for a
// lone chunk; S chains take the chunks too short to fold (below 128 bytes
// where S is large, else below 64).
#define ZELKOR_SPLIT(split, K, M, LK, LM, S)                                                   \
  ZELKOR_ENTRY_POINTS(crc32c_hybrid_avx512_##split, native_copy, ZELKOR_HYBRID_NATIVE_TARGET, \
                      K, M, LK, LM, S)                                                        \
  ZELKOR_ENTRY_POINTS(crc32c_hybrid_avx512_##split##_model, model_copy,                       \
                      ZELKOR_HYBRID_MODEL_TARGET, K, M, LK, LM, S)

ZELKOR_SPLIT(10x6s12, 10, 6, 10, 6, 12)
ZELKOR_SPLIT(3x9s3, 3, 9, 3, 3, 3)
ZELKOR_SPLIT(3x3s3, 3, 3, 3, 3, 3)

#undef ZELKOR_SPLIT
#undef ZELKOR_ENTRY_POINTS

}  // namespace zelkor
