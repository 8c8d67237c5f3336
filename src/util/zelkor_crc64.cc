// zelkor_crc64.cc -- CRC-64/NVME over a buffer, continued over pieces, and
// two CRCs joined (zelkor_crc.h).
//
// The buffer goes to the kernel chosen at load time (crc/tiers.h), whose
// portable row is the table path here.  Joining multiplies by x^(8n), from
// compile-time tables of the powers for each byte of n, as the 32-bit
// combine does.
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "bulk_crc32_internal.h"
#include "crc/crc64_nvme.h"
#include "crc/gf2.h"
#include "crc/kernel.h"
#include "zelkor_crc.h"

namespace zelkor::crc64_nvme {

uint64_t table_one(uint64_t reg, const uint8_t *data, size_t len) {
  return advance(reg, data, len);
}

}  // namespace zelkor::crc64_nvme

namespace {

using zelkor::crc64_nvme::P;
using zelkor::crc64_nvme::slice_tables;
constexpr uint64_t kOne = zelkor::gf2::one_of<uint64_t>;

// x^(8 * b * 256^k) mod P at [k][b].
constexpr slice_tables kPowers = [] {
  slice_tables t{};
  const uint64_t x8 = zelkor::gf2::x_pow(P, 8);
  uint64_t step = x8;
  for (auto &row : t) {
    row[0] = kOne;
    for (size_t b = 1; b < 256; ++b) row[b] = zelkor::gf2::mul_mod(P, row[b - 1], step);
    step = zelkor::gf2::mul_mod(P, row[255], step);
  }
  return t;
}();

constexpr uint64_t crc_of(const char *s, size_t n) {
  uint64_t reg = ~uint64_t{0};
  for (size_t i = 0; i < n; ++i)
    reg = (reg >> 8) ^
          zelkor::crc64_nvme::kSlices[0][(reg ^ static_cast<uint8_t>(s[i])) & 0xFF];
  return ~reg;
}
static_assert(crc_of("123456789", 9) == 0xAE8B14860A799888u, "the published check value");

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int zelkor_crc64_update(int checksum_type, uint64_t *crc,
                                                               const uint8_t *data, size_t len) {
  if (checksum_type != CRC64_NVME) return BULK_CRC_BAD_TYPE;
  if (crc == nullptr || (data == nullptr && len > 0)) return -EINVAL;
  if (len > 0) *crc = ~zelkor::crc64_nvme_kernel(~*crc, data, len);
  return 0;
}

__attribute__((visibility("default"))) int zelkor_crc64_combine(int checksum_type,
                                                                uint64_t crc_a, uint64_t crc_b,
                                                                uint64_t len_b,
                                                                uint64_t *crc_ab) {
  if (checksum_type != CRC64_NVME) return BULK_CRC_BAD_TYPE;
  if (crc_ab == nullptr) return -EINVAL;
  uint64_t shift = kOne;
  for (int k = 0; k < 8; ++k)
    shift = zelkor::gf2::mul_mod(P, shift, kPowers[k][(len_b >> (8 * k)) & 0xFF]);
  *crc_ab = zelkor::gf2::mul_mod(P, crc_a, shift) ^ crc_b;
  return 0;
}

}  // extern "C"
