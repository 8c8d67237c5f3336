// crc64_nvme_folds.cc -- the CRC-64/NVME kernels of crc64_nvme_fold_body.h:
// 128-bit folds (a window a lane), 256-bit (AVX2 with VPCLMULQDQ, windows of
// two halves), and 512-bit natively and as its model on 128-bit operations.
#include "../crc64_nvme.h"
#include "tier_table.h"
#include "v512.h"

namespace zelkor {

namespace {

namespace lane_copy {
using namespace v512::lane;
#define ZELKOR_V512 ZELKOR_V512_LANE_OP
#include "v512_folds.h"
#include "crc64_nvme_fold_body.h"
#undef ZELKOR_V512
}  // namespace lane_copy

// The same lane copy inside the wider kernels, for their short buffers.
namespace halves_lane_copy {
using namespace v512::lane;
#define ZELKOR_V512 ZELKOR_V512_HALVES_OP
#include "v512_folds.h"
#include "crc64_nvme_fold_body.h"
#undef ZELKOR_V512
}  // namespace halves_lane_copy

namespace halves_copy {
using namespace v512::halves;
#define ZELKOR_V512 ZELKOR_V512_HALVES_OP
#include "v512_folds.h"
#include "crc64_nvme_fold_body.h"
#undef ZELKOR_V512
}  // namespace halves_copy

namespace native_copy {
using namespace v512::native;
#define ZELKOR_V512 ZELKOR_V512_NATIVE_OP
#include "v512_folds.h"
#include "crc64_nvme_fold_body.h"
#undef ZELKOR_V512
}  // namespace native_copy

namespace model_copy {
using namespace v512::model;
#define ZELKOR_V512 ZELKOR_V512_MODEL_OP
#include "v512_folds.h"
#include "crc64_nvme_fold_body.h"
#undef ZELKOR_V512
}  // namespace model_copy

}  // namespace

// Eight accumulators of a lane from 128 bytes: enough to overlap a multiply
// of latency 7 started every cycle.
__attribute__((target(ZELKOR_V512_LANE_TARGET))) uint64_t crc64_nvme_pclmul_one(
    uint64_t reg, const uint8_t *data, size_t len) {
  return lane_copy::one<8, 128>(reg, data, len);
}

// Two accumulators of two 256-bit halves: four products in flight, as the
// CRC-32 kernel of that width; below 256 bytes the lanes fold no zeros.
__attribute__((target(ZELKOR_V512_HALVES_TARGET))) uint64_t crc64_nvme_vpclmul_avx2_one(
    uint64_t reg, const uint8_t *data, size_t len) {
  if (len < 64) return halves_lane_copy::one<8, 128>(reg, data, len);
  return halves_copy::one<2, 128>(reg, data, len);
}

// Four accumulators of 64 bytes keep a multiplier of latency 4..8 busy
// beside the loads.  The model takes the native copy's choices, so as to
// run its very paths.
__attribute__((target(ZELKOR_V512_NATIVE_TARGET))) uint64_t crc64_nvme_vpclmul_avx512_one(
    uint64_t reg, const uint8_t *data, size_t len) {
  return native_copy::one<4, 256>(reg, data, len);
}
__attribute__((target(ZELKOR_V512_MODEL_TARGET))) uint64_t crc64_nvme_vpclmul_avx512_model_one(
    uint64_t reg, const uint8_t *data, size_t len) {
  return model_copy::one<4, 256>(reg, data, len);
}

}  // namespace zelkor
