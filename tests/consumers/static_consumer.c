/* static_consumer.c -- a downstream C program linked with libzelkor.a. */
#include <stdio.h>

#include <zelkor/zelkor_group_info.h>

int main(void) {
  struct zelkor_group_info *info = zelkor_group_info_alloc();
  int rc = info ? zelkor_group_info_fetch(info, 0) : -1;
  if (rc != 0 || info->group.gr_gid != 0) {
    fprintf(stderr, "static consumer: group 0 not found (%d)\n", rc);
    return 1;
  }
  zelkor_group_info_free(info);
  printf("static consumer: ok\n");
  return 0;
}
