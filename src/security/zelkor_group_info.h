/* zelkor_group_info.h -- reusable lookup record for one group entry by gid.
 *
 * A record owns a heap buffer for getgrgid_r.  The buffer starts at 8192
 * bytes and doubles on demand up to 2097152 bytes; it never shrinks, so a
 * record reused for many lookups allocates only when an entry outgrows it.
 * This header is plain C so that C and C++ callers share it. */
#ifndef ZELKOR_SECURITY_ZELKOR_GROUP_INFO_H
#define ZELKOR_SECURITY_ZELKOR_GROUP_INFO_H

#include <grp.h>
#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Callers read the fields directly.  The strings and the member array that
 * group points to lie inside buf: they are valid only until the next fetch,
 * clear or free of the record, and only after a fetch that returned 0. */
struct zelkor_group_info {
  size_t buf_sz;      /* size of buf: 8192, then doubled, at most 2097152 */
  struct group group; /* the entry found by the last successful fetch */
  char *buf;          /* storage for the strings and members of group */
};

/* A new record with an empty group and an 8192-byte buffer, or NULL when
 * memory runs out (nothing stays allocated then). */
struct zelkor_group_info *zelkor_group_info_alloc(void);

/* Empties group (null pointers, gid 0); buf and buf_sz are kept. */
void zelkor_group_info_clear(struct zelkor_group_info *ginfo);

/* Releases the buffer and the record. */
void zelkor_group_info_free(struct zelkor_group_info *ginfo);

/* Fills ginfo->group with the entry for gid, growing the buffer as needed.
 * Returns 0, or ENOENT (no such group, or a lookup failure other than the
 * ones below), ENOMEM (entry larger than 2097152 bytes, or no memory to
 * grow), EIO, ENFILE or EMFILE.  Interrupted lookups are repeated. */
int zelkor_group_info_fetch(struct zelkor_group_info *ginfo, gid_t gid);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_SECURITY_ZELKOR_GROUP_INFO_H */
