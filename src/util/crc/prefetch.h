// prefetch.h -- fetching ahead what several chunks walked side by side read.
#ifndef ZELKOR_UTIL_CRC_PREFETCH_H
#define ZELKOR_UTIL_CRC_PREFETCH_H

#include <cstddef>
#include <cstdint>

namespace zelkor {

// Data that does not fit the caches is fetched ahead by software: several
// chunks walked side by side are too many streams for the hardware
// prefetcher, which then leaves every line to a demand miss.  In cache the
// extra instructions only cost, so calls over less than kPrefetchMin bytes
// do without.  A prefetch past the buffer's end is harmless (it never
// faults); the address is formed as an integer, not as a pointer past it.
inline constexpr size_t kPrefetchMin = 4u << 20;
inline constexpr size_t kPrefetchAhead = 2;  // in groups (or rounds) of the loop

// Fetches `bytes` bytes from `ahead` bytes after p.  Always inlined: a
// call to it would be dropped, since a prefetch has no effect that the
// compiler counts.
[[gnu::always_inline]] inline void prefetch_range(const uint8_t *p, size_t ahead, size_t bytes) {
  const uintptr_t from = reinterpret_cast<uintptr_t>(p) + ahead;
  for (size_t off = 0; off < bytes; off += 64)
    __builtin_prefetch(reinterpret_cast<const void *>(from + off), 0, 3);
}

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_PREFETCH_H
