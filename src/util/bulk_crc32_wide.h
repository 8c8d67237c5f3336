// bulk_crc32_wide.h -- wide per-chunk CRC kernels and the state that picks them.
//
// A kernel computes the stored words (htonl(~crc)) of many chunks at once,
// with more independent chains than the three-register routine shape allows.
// The driver uses one only while the type's slot still holds the routine the
// engine itself put there (the kernel's `owner`), so a routine installed by a
// caller is always honoured.  The selection is made once, at load time, by
// the hardware module's constructor; tests may force another tier.
#ifndef ZELKOR_UTIL_BULK_CRC32_WIDE_H
#define ZELKOR_UTIL_BULK_CRC32_WIDE_H

#include <cstddef>
#include <cstdint>

#include "bulk_crc32_internal.h"

namespace zelkor {

// Stored words of n_chunks whole chunks of chunk_size bytes, back to back.
using crc_chunks_fn = void (*)(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                               uint32_t *words);
// Stored word of one chunk of any length (a partial or lone chunk).
using crc_one_fn = uint32_t (*)(const uint8_t *data, size_t len);

struct wide_kernel {
  crc_pipelined_func_t owner;  // the slot value under which the kernel may run
  crc_chunks_fn chunks;        // null: no kernel, the driver takes the slot
  crc_one_fn one;
};

// Read by bulk_crc on every call; written only at load time (and by the test
// hook).  Constant-initialised to "no kernel" in the driver's module.
extern wide_kernel wide_crc32c_kernel;
extern wide_kernel wide_crc32_kernel;  // CRC-32 kernels plug in here the same way

// What the processor and the operating system offer, read once at load.
struct cpu_features {
  bool amd;  // AuthenticAMD or HygonGenuine
  unsigned family, model;  // display family and model
  bool ssse3, sse41, sse42, pclmul, avx2, vpclmulqdq, avx512f, avx512bw, avx512vl;
  bool ymm_state, zmm_state;  // enabled by the OS (XCR0), read only under OSXSAVE
};

// CRC32C tiers, slowest first.
enum class crc32c_tier : int {
  specified = 0,  // no kernel: the slot's routine, three chunks at a time
  crc32_x3,       // CRC32 on 3 chains (one CRC32 unit of latency 3: Intel, Zen 1-4)
  crc32_x12,      // CRC32 on 12 chains (three CRC32 units: Zen 5)
  hybrid_avx2,    // 3 chunks on CRC32 chains beside 3 folded with 256-bit VPCLMULQDQ
};
inline const char *crc32c_tier_name(crc32c_tier tier) {
  switch (tier) {
    case crc32c_tier::specified: return "specified (slot routine, 3 chunks at a time)";
    case crc32c_tier::crc32_x3: return "crc32_x3 (CRC32 on 3 chains)";
    case crc32c_tier::crc32_x12: return "crc32_x12 (CRC32 on 12 chains)";
    case crc32c_tier::hybrid_avx2: return "hybrid_avx2 (CRC32 on 3 chains + 256-bit carry-less folds)";
  }
  return "?";
}

#if defined(__x86_64__)

cpu_features read_cpu_features();  // CPUID, and XGETBV where OSXSAVE allows
crc32c_tier choose_crc32c_tier(const cpu_features &f);

// Load-time selection: reads the features, keeps them, installs the kernels.
// Called by init_cpu_support_flag after it has set the CRC32C slot.
void wide_select_at_load();

// Kernels (each carries its own target attribute).
void crc32c_x3_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks, uint32_t *words);
uint32_t crc32c_x3_one(const uint8_t *data, size_t len);
void crc32c_x12_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                       uint32_t *words);
uint32_t crc32c_x12_one(const uint8_t *data, size_t len);
void crc32c_hybrid_avx2_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                               uint32_t *words);
uint32_t crc32c_hybrid_avx2_one(const uint8_t *data, size_t len);

#endif  // __x86_64__

// CRC-32 tiers, slowest first: the tables, or a carry-less-multiply fold.
enum class crc32_tier : int {
  specified = 0,  // no kernel: the slot's table routine, three chunks at a time
  pclmul,         // 128-bit PCLMULQDQ folds
  vpclmul_avx2,   // 256-bit VPCLMULQDQ folds
};
inline const char *crc32_tier_name(crc32_tier tier) {
  switch (tier) {
    case crc32_tier::specified: return "specified (slot routine, 3 chunks at a time)";
    case crc32_tier::pclmul: return "pclmul (128-bit carry-less folds)";
    case crc32_tier::vpclmul_avx2: return "vpclmul_avx2 (256-bit carry-less folds)";
  }
  return "?";
}

// The tiers in use, and the test hooks: each installs `tier` if this
// processor can run it and returns whether it did.  Not for production
// callers: they write the state that bulk_crc reads without synchronisation.
crc32c_tier wide_crc32c_tier();
bool wide_force_crc32c_tier(crc32c_tier tier);
crc32_tier wide_crc32_tier();
bool wide_force_crc32_tier(crc32_tier tier);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_BULK_CRC32_WIDE_H
