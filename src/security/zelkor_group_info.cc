// zelkor_group_info.cc -- group entry lookup by gid over getgrgid_r, with a
// record-owned buffer that grows on demand.
#include "zelkor_group_info.h"

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

namespace {

constexpr size_t kInitialBufSize = 8192;
constexpr size_t kMaxBufSize = 2097152;

// Doubling from the initial size reaches the ceiling exactly, so buf_sz is
// always a power of two in [8192, 2097152].
static_assert((kInitialBufSize & (kInitialBufSize - 1)) == 0);
static_assert(kMaxBufSize % kInitialBufSize == 0 &&
              ((kMaxBufSize / kInitialBufSize) & (kMaxBufSize / kInitialBufSize - 1)) == 0);

// Callers read the fields in this order, from C as well as from C++.
static_assert(offsetof(zelkor_group_info, buf_sz) == 0);
static_assert(offsetof(zelkor_group_info, group) > offsetof(zelkor_group_info, buf_sz));
static_assert(offsetof(zelkor_group_info, buf) > offsetof(zelkor_group_info, group));

// Callers see only a few error numbers; whatever else getgrgid_r reports
// (EACCES, EAGAIN, EPERM, a negative value from a broken backend) means
// "no usable entry".  EINTR and ERANGE never get here.
int getgrgid_error_translate(int err) {
  switch (err) {
    case EIO:
    case ENOMEM:
    case ENFILE:
    case EMFILE:
      return err;
    default:
      return ENOENT;
  }
}

// On failure the record keeps its old buffer and size, so it stays usable.
int grow_buffer(zelkor_group_info *ginfo) {
  size_t new_sz = ginfo->buf_sz * 2;
  if (new_sz > kMaxBufSize) new_sz = kMaxBufSize;
  char *new_buf = static_cast<char *>(realloc(ginfo->buf, new_sz));
  if (new_buf == nullptr) return ENOMEM;
  ginfo->buf = new_buf;
  ginfo->buf_sz = new_sz;
  return 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) zelkor_group_info *zelkor_group_info_alloc(void) {
  auto *ginfo = static_cast<zelkor_group_info *>(calloc(1, sizeof(zelkor_group_info)));
  char *buf = static_cast<char *>(malloc(kInitialBufSize));
  if (ginfo == nullptr || buf == nullptr) {
    free(buf);
    free(ginfo);
    return nullptr;
  }
  ginfo->buf = buf;
  ginfo->buf_sz = kInitialBufSize;
  return ginfo;
}

__attribute__((visibility("default"))) void zelkor_group_info_clear(zelkor_group_info *ginfo) {
  ginfo->group.gr_name = nullptr;
  ginfo->group.gr_passwd = nullptr;
  ginfo->group.gr_gid = 0;
  ginfo->group.gr_mem = nullptr;
}

__attribute__((visibility("default"))) void zelkor_group_info_free(zelkor_group_info *ginfo) {
  free(ginfo->buf);
  free(ginfo);
}

__attribute__((visibility("default"))) int zelkor_group_info_fetch(zelkor_group_info *ginfo,
                                                                   gid_t gid) {
  // Emptied once, before the first call only: a call that fails may leave
  // partial data, but callers read group only after a result of 0, and the
  // call that succeeds fills every field.
  zelkor_group_info_clear(ginfo);
  for (;;) {
    group *result = nullptr;
    const int ret = getgrgid_r(gid, &ginfo->group, ginfo->buf, ginfo->buf_sz, &result);
    if (ret == 0) return result != nullptr ? 0 : ENOENT;
    if (ret == EINTR) continue;
    if (ret != ERANGE) return getgrgid_error_translate(ret);
    if (ginfo->buf_sz >= kMaxBufSize) return ENOMEM;
    const int grow_ret = grow_buffer(ginfo);
    if (grow_ret != 0) return grow_ret;
  }
}

}  // extern "C"
