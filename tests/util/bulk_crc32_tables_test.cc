// The sixteen slice-by-8 tables against the bitwise definition.
#include <gtest/gtest.h>

#include <array>

#include "crc32_zlib_polynomial_tables.h"
#include "crc32c_tables.h"
#include "crc_reference.h"

namespace {

using Table = zelkor::sb8::table_t;

struct TableSet {
  const char *name;
  uint32_t poly;
  std::array<const Table *, 8> tables;
  std::array<uint32_t, 8> entry1;  // published entry 1 of each table
};

const TableSet kSets[] = {
    {"CRC32C",
     reference::kCrc32cPoly,
     {&CRC32C_T8_0, &CRC32C_T8_1, &CRC32C_T8_2, &CRC32C_T8_3, &CRC32C_T8_4, &CRC32C_T8_5,
      &CRC32C_T8_6, &CRC32C_T8_7},
     {0xF26B8303, 0x13A29877, 0xA541927E, 0xDD45AAB8, 0x38116FAC, 0xEF306B19, 0x68032CC8,
      0x493C7D27}},
    {"CRC32",
     reference::kCrc32Poly,
     {&CRC32_T8_0, &CRC32_T8_1, &CRC32_T8_2, &CRC32_T8_3, &CRC32_T8_4, &CRC32_T8_5,
      &CRC32_T8_6, &CRC32_T8_7},
     {0x77073096, 0x191B3141, 0x01C26A37, 0xB8BC6765, 0x3D6029B0, 0xCB5CD3A5, 0xA6770BB4,
      0xCCAA009E}},
};

// Table k, entry n: the register left by byte n followed by k zero bytes,
// starting from a zero register.
TEST(Sb8Tables, EveryEntryMatchesTheBitwiseDefinition) {
  for (const TableSet &set : kSets) {
    for (int k = 0; k < 8; ++k) {
      const Table &t = *set.tables[k];
      EXPECT_EQ(t[0], 0u) << set.name << " T8_" << k;
      EXPECT_EQ(t[1], set.entry1[k]) << set.name << " T8_" << k;
      for (uint32_t n = 0; n < 256; ++n) {
        uint8_t msg[8] = {static_cast<uint8_t>(n)};
        ASSERT_EQ(t[n], reference::bitwise(set.poly, 0, msg, 1 + k))
            << set.name << " T8_" << k << "[" << n << "]";
      }
    }
    EXPECT_EQ((*set.tables[0])[128], set.poly) << set.name;
  }
}

// The tables are constant data: usable in constant expressions, no init call.
static_assert(CRC32C_T8_0[128] == 0x82F63B78 && CRC32_T8_0[128] == 0xEDB88320);
static_assert(sizeof(CRC32C_T8_7) == 1024);

}  // namespace
