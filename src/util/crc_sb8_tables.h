// crc_sb8_tables.h -- compile-time generator for slice-by-8 CRC tables.
//
// Table 0 is the ordinary reflected byte table; table k is the contribution
// of a byte followed by k zero bytes, so eight bytes can be folded per step.
#ifndef ZELKOR_UTIL_CRC_SB8_TABLES_H
#define ZELKOR_UTIL_CRC_SB8_TABLES_H

#include <array>
#include <cstdint>

namespace zelkor::sb8 {

using table_t = std::array<uint32_t, 256>;

constexpr table_t byte_table(uint32_t reflected_poly) {
  table_t t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ reflected_poly : c >> 1;
    t[n] = c;
  }
  return t;
}

constexpr table_t table(uint32_t reflected_poly, int k) {
  const table_t t0 = byte_table(reflected_poly);
  table_t t = t0;
  for (int level = 1; level <= k; ++level) {
    table_t next{};
    for (uint32_t n = 0; n < 256; ++n) next[n] = (t[n] >> 8) ^ t0[t[n] & 0xFF];
    t = next;
  }
  return t;
}

}  // namespace zelkor::sb8

#endif  // ZELKOR_UTIL_CRC_SB8_TABLES_H
