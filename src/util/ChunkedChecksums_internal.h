// ChunkedChecksums_internal.h -- the bounds that the module's tests check, and
// the probe of the host's critical holds that Crc64Nvme.cc shares.
#ifndef ZELKOR_UTIL_CHUNKEDCHECKSUMS_INTERNAL_H
#define ZELKOR_UTIL_CHUNKEDCHECKSUMS_INTERNAL_H

#include <cstddef>

#include <jni.h>

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

// A host that hands out a copy of the whole array at every critical hold
// (-Xcheck:jni does, and reports isCopy false all the same) would make one
// hold per slice cost the square of the array's length.  There the arrays
// of a call are copied with Get/SetByteArrayRegion instead, this many bytes
// of data and at most this many of words at a time, through one buffer on
// the heap; a chunk longer than a piece has its CRC continued over pieces.
// Nothing is held then, and the copies add up to one of each array.
inline constexpr size_t kRegionPieceBytes = size_t{256} << 10;

// Composing needs only the words, and far fewer of them than a hold's worth
// of data, so an array's words are copied out with GetByteArrayRegion
// instead: the collector is never held, and the copy goes to the stack this
// many bytes at a time (4096 words), each piece composed and joined to the
// CRC so far.
inline constexpr size_t kComposePieceBytes = size_t{16} << 10;

// Whether the host's critical holds hand out copies of the whole array
// rather than pin it: 1 or 0, or -1 with an exception pending.  Costs one
// new array of one byte and two holds of it.
int critical_holds_copy(JNIEnv *env);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CHUNKEDCHECKSUMS_INTERNAL_H
