// ChunkedChecksums_internal.h -- the bound that the module's tests check.
#ifndef ZELKOR_UTIL_CHUNKEDCHECKSUMS_INTERNAL_H
#define ZELKOR_UTIL_CHUNKEDCHECKSUMS_INTERNAL_H

#include <cstddef>

namespace zelkor {

// While a heap array is held with GetPrimitiveArrayCritical, a garbage
// collection that needs to move objects waits (HotSpot's GC locker), and so
// does every thread that allocates behind it.  So each hold covers one slice
// of whole chunks: at most this many bytes of data, and of checksum words.
// 1 MiB is about 50 us of CRC at the vector tiers and about 1 ms on the
// table routines, within a young collection's usual pause, while the get and
// release pair (tens of nanoseconds, the only cost of slicing) stays below
// a thousandth of the slice's own time.  A chunk longer than the bound is a
// slice of its own: a chunk's CRC cannot be split across holds.
inline constexpr size_t kCriticalSliceBytes = size_t{1} << 20;

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CHUNKEDCHECKSUMS_INTERNAL_H
