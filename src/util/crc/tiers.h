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
  hybrid_avx512,  // CRC32 chains beside chunks folded with 512-bit VPCLMULQDQ, split by family
};

enum class crc32_zlib_tier : int {
  // aarch64 (numbered apart from the x86-64 tiers, which never meet them)
  armv8_crc_x3 = 100,  // crc32x on 3 chains
  armv8_pmull,         // long chunks on PMULL folds, short ones on the chains
  specified = 0,
  pclmul,        // 128-bit PCLMULQDQ folds
  vpclmul_avx2,  // 256-bit VPCLMULQDQ folds
  vpclmul_avx512,  // 512-bit VPCLMULQDQ folds
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

// A 512-bit tier's kernels also exist as a model on 128-bit operations (see
// crc/v512.h), which computes the same words wherever PCLMULQDQ and SSE4.1
// exist.  force_tier_model installs the model of `tier` if it has one and
// this processor runs it, and says whether it did; force_tier puts native
// kernels back.  Whether the tier in force runs as its model:
bool force_tier_model(crc32_zlib_tier tier);
bool crc32_zlib_model_in_force();
bool force_tier_model(crc32c_tier tier);
bool crc32c_model_in_force();

// How the CRC32C 512-bit hybrid splits a group between CRC32 chains and
// folded chunks on a processor with these features (a family table).
enum class hybrid_split : int { k3m9s12, k3m9s3, k3m3s3 };
hybrid_split choose_hybrid_split(const cpu_features &f);
const char *split_name(hybrid_split split);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_TIERS_H
