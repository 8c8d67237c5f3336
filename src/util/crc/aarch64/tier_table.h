// tier_table.h -- the aarch64 kernels, the tiers that run them, and which
// tier each processor gets.
//
// The kernels include it for their own declarations, the tier module for
// the rows; tests reach the rows through tiers.h.  Adding a kernel: its
// source file, its declaration and row here, its line in src/CMakeLists.txt.
#ifndef ZELKOR_UTIL_CRC_AARCH64_TIER_TABLE_H
#define ZELKOR_UTIL_CRC_AARCH64_TIER_TABLE_H

#include "../tiers.h"

namespace zelkor {

// The kernels, by polynomial and instruction set, each entry point with its
// own target (ZELKOR_KERNEL in ../kernel.h).

// Three chains of the CRC instruction (crc32cx, crc32x): latency 2-3, one
// issue a cycle (Neoverse N1/V1/V2, Apple); PMULL joins the streams of a
// lone chunk.
ZELKOR_KERNEL(crc32c_armv8_crc_x3, 3);
ZELKOR_KERNEL(crc32_zlib_armv8_crc_x3, 3);

// Long chunks on eight accumulators of PMULL folds, short ones on the three
// chains (Neoverse V1-V3: four PMULL a cycle; Apple: PMULL fused with EOR).
ZELKOR_KERNEL(crc32c_armv8_pmull, 3);
ZELKOR_KERNEL(crc32_zlib_armv8_pmull, 3);

// CRC-64/NVME on eight accumulators of PMULL folds (crc64_nvme_pmull.cc).
ZELKOR_KERNEL64(crc64_nvme_pmull);

}  // namespace zelkor

namespace zelkor::tier_table {

// Both kernels need both: the chains of a lone chunk are joined by PMULL,
// and the folds end on the CRC instruction.
constexpr bool crc_and_pmull(const cpu_features &f) { return f.arm_crc32 && f.arm_pmull; }

inline constexpr tier_row kRows[] = {
    ZELKOR_SLOT_ROUTINE_ROWS,
    {.poly = crc_poly::crc32c, ZELKOR_TIER_TITLE("armv8_crc_x3", "crc32cx on 3 chains"),
     .needs = crc_and_pmull, .native = ZELKOR_ENTRIES(crc32c_armv8_crc_x3),
     .group = crc32c_armv8_crc_x3_group},
    {.poly = crc_poly::crc32c,
     ZELKOR_TIER_TITLE("armv8_pmull", "PMULL folds, crc32cx on short chunks"),
     .needs = crc_and_pmull, .native = ZELKOR_ENTRIES(crc32c_armv8_pmull),
     .group = crc32c_armv8_pmull_group},
    {.poly = crc_poly::crc32_zlib, ZELKOR_TIER_TITLE("armv8_crc_x3", "crc32x on 3 chains"),
     .needs = crc_and_pmull, .native = ZELKOR_ENTRIES(crc32_zlib_armv8_crc_x3),
     .group = crc32_zlib_armv8_crc_x3_group},
    {.poly = crc_poly::crc32_zlib,
     ZELKOR_TIER_TITLE("armv8_pmull", "PMULL folds, crc32x on short chunks"),
     .needs = crc_and_pmull, .native = ZELKOR_ENTRIES(crc32_zlib_armv8_pmull),
     .group = crc32_zlib_armv8_pmull_group},
    {.poly = crc_poly::crc64_nvme, ZELKOR_TIER_TITLE("pmull", "PMULL folds"),
     .needs = [](const cpu_features &f) { return f.arm_pmull; },
     .native = ZELKOR_ENTRIES64(crc64_nvme_pmull)},
};

consteval const tier_row &row(crc_poly poly, std::string_view name) {
  return row_named(kRows, poly, name);
}

// Cores that issue four PMULL a cycle (Neoverse V1, V2, V3 and V3AE) or
// fuse PMULL with EOR (Apple): folds reach about 25-32 bytes a cycle there,
// against 8 for the CRC instruction.  On the others (Neoverse N1-N3: one
// PMULL a cycle) folds gain nothing over the chains.
constexpr bool folds_pay(const cpu_features &f) {
  constexpr unsigned kArm = 0x41, kApple = 0x61;
  if (f.arm_implementer == kApple) return true;
  if (f.arm_implementer != kArm) return false;
  switch (f.arm_part) {
    case 0xD40:  // Neoverse V1
    case 0xD4F:  // Neoverse V2
    case 0xD83:  // Neoverse V3AE
    case 0xD84:  // Neoverse V3
      return true;
  }
  return false;
}

// Every core with figures in the notes issues one CRC instruction a cycle
// at a latency of two or three: three chains saturate it.  Where PMULL is
// faster still, long chunks are folded (folds_pay).  Both polynomials have
// an instruction of their own here, so both choose alike.
template <crc_poly P>
constexpr const tier_row &choose_for(const cpu_features &f) {
  if (!crc_and_pmull(f)) return row(P, "slot_routine");
  return folds_pay(f) ? row(P, "armv8_pmull") : row(P, "armv8_crc_x3");
}

constexpr const tier_row &choose(crc_poly poly, const cpu_features &f) {
  switch (poly) {
    case crc_poly::crc32c: return choose_for<crc_poly::crc32c>(f);
    case crc_poly::crc32_zlib: return choose_for<crc_poly::crc32_zlib>(f);
    // No instruction of its own: folds wherever PMULL runs, as even one
    // PMULL a cycle outruns the tables' byte or two a cycle.
    case crc_poly::crc64_nvme:
      return f.arm_pmull ? row(crc_poly::crc64_nvme, "pmull") : row(crc_poly::crc64_nvme, "table");
  }
  return choose_for<crc_poly::crc32c>(f);
}

}  // namespace zelkor::tier_table

#endif  // ZELKOR_UTIL_CRC_AARCH64_TIER_TABLE_H
