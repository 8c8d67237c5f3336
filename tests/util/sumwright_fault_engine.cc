// A stand-in engine for sumwright whose verify mode rejects what compute
// mode stored for 17 bytes in 2-byte CRC32C chunks, and accepts all else.
#include "bulk_crc32.h"

extern "C" int bulk_crc(const uint8_t *, size_t data_len, uint32_t *, int checksum_type,
                        int bytes_per_checksum, crc32_error_t *error_info) {
  if (error_info != nullptr && data_len == 17 && checksum_type == CRC32C_POLYNOMIAL &&
      bytes_per_checksum == 2)
    return BULK_CRC_MISMATCH;
  return BULK_CRC_OK;
}
