// crc32c_tables.h -- slice-by-8 tables of the Castagnoli CRC32C (reflected 0x82F63B78).
//
// Constant data produced by the compiler; no initialisation call exists.
#ifndef ZELKOR_UTIL_CRC32C_TABLES_H
#define ZELKOR_UTIL_CRC32C_TABLES_H

#include "crc_sb8_tables.h"

inline constexpr zelkor::sb8::table_t CRC32C_T8_0 = zelkor::sb8::table(0x82F63B78, 0);
inline constexpr zelkor::sb8::table_t CRC32C_T8_1 = zelkor::sb8::table(0x82F63B78, 1);
inline constexpr zelkor::sb8::table_t CRC32C_T8_2 = zelkor::sb8::table(0x82F63B78, 2);
inline constexpr zelkor::sb8::table_t CRC32C_T8_3 = zelkor::sb8::table(0x82F63B78, 3);
inline constexpr zelkor::sb8::table_t CRC32C_T8_4 = zelkor::sb8::table(0x82F63B78, 4);
inline constexpr zelkor::sb8::table_t CRC32C_T8_5 = zelkor::sb8::table(0x82F63B78, 5);
inline constexpr zelkor::sb8::table_t CRC32C_T8_6 = zelkor::sb8::table(0x82F63B78, 6);
inline constexpr zelkor::sb8::table_t CRC32C_T8_7 = zelkor::sb8::table(0x82F63B78, 7);

#endif  // ZELKOR_UTIL_CRC32C_TABLES_H
