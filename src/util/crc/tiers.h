// tiers.h -- which kernel each checksum type runs, chosen once at load time.
//
// A tier is a kernel together with the processor features it needs.  Each
// polynomial has its own list, slowest first; `specified` means no kernel:
// the driver calls the type's slot routine three chunks at a time.  The
// choice is made by the hardware module's constructor, from the features
// read then; tests may force another tier that this processor runs.
#ifndef ZELKOR_UTIL_CRC_TIERS_H
#define ZELKOR_UTIL_CRC_TIERS_H

#include "cpu_features.h"

namespace zelkor {

enum class crc32c_tier : int {
  // aarch64 (numbered apart from the x86-64 tiers, which never meet them)
  armv8_crc_x3 = 100,  // crc32cx on 3 chains
  armv8_pmull,         // long chunks on PMULL folds, short ones on the chains
  specified = 0,
  sse42_x3,     // CRC32 on 3 chains
  sse42_x12,    // CRC32 on 12 chains
  hybrid_avx2,  // CRC32 on 3 chains beside 3 chunks folded with 256-bit VPCLMULQDQ
};

enum class crc32_zlib_tier : int {
  // aarch64 (numbered apart from the x86-64 tiers, which never meet them)
  armv8_crc_x3 = 100,  // crc32x on 3 chains
  armv8_pmull,         // long chunks on PMULL folds, short ones on the chains
  specified = 0,
  pclmul,        // 128-bit PCLMULQDQ folds
  vpclmul_avx2,  // 256-bit VPCLMULQDQ folds
};

const char *tier_name(crc32c_tier tier);
const char *tier_name(crc32_zlib_tier tier);

// Whether a processor and OS with these features can run the tier.
bool runs_here(crc32c_tier tier, const cpu_features &f);
bool runs_here(crc32_zlib_tier tier, const cpu_features &f);

// The tier for a processor with these features.
crc32c_tier choose_crc32c_tier(const cpu_features &f);
crc32_zlib_tier choose_crc32_zlib_tier(const cpu_features &f);

// Reads the features and installs both choices.  Called once, by the
// load-time constructor, after it has set the CRC32C slot.
void select_tiers_at_load();

// Test hooks.  The tier in force; and force_tier installs `tier` if this
// processor runs it and says whether it did.  Forcing writes what bulk_crc
// reads without synchronisation: never while another thread may be inside.
crc32c_tier crc32c_tier_in_force();
crc32_zlib_tier crc32_zlib_tier_in_force();
bool force_tier(crc32c_tier tier);
bool force_tier(crc32_zlib_tier tier);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_TIERS_H
