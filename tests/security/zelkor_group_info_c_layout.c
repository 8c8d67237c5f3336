/* The record's header compiled as C: C callers must see the same layout as
 * the module, which is compiled as C++. */
#include "security/zelkor_group_info.h"

#include <stddef.h>

void zelkor_group_info_c_layout(size_t out[4]) {
  out[0] = sizeof(struct zelkor_group_info);
  out[1] = offsetof(struct zelkor_group_info, buf_sz);
  out[2] = offsetof(struct zelkor_group_info, group);
  out[3] = offsetof(struct zelkor_group_info, buf);
}
