/* consumer.c -- a downstream C program built against the installed library. */
#include <stdio.h>
#include <string.h>

#include <zelkor/bulk_crc32.h>
#include <zelkor/zelkor_crc.h>
#include <zelkor/zelkor_group_info.h>

int main(void) {
  static const uint8_t digits[] = "123456789";
  static const uint8_t want[4] = {0xE3, 0x06, 0x92, 0x83};
  uint32_t sum;
  crc32_error_t err;
  if (bulk_crc(digits, 9, &sum, CRC32C_POLYNOMIAL, 512, NULL) != BULK_CRC_OK ||
      memcmp(&sum, want, 4) != 0 ||
      bulk_crc(digits, 9, &sum, CRC32C_POLYNOMIAL, 512, &err) != BULK_CRC_OK) {
    fprintf(stderr, "consumer: wrong checksum\n");
    return 1;
  }
  {
    uint32_t crc = 0;
    if (zelkor_crc_update(CRC32C_POLYNOMIAL, &crc, digits, 9) != 0 || crc != 0xE3069283u ||
        zelkor_crc_compose(CRC32C_POLYNOMIAL, &sum, 9, 512, &crc) != 0 || crc != 0xE3069283u) {
      fprintf(stderr, "consumer: wrong whole-buffer CRC\n");
      return 1;
    }
  }
  {
    struct zelkor_group_info *info = zelkor_group_info_alloc();
    int rc = info ? zelkor_group_info_fetch(info, 0) : -1;
    if (rc != 0 || info->group.gr_gid != 0) {
      fprintf(stderr, "consumer: group 0 not found (%d)\n", rc);
      return 1;
    }
    zelkor_group_info_free(info);
  }
  printf("consumer: ok\n");
  return 0;
}
