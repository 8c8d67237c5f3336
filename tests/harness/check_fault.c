/* check_fault.c -- linked into a libzelkor.so of the tests with
 * -Wl,--wrap=bulk_crc: every computed chunk word but the first is right, so
 * the check command's self-check must find the first and exit 2. */
#include <stddef.h>
#include <stdint.h>

#include "util/bulk_crc32.h"

int __real_bulk_crc(const uint8_t *data, size_t data_len, uint32_t *sums, int checksum_type,
                    int bytes_per_checksum, crc32_error_t *error_info);

int __wrap_bulk_crc(const uint8_t *data, size_t data_len, uint32_t *sums, int checksum_type,
                    int bytes_per_checksum, crc32_error_t *error_info) {
  int rc = __real_bulk_crc(data, data_len, sums, checksum_type, bytes_per_checksum, error_info);
  if (rc == 0 && error_info == NULL && data_len > 0) sums[0] ^= 1;
  return rc;
}
