// kernel.h -- the record through which bulk_crc reaches a per-chunk kernel.
//
// A kernel computes the stored words (htonl(~crc)) of many chunks at once,
// with more independent chains than the three-register routine shape allows.
// The driver uses one only while the type's slot still holds the routine
// that the kernel stands for (its `owner`), so a routine that a caller
// installed is always honoured.  The tier module fills the records once, at
// load time; the driver only reads them.
#ifndef ZELKOR_UTIL_CRC_KERNEL_H
#define ZELKOR_UTIL_CRC_KERNEL_H

#include <cstddef>
#include <cstdint>

#include "../bulk_crc32_internal.h"

namespace zelkor {

// Stored words of n_chunks whole chunks of chunk_size bytes, back to back,
// into words[0 .. n_chunks).  Any chunk size (0 included) and alignment.
using crc_chunks_fn = void (*)(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                               uint32_t *words);
// Stored word of one chunk of any length (a partial or lone chunk).
using crc_one_fn = uint32_t (*)(const uint8_t *data, size_t len);

struct crc_kernel {
  crc_pipelined_func_t owner;  // the slot value under which the kernel may run
  crc_chunks_fn chunks;        // null: no kernel, the driver takes the slot
  crc_one_fn one;
};

extern crc_kernel crc32c_kernel;
extern crc_kernel crc32_zlib_kernel;

// Every kernel walks its chunks in groups whose size divides this; a caller
// that hands over a multiple of it never leaves a kernel with a short group.
inline constexpr size_t kKernelGroupMultiple = 12;

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_KERNEL_H
