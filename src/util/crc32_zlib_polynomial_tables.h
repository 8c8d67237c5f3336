// crc32_zlib_polynomial_tables.h -- slice-by-8 tables of the zlib / IEEE 802.3 CRC-32 (reflected 0xEDB88320).
//
// Constant data produced by the compiler; no initialisation call exists.
#ifndef ZELKOR_UTIL_CRC32_ZLIB_POLYNOMIAL_TABLES_H
#define ZELKOR_UTIL_CRC32_ZLIB_POLYNOMIAL_TABLES_H

#include "crc_sb8_tables.h"

inline constexpr zelkor::sb8::table_t CRC32_T8_0 = zelkor::sb8::table(0xEDB88320, 0);
inline constexpr zelkor::sb8::table_t CRC32_T8_1 = zelkor::sb8::table(0xEDB88320, 1);
inline constexpr zelkor::sb8::table_t CRC32_T8_2 = zelkor::sb8::table(0xEDB88320, 2);
inline constexpr zelkor::sb8::table_t CRC32_T8_3 = zelkor::sb8::table(0xEDB88320, 3);
inline constexpr zelkor::sb8::table_t CRC32_T8_4 = zelkor::sb8::table(0xEDB88320, 4);
inline constexpr zelkor::sb8::table_t CRC32_T8_5 = zelkor::sb8::table(0xEDB88320, 5);
inline constexpr zelkor::sb8::table_t CRC32_T8_6 = zelkor::sb8::table(0xEDB88320, 6);
inline constexpr zelkor::sb8::table_t CRC32_T8_7 = zelkor::sb8::table(0xEDB88320, 7);

#endif  // ZELKOR_UTIL_CRC32_ZLIB_POLYNOMIAL_TABLES_H
