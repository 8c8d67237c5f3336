// crc64_nvme.h -- CRC-64/NVME's register, tables and the steps that every
// kernel of it shares.
//
// The register is bit-reflected, as the 32-bit ones are: bit i holds the
// coefficient of x^(63-i) (gf2.h).  After a message M of n bytes, started
// at R, it is S = (R * x^(8n) + M * x^64) mod P.  The kernels keep it
// neither inverted nor swapped; zelkor_crc64_update inverts it at either
// end.  Eight bytes go through eight tables at a time: the portable path,
// and the folding kernels' short inputs and last reduction.
#ifndef ZELKOR_UTIL_CRC_CRC64_NVME_H
#define ZELKOR_UTIL_CRC_CRC64_NVME_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gf2.h"

namespace zelkor::crc64_nvme {

inline constexpr uint64_t P = gf2::kCrc64Nvme;
inline constexpr uint64_t kInit = ~uint64_t{0};

using slice_tables = std::array<std::array<uint64_t, 256>, 8>;

// [k][b]: the register after byte b and then k zero bytes, from zero.
inline constexpr slice_tables kSlices = [] {
  slice_tables t{};
  for (uint64_t b = 0; b < 256; ++b) {
    uint64_t r = b;
    for (int k = 0; k < 8; ++k) r = gf2::times_x(P, r);
    t[0][b] = r;
  }
  for (size_t k = 1; k < 8; ++k)
    for (size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  return t;
}();

// v * x^64 mod P, v as a register: the step of eight bytes whose sum with
// the register is v.
inline uint64_t step8(uint64_t v) {
  return kSlices[7][v & 0xFF] ^ kSlices[6][(v >> 8) & 0xFF] ^ kSlices[5][(v >> 16) & 0xFF] ^
         kSlices[4][(v >> 24) & 0xFF] ^ kSlices[3][(v >> 32) & 0xFF] ^
         kSlices[2][(v >> 40) & 0xFF] ^ kSlices[1][(v >> 48) & 0xFF] ^ kSlices[0][v >> 56];
}

inline uint64_t advance(uint64_t reg, const uint8_t *p, size_t len) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "eight bytes are read as one word");
  for (; len >= 8; p += 8, len -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    reg = step8(reg ^ w);
  }
  for (; len > 0; ++p, --len) reg = (reg >> 8) ^ kSlices[0][(reg ^ *p) & 0xFF];
  return reg;
}

// The table path, as a kernel entry point (the tier table's portable row).
uint64_t table_one(uint64_t reg, const uint8_t *data, size_t len);

}  // namespace zelkor::crc64_nvme

#endif  // ZELKOR_UTIL_CRC_CRC64_NVME_H
