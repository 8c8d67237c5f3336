// tier_table.h -- the x86-64 kernels, the tiers that run them, and which
// tier each processor gets.
//
// The kernels include it for their own declarations, the tier module for
// the rows; tests reach the rows through tiers.h.  Adding a kernel: its
// source file, its declaration and row here, its line in src/CMakeLists.txt.
#ifndef ZELKOR_UTIL_CRC_X86_TIER_TABLE_H
#define ZELKOR_UTIL_CRC_X86_TIER_TABLE_H

#include "../tiers.h"

namespace zelkor {

// The kernels, by polynomial and instruction set, each entry point with its
// own target (ZELKOR_KERNEL in ../kernel.h).

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
//   10x6s12 AMD Zen 5: three CRC32 units, short chunks on 12 chains
//   3x9s3   one CRC32 unit beside a full-speed 512-bit multiply (Intel
//           Sapphire Rapids and later)
//   3x3s3   one CRC32 unit beside a 512-bit unit of 256-bit speed (AMD Zen 4,
//           Intel Ice Lake)
ZELKOR_KERNEL(crc32c_hybrid_avx2, 6);
ZELKOR_KERNEL(crc32c_hybrid_avx512_10x6s12, 16);
ZELKOR_KERNEL(crc32c_hybrid_avx512_10x6s12_model, 16);
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

// CRC-64/NVME on carry-less folds of 128, 256 and 512 bits, the last with
// its model (x86/crc64_nvme_folds.cc).
ZELKOR_KERNEL64(crc64_nvme_pclmul);
ZELKOR_KERNEL64(crc64_nvme_vpclmul_avx2);
ZELKOR_KERNEL64(crc64_nvme_vpclmul_avx512);
ZELKOR_KERNEL64(crc64_nvme_vpclmul_avx512_model);

}  // namespace zelkor

namespace zelkor::tier_table {

// The chains of a lone chunk are joined by carry-less multiplication.
constexpr bool chains(const cpu_features &f) { return f.sse42 && f.pclmul; }
constexpr bool folds(const cpu_features &f) { return f.pclmul && f.ssse3 && f.sse41; }
constexpr bool wide_vectors(const cpu_features &f) {
  return f.avx2 && f.vpclmulqdq && f.ymm_state;
}
// The 512-bit kernels use byte masks (BW) and 128/256-bit forms of AVX-512
// instructions (VL); the OS must save the ZMM registers and the masks.
constexpr bool widest_vectors(const cpu_features &f) {
  return wide_vectors(f) && f.avx512f && f.avx512bw && f.avx512vl && f.zmm_state;
}
// A CRC32C hybrid's model: the chains, and 128-bit folds.
constexpr bool chains_and_folds(const cpu_features &f) { return chains(f) && f.sse41; }
constexpr bool hybrid_avx2(const cpu_features &f) { return chains(f) && wide_vectors(f); }
constexpr bool hybrid_avx512(const cpu_features &f) { return chains(f) && widest_vectors(f); }
constexpr bool vpclmul_avx2(const cpu_features &f) { return folds(f) && wide_vectors(f); }
constexpr bool vpclmul_avx512(const cpu_features &f) { return folds(f) && widest_vectors(f); }

inline constexpr tier_row kRows[] = {
    ZELKOR_SLOT_ROUTINE_ROWS,
    // CRC32C
    {.poly = crc_poly::crc32c, ZELKOR_TIER_TITLE("sse42_x3", "CRC32 on 3 chains"),
     .needs = chains, .native = ZELKOR_ENTRIES(crc32c_sse42_x3), .group = crc32c_sse42_x3_group},
    {.poly = crc_poly::crc32c, ZELKOR_TIER_TITLE("sse42_x12", "CRC32 on 12 chains"),
     .needs = chains, .native = ZELKOR_ENTRIES(crc32c_sse42_x12),
     .group = crc32c_sse42_x12_group},
    {.poly = crc_poly::crc32c,
     ZELKOR_TIER_TITLE("hybrid_avx2", "CRC32 on 3 chains + 256-bit carry-less folds"),
     .needs = hybrid_avx2, .native = ZELKOR_ENTRIES(crc32c_hybrid_avx2),
     .group = crc32c_hybrid_avx2_group},
    {.poly = crc_poly::crc32c,
     ZELKOR_TIER_TITLE("hybrid_avx512_3x3s3",
                       "CRC32 on 3 chains + 3 chunks on 512-bit carry-less folds"),
     .needs = hybrid_avx512, .native = ZELKOR_ENTRIES(crc32c_hybrid_avx512_3x3s3),
     .model = ZELKOR_ENTRIES(crc32c_hybrid_avx512_3x3s3_model), .model_needs = chains_and_folds,
     .group = crc32c_hybrid_avx512_3x3s3_group},
    {.poly = crc_poly::crc32c,
     ZELKOR_TIER_TITLE("hybrid_avx512_3x9s3",
                       "CRC32 on 3 chains + 9 chunks on 512-bit carry-less folds"),
     .needs = hybrid_avx512, .native = ZELKOR_ENTRIES(crc32c_hybrid_avx512_3x9s3),
     .model = ZELKOR_ENTRIES(crc32c_hybrid_avx512_3x9s3_model), .model_needs = chains_and_folds,
     .group = crc32c_hybrid_avx512_3x9s3_group},
    {.poly = crc_poly::crc32c,
     ZELKOR_TIER_TITLE("hybrid_avx512_10x6s12",
                       "CRC32 on 10 chains + 6 chunks on 512-bit carry-less folds, "
                       "short chunks on 12 chains"),
     .needs = hybrid_avx512, .native = ZELKOR_ENTRIES(crc32c_hybrid_avx512_10x6s12),
     .model = ZELKOR_ENTRIES(crc32c_hybrid_avx512_10x6s12_model), .model_needs = chains_and_folds,
     .group = crc32c_hybrid_avx512_10x6s12_group},
    // CRC-32 (zlib)
    {.poly = crc_poly::crc32_zlib, ZELKOR_TIER_TITLE("pclmul", "128-bit carry-less folds"),
     .needs = folds, .native = ZELKOR_ENTRIES(crc32_zlib_pclmul),
     .group = crc32_zlib_pclmul_group},
    {.poly = crc_poly::crc32_zlib, ZELKOR_TIER_TITLE("vpclmul_avx2", "256-bit carry-less folds"),
     .needs = vpclmul_avx2, .native = ZELKOR_ENTRIES(crc32_zlib_vpclmul_avx2),
     .group = crc32_zlib_vpclmul_avx2_group},
    {.poly = crc_poly::crc32_zlib,
     ZELKOR_TIER_TITLE("vpclmul_avx512", "512-bit carry-less folds"),
     .needs = vpclmul_avx512, .native = ZELKOR_ENTRIES(crc32_zlib_vpclmul_avx512),
     .model = ZELKOR_ENTRIES(crc32_zlib_vpclmul_avx512_model), .model_needs = folds,
     .group = crc32_zlib_vpclmul_avx512_group},
    // CRC-64/NVME
    {.poly = crc_poly::crc64_nvme, ZELKOR_TIER_TITLE("pclmul", "128-bit carry-less folds"),
     .needs = folds, .native = ZELKOR_ENTRIES64(crc64_nvme_pclmul)},
    {.poly = crc_poly::crc64_nvme, ZELKOR_TIER_TITLE("vpclmul_avx2", "256-bit carry-less folds"),
     .needs = vpclmul_avx2, .native = ZELKOR_ENTRIES64(crc64_nvme_vpclmul_avx2)},
    {.poly = crc_poly::crc64_nvme, ZELKOR_TIER_TITLE("vpclmul_avx512", "512-bit carry-less folds"),
     .needs = vpclmul_avx512, .native = ZELKOR_ENTRIES64(crc64_nvme_vpclmul_avx512),
     .model = ZELKOR_ENTRIES64(crc64_nvme_vpclmul_avx512_model), .model_needs = folds},
};

consteval const tier_row &row(crc_poly poly, std::string_view name) {
  return row_named(kRows, poly, name);
}

// A table of processor families: what each needs to keep its units busy.
// - One CRC32 unit of latency 3 (Intel since Nehalem, AMD Zen 1-4): three
//   chains saturate it.  Zen 5 (AMD family 0x1A) has three and wants 9+.
// - Beside the chains, chunks folded with carry-less multiplication run on
//   the vector unit and add their rate: with 512-bit VPCLMULQDQ (Zen 4 and
//   5, Intel since Ice Lake) split as below, else with 256-bit (Zen 3) three
//   chains beside three folded chunks (measured on Zen 3 about 1.4x the
//   chains alone at 512-byte chunks).
// - Without VPCLMULQDQ: 12 chains on Zen 5, 3 elsewhere.
// The 512-bit hybrid's split between CRC32 chains and folded chunks:
// - Zen 5 (AMD 0x1A and later): three CRC32 units of latency 3 (nine
//   chains or more keep them busy) and a 512-bit fold every two cycles, on
//   units that do not compete.  Per 64-byte window of a group the chains
//   need 8K/3 cycles and the folds 4M: 10 beside 6 balances them (measured
//   28 bytes a cycle in L1 at 512-byte chunks, against 27 for 9 beside 3
//   and 20 for 3 beside 9, which the multiplier holds back), and a group of
//   16 leaves no chunk over in buffers of a power of two.  Lone chunks take
//   the same split (28 bytes a cycle at 16 KiB); chunks below 128 bytes go
//   faster on 12 chains alone.
// - Intel Sapphire Rapids (family 6, model 0x8F) and its successors issue a
//   512-bit multiply every cycle beside one CRC32 unit: 3 chains, 9 folded.
// - Zen 4 (512 bits as two 256-bit halves), Ice Lake and Tiger Lake (a
//   512-bit multiply at half rate): 3 chains, 3 folded.
// Without the chains' features the slot routine stays in charge.
constexpr const tier_row &choose_crc32c(const cpu_features &f) {
  constexpr crc_poly c = crc_poly::crc32c;
  if (!chains(f)) return row(c, "slot_routine");
  const bool zen5 = f.amd && f.family >= 0x1A;
  if (hybrid_avx512(f)) {
    if (zen5) return row(c, "hybrid_avx512_10x6s12");
    if (f.intel && f.family == 6) {
      switch (f.model) {
        case 0x8F:  // Sapphire Rapids
        case 0xCF:  // Emerald Rapids
        case 0xAD:  // Granite Rapids
        case 0xAE:
          return row(c, "hybrid_avx512_3x9s3");
      }
    }
    return row(c, "hybrid_avx512_3x3s3");
  }
  if (zen5) return row(c, "sse42_x12");
  if (hybrid_avx2(f)) return row(c, "hybrid_avx2");
  return row(c, "sse42_x3");
}

// CRC-32 has no instruction of its own: the widest fold the processor runs,
// else the tables.
constexpr const tier_row &choose_crc32_zlib(const cpu_features &f) {
  constexpr crc_poly z = crc_poly::crc32_zlib;
  if (vpclmul_avx512(f)) return row(z, "vpclmul_avx512");
  if (vpclmul_avx2(f)) return row(z, "vpclmul_avx2");
  if (folds(f)) return row(z, "pclmul");
  return row(z, "slot_routine");
}

// CRC-64 likewise, else its tables.
constexpr const tier_row &choose_crc64_nvme(const cpu_features &f) {
  constexpr crc_poly n = crc_poly::crc64_nvme;
  if (vpclmul_avx512(f)) return row(n, "vpclmul_avx512");
  if (vpclmul_avx2(f)) return row(n, "vpclmul_avx2");
  if (folds(f)) return row(n, "pclmul");
  return row(n, "table");
}

constexpr const tier_row &choose(crc_poly poly, const cpu_features &f) {
  switch (poly) {
    case crc_poly::crc32c: return choose_crc32c(f);
    case crc_poly::crc32_zlib: return choose_crc32_zlib(f);
    case crc_poly::crc64_nvme: return choose_crc64_nvme(f);
  }
  return choose_crc32c(f);
}

}  // namespace zelkor::tier_table

#endif  // ZELKOR_UTIL_CRC_X86_TIER_TABLE_H
