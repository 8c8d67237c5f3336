// kernels.h -- the aarch64 kernels, by polynomial and instruction set.  Each
// entry point carries its own target; aarch64/tier_table.h says where each
// runs.
#ifndef ZELKOR_UTIL_CRC_AARCH64_KERNELS_H
#define ZELKOR_UTIL_CRC_AARCH64_KERNELS_H

#include "../kernel.h"

namespace zelkor {

// Three chains of the CRC instruction (crc32cx, crc32x): latency 2-3, one
// issue a cycle (Neoverse N1/V1/V2, Apple); PMULL joins the streams of a
// lone chunk.
ZELKOR_KERNEL(crc32c_armv8_crc_x3, 3);
ZELKOR_KERNEL(crc32_zlib_armv8_crc_x3, 3);

// Long chunks on eight accumulators of PMULL folds, short ones on the three
// chains (Neoverse V1-V3: four PMULL a cycle; Apple: PMULL fused with EOR).
ZELKOR_KERNEL(crc32c_armv8_pmull, 3);
ZELKOR_KERNEL(crc32_zlib_armv8_pmull, 3);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_AARCH64_KERNELS_H
