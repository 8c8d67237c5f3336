// kernels.h -- the x86-64 kernels, by polynomial and instruction set.  Each
// entry point carries its own target; x86/tier_table.h says where each runs.
#ifndef ZELKOR_UTIL_CRC_X86_KERNELS_H
#define ZELKOR_UTIL_CRC_X86_KERNELS_H

#include "../kernel.h"

namespace zelkor {

// CRC32C on chains of the SSE4.2 CRC32 instruction (PCLMULQDQ joins the
// streams of a lone chunk): 3 for one CRC32 unit of latency 3 (Intel, AMD
// Zen 1-4), 12 for three units (AMD Zen 5).
ZELKOR_KERNEL(crc32c_sse42_x3, 3);
ZELKOR_KERNEL(crc32c_sse42_x12, 12);

// CRC32C on CRC32 chains beside chunks folded with carry-less multiplication
// (x86/crc32c_hybrid_body.h): three chains beside three chunks on 256-bit
// VPCLMULQDQ (AVX2); on 512-bit VPCLMULQDQ (AVX-512) one kernel per split of
// a group, chains x folded chunks and the chains that take chunks too short
// to fold, each with its model on 128-bit operations (x86/v512.h):
//   3x9s12  AMD Zen 5: three CRC32 units, short chunks on 12 chains
//   3x9s3   one CRC32 unit beside a full-speed 512-bit multiply (Intel
//           Sapphire Rapids and later)
//   3x3s3   one CRC32 unit beside a 512-bit unit of 256-bit speed (AMD Zen 4,
//           Intel Ice Lake)
ZELKOR_KERNEL(crc32c_hybrid_avx2, 6);
ZELKOR_KERNEL(crc32c_hybrid_avx512_3x9s12, 12);
ZELKOR_KERNEL(crc32c_hybrid_avx512_3x9s12_model, 12);
ZELKOR_KERNEL(crc32c_hybrid_avx512_3x9s3, 12);
ZELKOR_KERNEL(crc32c_hybrid_avx512_3x9s3_model, 12);
ZELKOR_KERNEL(crc32c_hybrid_avx512_3x3s3, 6);
ZELKOR_KERNEL(crc32c_hybrid_avx512_3x3s3_model, 6);

// CRC-32 (zlib) on carry-less folds of 128, 256 and 512 bits, four chunks
// sharing one batched reduction; the 512-bit kernel with its model.
ZELKOR_KERNEL(crc32_zlib_pclmul, 4);
ZELKOR_KERNEL(crc32_zlib_vpclmul_avx2, 4);
ZELKOR_KERNEL(crc32_zlib_vpclmul_avx512, 4);
ZELKOR_KERNEL(crc32_zlib_vpclmul_avx512_model, 4);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_X86_KERNELS_H
