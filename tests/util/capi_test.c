/* capi_test.c -- the public header compiles as C and the shipped library's
 * bulk_crc links with C linkage and gives the published check values. */
#include <stdio.h>
#include <string.h>

#include "util/bulk_crc32.h"

int main(void) {
  static const uint8_t digits[] = "123456789";
  static const uint8_t want_c[4] = {0xE3, 0x06, 0x92, 0x83};
  static const uint8_t want_z[4] = {0xCB, 0xF4, 0x39, 0x26};
  uint32_t sums[1];
  crc32_error_t err;
  int failures = 0;

  if (bulk_crc(digits, 9, sums, CRC32C_POLYNOMIAL, 512, NULL) != BULK_CRC_OK ||
      memcmp(sums, want_c, 4) != 0 ||
      bulk_crc(digits, 9, sums, CRC32C_POLYNOMIAL, 512, &err) != BULK_CRC_OK) {
    fprintf(stderr, "CRC32C check value wrong\n");
    ++failures;
  }
  if (bulk_crc(digits, 9, sums, CRC32_ZLIB_POLYNOMIAL, 512, NULL) != BULK_CRC_OK ||
      memcmp(sums, want_z, 4) != 0) {
    fprintf(stderr, "CRC-32 check value wrong\n");
    ++failures;
  }
  sums[0] ^= 1;
  if (bulk_crc(digits, 9, sums, CRC32_ZLIB_POLYNOMIAL, 512, &err) != BULK_CRC_MISMATCH ||
      err.bad_data != digits || memcmp(&err.got_crc, want_z, 4) != 0) {
    fprintf(stderr, "mismatch not reported\n");
    ++failures;
  }
  if (bulk_crc(digits, 9, sums, 9, 512, &err) != BULK_CRC_BAD_TYPE) {
    fprintf(stderr, "unknown type accepted\n");
    ++failures;
  }
  return failures;
}
