/* zelkor_crc.h -- one CRC for a whole buffer, block or object: a CRC continued
 * over data that arrives in pieces, two CRCs joined, and the stored chunk
 * words of a buffer composed into the CRC of all of it.
 *
 * CRC values here are those of zlib's crc32() and of Java's
 * java.util.zip.Checksum.getValue(): the CRC of no bytes is 0, CRC32C of
 * "123456789" is 0xE3069283 and CRC-32 of it 0xCBF43926.  A stored word of
 * bulk_crc is that value with its bytes in big-endian order.
 *
 * The checksum types are CRC32C_POLYNOMIAL and CRC32_ZLIB_POLYNOMIAL; any
 * other gives BULK_CRC_BAD_TYPE, tested before anything else.  Nothing here
 * allocates, locks or keeps state: every function is safe from any number
 * of threads.  Plain C, shared by C and C++ callers. */
#ifndef ZELKOR_UTIL_ZELKOR_CRC_H
#define ZELKOR_UTIL_ZELKOR_CRC_H

#include <stddef.h>
#include <stdint.h>

#include "bulk_crc32.h"

#ifdef __cplusplus
extern "C" {
#endif

/* *crc becomes the CRC of the bytes whose CRC it held followed by
 * data[0, len), for any len; start from *crc = 0.  Returns 0, or -EINVAL when
 * crc is null or data is null while len > 0; *crc is unchanged on failure. */
int zelkor_crc_update(int checksum_type, uint32_t *crc, const uint8_t *data, size_t len);

/* The CRC of A followed by B, from CRC(A), CRC(B) and the length of B in
 * bytes (any value; 0 gives crc_a ^ crc_b, that is crc_a for an empty B),
 * in a time that does not grow with len_b.  Returns 0, or -EINVAL when
 * crc_ab is null; nothing is written on failure. */
int zelkor_crc_combine(int checksum_type, uint32_t crc_a, uint32_t crc_b, uint64_t len_b,
                       uint32_t *crc_ab);

/* The CRC of a whole buffer of data_len bytes, from the stored words that
 * bulk_crc computed for it with this type and chunk size:
 * ceil(data_len / bytes_per_checksum) words, the last chunk's partial where
 * the length is no multiple of the chunk size, at any alignment (they are
 * read as bytes).  No data is read, and no word past those: data_len 0 gives
 * 0 and reads none.  Returns 0, or -EINVAL when bytes_per_checksum < 1, crc
 * is null, or sums is null while data_len > 0; nothing is written on
 * failure. */
int zelkor_crc_compose(int checksum_type, const uint32_t *sums, uint64_t data_len,
                       int bytes_per_checksum, uint32_t *crc);

/* CRC-64/NVME, the whole-object checksum of object stores: width 64,
 * polynomial 0xAD93D23594C93659, initial value all ones, input and output
 * reflected, final xor all ones; "123456789" gives 0xAE8B14860A799888, no
 * bytes 0.  It has no chunk words: bulk_crc and the 32-bit functions above
 * refuse this type, and these two refuse every other. */
#define CRC64_NVME 3

/* As zelkor_crc_update, for CRC64_NVME. */
int zelkor_crc64_update(int checksum_type, uint64_t *crc, const uint8_t *data, size_t len);

/* As zelkor_crc_combine, for CRC64_NVME. */
int zelkor_crc64_combine(int checksum_type, uint64_t crc_a, uint64_t crc_b, uint64_t len_b,
                         uint64_t *crc_ab);

/* The code path in force for the type: a static string that starts with the
 * short name of the tier chosen at load time, then says what it runs (for
 * example "hybrid_avx2 (CRC32 on 3 chains + 256-bit carry-less folds)"), for
 * CRC32C, CRC32_ZLIB and CRC64_NVME; NULL for an unknown type.  A kernel is
 * installed only after it has given the known answers for a fixed input; one
 * that does not is replaced by the nearest tier below it that does, and this
 * names what was installed. */
const char *zelkor_crc_implementation(int checksum_type);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_UTIL_ZELKOR_CRC_H */
