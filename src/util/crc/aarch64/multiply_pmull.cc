// multiply_pmull.cc -- the multiplier of multiply_body.h on the 64-bit PMULL.
#include <arm_neon.h>

#include "../gf2.h"
#include "../multiply.h"

#define ZELKOR_PMULL_TARGET "+crypto"

namespace zelkor {

namespace {
namespace copy {
struct ops {
  static constexpr size_t kWords = 2;
  using v = uint64x2_t;
#define ZELKOR_OP __attribute__((target(ZELKOR_PMULL_TARGET), always_inline)) static inline
  ZELKOR_OP v of(uint64_t lo, uint64_t hi) {
    return vcombine_u64(vcreate_u64(lo), vcreate_u64(hi));
  }
  ZELKOR_OP uint64_t lo(v a) { return vgetq_lane_u64(a, 0); }
  ZELKOR_OP v mul_lo(v a, v b) {
    return vreinterpretq_u64_p128(vmull_p64(vgetq_lane_u64(a, 0), vgetq_lane_u64(b, 0)));
  }
  ZELKOR_OP v mul_hi(v a, v b) {
    return vreinterpretq_u64_p128(
        vmull_high_p64(vreinterpretq_p64_u64(a), vreinterpretq_p64_u64(b)));
  }
  ZELKOR_OP v add(v a, v b) { return veorq_u64(a, b); }
  ZELKOR_OP uint64_t total(v a) { return lo(a); }
  ZELKOR_OP v of_words(const uint32_t *w) { return of(w[0], w[1]); }
  ZELKOR_OP v load(const uint8_t *p) {
    return vmovl_u32(vreinterpret_u32_u8(vrev32_u8(vld1_u8(p))));
  }
#undef ZELKOR_OP
};
#define ZELKOR_MULTIPLY __attribute__((target(ZELKOR_PMULL_TARGET))) inline
#include "../multiply_body.h"
#undef ZELKOR_MULTIPLY
}  // namespace copy
}  // namespace

ZELKOR_MULTIPLIER_ENTRIES(pmull, copy, ZELKOR_PMULL_TARGET)

}  // namespace zelkor
