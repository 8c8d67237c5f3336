// kernel.h -- the record through which bulk_crc reaches a per-chunk kernel,
// and the shape of every kernel's entry points.
//
// A kernel computes the stored words of many chunks at once, with more
// independent chains than the three-register routine shape allows.  The
// tier module fills the records once, at load time; the driver only reads
// them.
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
// The running register after data[0, len), continued from reg: a chunk's
// register from kRegisterInit (a partial or lone chunk of any length), or a
// CRC over data that arrives in pieces.  Neither inverted nor swapped.
using crc_one_fn = uint32_t (*)(uint32_t reg, const uint8_t *data, size_t len);

// The same for a 64-bit register (CRC-64/NVME): continued from reg, which
// starts at all ones; neither inverted nor swapped.
using crc64_one_fn = uint64_t (*)(uint64_t reg, const uint8_t *data, size_t len);

// What a kernel offers.  A polynomial whose kernels have no per-chunk words
// leaves `chunks` null; a 64-bit one has only `one64`.
struct crc_entries {
  crc_chunks_fn chunks;
  crc_one_fn one;
  crc64_one_fn one64 = nullptr;
};

// A kernel stands for a slot routine: it computes exactly the words that
// routine would, faster.  Code linked with the engine can still put its own
// routine into a slot (the slots are extern "C" and writable, and callers
// have done so to instrument or replace the engine), so the driver runs the
// kernel only while the slot still holds the routine it stands for, its
// `owner`; any other routine is called as always, three chunks at a time.
struct crc_kernel {
  crc_pipelined_func_t owner;  // the slot value under which the kernel may run
  crc_chunks_fn chunks;        // null: no kernel, the driver takes the slot
  crc_one_fn one;
  size_t group;  // the chunks its loop walks at a time
};

extern crc_kernel crc32c_kernel;
extern crc_kernel crc32_zlib_kernel;

// CRC-64/NVME has no slot and no stored words: only its kernel, which the
// tier module sets at load time (the table path until then).
extern crc64_one_fn crc64_nvme_kernel;

// A checksum type's slot routine and kernel record, read once per call;
// false for an unknown type.
inline bool engine_of(int checksum_type, crc_pipelined_func_t &routine,
                      const crc_kernel *&kernel) {
  switch (checksum_type) {
    case CRC32C_POLYNOMIAL:
      routine = pipelined_crc32c_func;
      kernel = &crc32c_kernel;
      return true;
    case CRC32_ZLIB_POLYNOMIAL:
      routine = pipelined_crc32_zlib_func;
      kernel = &crc32_zlib_kernel;
      return true;
    default:
      return false;
  }
}

// Every kernel walks its chunks in groups whose size divides this; a caller
// that hands over a multiple of it never leaves a kernel with a short group.
inline constexpr size_t kKernelGroupMultiple = 48;

}  // namespace zelkor

// Declares a kernel's entry points, <name>_chunks and <name>_one, and
// <name>_group, the chunks its loop walks at a time (which its table row
// carries, and the tier module checks against kKernelGroupMultiple).
#define ZELKOR_KERNEL(name, group)                                                    \
  inline constexpr size_t name##_group = group;                                       \
  void name##_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,         \
                     uint32_t *words);                                                \
  uint32_t name##_one(uint32_t reg, const uint8_t *data, size_t len)

// Declares a 64-bit kernel's entry point, <name>_one.
#define ZELKOR_KERNEL64(name) uint64_t name##_one(uint64_t reg, const uint8_t *data, size_t len)

#endif  // ZELKOR_UTIL_CRC_KERNEL_H
