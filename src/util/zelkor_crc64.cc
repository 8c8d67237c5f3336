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

// x^4 * v mod P for v < 16, for the multiply below: a register moved four
// places is (r >> 4) plus this of its low four bits.
constexpr std::array<uint64_t, 16> kTimesX4 = [] {
  std::array<uint64_t, 16> t{};
  for (uint64_t v = 0; v < 16; ++v) {
    uint64_t r = v;
    for (int k = 0; k < 4; ++k) r = zelkor::gf2::times_x(P, r);
    t[v] = r;
  }
  return t;
}();

// a * b mod P four coefficients of b at a time (Horner's rule over its 16
// nibbles, the highest first), from a's products with every nibble: a
// quarter of the bitwise loop's steps, which a combine takes several of.
uint64_t mul_mod(uint64_t a, uint64_t b) {
  // Bit t of a nibble stands for x^(3-t).
  uint64_t by[4];
  by[3] = a;
  for (int t = 2; t >= 0; --t) by[t] = zelkor::gf2::times_x(P, by[t + 1]);
  std::array<uint64_t, 16> times{};
  for (unsigned c = 1; c < 16; ++c) {
    const unsigned low = static_cast<unsigned>(__builtin_ctz(c));
    times[c] = times[c & (c - 1)] ^ by[low];
  }
  uint64_t r = 0;
  for (int j = 0; j < 16; ++j, b >>= 4) r = (r >> 4) ^ kTimesX4[r & 0xF] ^ times[b & 0xF];
  return r;
}

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
  // crc_a moved past len_b zero bytes: times x^(8 * byte * 256^k) for each
  // byte of len_b that is not zero (the others' factor is 1).
  uint64_t moved = crc_a;
  for (int k = 0; k < 8; ++k) {
    const unsigned byte = (len_b >> (8 * k)) & 0xFF;
    if (byte != 0) moved = mul_mod(moved, kPowers[k][byte]);
  }
  *crc_ab = moved ^ crc_b;
  return 0;
}

}  // extern "C"
