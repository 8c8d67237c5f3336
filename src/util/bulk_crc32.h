/* bulk_crc32.h -- per-chunk CRC32C / CRC-32 checksums, computed or verified.
 *
 * Stored checksums are one 32-bit word per chunk, in chunk order, holding the
 * inverted CRC with its bytes in big-endian (network) order.  This header is
 * plain C so that C and C++ callers share it. */
#ifndef ZELKOR_UTIL_BULK_CRC32_H
#define ZELKOR_UTIL_BULK_CRC32_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Checksum type codes. */
#define CRC32C_POLYNOMIAL 1     /* Castagnoli, reflected 0x82F63B78 */
#define CRC32_ZLIB_POLYNOMIAL 2 /* zlib / IEEE 802.3, reflected 0xEDB88320 */

/* Result codes of bulk_crc.  A bad chunk size (below 1) and an unknown type
 * in compute mode give -EINVAL (-22). */
#define BULK_CRC_OK 0
#define BULK_CRC_MISMATCH (-1)
#define BULK_CRC_BAD_TYPE (-2)

/* Mismatch record filled by verify mode.  Both words are in stored form
 * (exactly the bytes compute mode would write); bad_data is the first byte of
 * the earliest failing chunk, inside the caller's buffer. */
typedef struct crc32_error {
  uint32_t got_crc;
  uint32_t expected_crc;
  const uint8_t *bad_data;
} crc32_error_t;

/* Cuts data into chunks of bytes_per_checksum bytes (the last may be
 * shorter).  With error_info NULL (compute mode) it stores one word per chunk
 * into sums.  Otherwise (verify mode) it compares each chunk's word with
 * sums, stops at the first difference, fills *error_info and returns
 * BULK_CRC_MISMATCH.  An unknown checksum_type gives BULK_CRC_BAD_TYPE in
 * verify mode and -EINVAL in compute mode; nothing is read or written then. */
int bulk_crc(const uint8_t *data, size_t data_len, uint32_t *sums,
             int checksum_type, int bytes_per_checksum,
             crc32_error_t *error_info);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_UTIL_BULK_CRC32_H */
