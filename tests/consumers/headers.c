/* headers.c -- every installed header compiles as C, together and alone. */
#include <zelkor/bulk_crc32.h>
#include <zelkor/errno_enum.h>
#include <zelkor/file_descriptor.h>
#include <zelkor/zelkor_crc.h>
#include <zelkor/zelkor_group_info.h>

int zelkor_headers_compile_as_c(void) { return BULK_CRC_OK; }
