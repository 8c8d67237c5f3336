// zelkor_crc64.cc -- CRC-64/NVME over a buffer, continued over pieces, and
// two CRCs joined (zelkor_crc.h), on tables the compiler builds.
//
// The register is bit-reflected, as the 32-bit ones are: bit i holds the
// coefficient of x^(63-i), and the polynomial is named by its reflected
// form without the x^64 term.  Eight bytes go through eight tables at a
// time; joining multiplies by x^(8n) from tables of the powers for each
// byte of n, as the 32-bit combine does.
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "bulk_crc32_internal.h"
#include "crc/gf2.h"
#include "zelkor_crc.h"

namespace {

constexpr uint64_t kPoly = zelkor::gf2::reflect(0xAD93D23594C93659u, 64);
constexpr uint64_t kOne = uint64_t{1} << 63;  // x^0

constexpr uint64_t times_x(uint64_t a) { return (a >> 1) ^ ((a & 1) ? kPoly : 0); }

// a * b mod P: Horner's rule over b's coefficients, x^63 first.
constexpr uint64_t mul_mod(uint64_t a, uint64_t b) {
  uint64_t r = 0;
  for (int i = 0; i < 64; ++i) {
    r = times_x(r);
    if ((b >> i) & 1) r ^= a;
  }
  return r;
}

using slice_tables = std::array<std::array<uint64_t, 256>, 8>;

constexpr slice_tables make_slices() {
  slice_tables t{};
  for (uint64_t b = 0; b < 256; ++b) {
    uint64_t r = b;
    for (int k = 0; k < 8; ++k) r = times_x(r);
    t[0][b] = r;
  }
  for (size_t k = 1; k < 8; ++k)
    for (size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  return t;
}
constexpr slice_tables kSlices = make_slices();

// x^(8 * b * 256^k) mod P at [k][b].
constexpr slice_tables make_powers() {
  slice_tables t{};
  uint64_t x8 = kOne;
  for (int i = 0; i < 8; ++i) x8 = times_x(x8);  // x^8
  for (auto &row : t) {
    row[0] = kOne;
    for (size_t b = 1; b < 256; ++b) row[b] = mul_mod(row[b - 1], x8);
    x8 = mul_mod(row[255], x8);
  }
  return t;
}
constexpr slice_tables kPowers = make_powers();

uint64_t advance(uint64_t reg, const uint8_t *p, size_t len) {
  for (; len >= 8; p += 8, len -= 8) {
    const uint64_t v = reg ^ zelkor::load_le64(p);
    reg = kSlices[7][v & 0xFF] ^ kSlices[6][(v >> 8) & 0xFF] ^ kSlices[5][(v >> 16) & 0xFF] ^
          kSlices[4][(v >> 24) & 0xFF] ^ kSlices[3][(v >> 32) & 0xFF] ^
          kSlices[2][(v >> 40) & 0xFF] ^ kSlices[1][(v >> 48) & 0xFF] ^ kSlices[0][v >> 56];
  }
  for (; len > 0; ++p, --len) reg = (reg >> 8) ^ kSlices[0][(reg ^ *p) & 0xFF];
  return reg;
}

constexpr uint64_t crc_of(const char *s, size_t n) {
  uint64_t reg = ~uint64_t{0};
  for (size_t i = 0; i < n; ++i)
    reg = (reg >> 8) ^ kSlices[0][(reg ^ static_cast<uint8_t>(s[i])) & 0xFF];
  return ~reg;
}
static_assert(crc_of("123456789", 9) == 0xAE8B14860A799888u, "the published check value");

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int zelkor_crc64_update(int checksum_type, uint64_t *crc,
                                                               const uint8_t *data, size_t len) {
  if (checksum_type != CRC64_NVME) return BULK_CRC_BAD_TYPE;
  if (crc == nullptr || (data == nullptr && len > 0)) return -EINVAL;
  *crc = ~advance(~*crc, data, len);
  return 0;
}

__attribute__((visibility("default"))) int zelkor_crc64_combine(int checksum_type,
                                                                uint64_t crc_a, uint64_t crc_b,
                                                                uint64_t len_b,
                                                                uint64_t *crc_ab) {
  if (checksum_type != CRC64_NVME) return BULK_CRC_BAD_TYPE;
  if (crc_ab == nullptr) return -EINVAL;
  uint64_t shift = kOne;
  for (int k = 0; k < 8; ++k) shift = mul_mod(shift, kPowers[k][(len_b >> (8 * k)) & 0xFF]);
  *crc_ab = mul_mod(crc_a, shift) ^ crc_b;
  return 0;
}

}  // extern "C"
