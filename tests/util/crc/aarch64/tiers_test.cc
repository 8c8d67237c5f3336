// tiers_test.cc -- the aarch64 feature reader and the choice of tier.
//
// The reader is checked against the kernel's HWCAP bits; the choice against
// a table of made-up AT_HWCAP words and main ID registers.
#include "util/crc/tiers.h"

#include <asm/hwcap.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>

#include <cstdio>
#include <cstdlib>

#include "util/crc/multiply.h"

namespace {

using zelkor::cpu_features;
using zelkor::crc_poly;

// The reader's bits are the kernel's own names for them (asm/hwcap.h).
TEST(FeatureReader, ReadsTheKernelsHwcapBits) {
  const unsigned long hwcap = getauxval(AT_HWCAP);
  const cpu_features f = zelkor::read_cpu_features();
  EXPECT_EQ(f.arm_crc32, (hwcap & HWCAP_CRC32) != 0);
  EXPECT_EQ(f.arm_pmull, (hwcap & HWCAP_PMULL) != 0);
  // Without HWCAP_CPUID the main ID register is not read at all (the read
  // would trap); with it, qemu-user shows a cleaned value, the kernel the
  // core's own.
  if (!(hwcap & HWCAP_CPUID)) {
    EXPECT_EQ(f.arm_implementer, 0u);
    EXPECT_EQ(f.arm_part, 0u);
  }
  std::printf("MIDR: implementer 0x%02X, part 0x%03X\n", f.arm_implementer, f.arm_part);
  // A run that hides bits (tests/harness/run_aarch64.sh) must really hide them.
  if (const char *clear = std::getenv("ZELKOR_HWCAP_CLEAR")) {
    EXPECT_EQ(hwcap & std::strtoul(clear, nullptr, 0), 0u) << "the HWCAP shim is not in force";
  }
}

// Made-up AT_HWCAP words and main ID registers, as the kernel would report
// them for each core.
constexpr uint64_t midr(unsigned implementer, unsigned part) {
  return uint64_t{implementer} << 24 | uint64_t{0xF} << 16 | part << 4;
}

TEST(TierChoice, TableOfHwcapWords) {
  constexpr unsigned long kBase = HWCAP_FP | HWCAP_ASIMD | HWCAP_CPUID;
  constexpr unsigned long kV8 = kBase | HWCAP_AES | HWCAP_PMULL | HWCAP_SHA2 | HWCAP_CRC32;
  constexpr unsigned kArm = 0x41, kApple = 0x61;
  const struct {
    const char *name;
    unsigned long hwcap;
    uint64_t midr;
    const char *crc32c, *crc32;  // the rows chosen
    const char *multiplier;      // and the multiplier
    const char *crc64;
  } cases[] = {
      {"nothing at all", 0, 0, "slot_routine", "slot_routine", "portable", "table"},
      {"ARMv8.0 without extensions", kBase, midr(kArm, 0xD03), "slot_routine", "slot_routine",
       "portable", "table"},
      {"CRC32 without PMULL (Cortex-A53 without crypto)", kBase | HWCAP_CRC32, midr(kArm, 0xD03),
       "slot_routine", "slot_routine", "portable", "table"},
      {"PMULL without CRC32", kBase | HWCAP_AES | HWCAP_PMULL, midr(kArm, 0xD07), "slot_routine",
       "slot_routine", "pmull", "pmull"},
      {"Neoverse N1", kV8 | HWCAP_ATOMICS, midr(kArm, 0xD0C), "armv8_crc_x3", "armv8_crc_x3",
       "pmull", "pmull"},
      {"Neoverse N2", kV8 | HWCAP_SVE, midr(kArm, 0xD49), "armv8_crc_x3", "armv8_crc_x3", "pmull",
       "pmull"},
      {"Neoverse V1", kV8 | HWCAP_SVE, midr(kArm, 0xD40), "armv8_pmull", "armv8_pmull", "pmull",
       "pmull"},
      {"Neoverse V2", kV8 | HWCAP_SVE | HWCAP_SHA3, midr(kArm, 0xD4F), "armv8_pmull", "armv8_pmull",
       "pmull", "pmull"},
      {"Neoverse V3", kV8 | HWCAP_SVE, midr(kArm, 0xD84), "armv8_pmull", "armv8_pmull", "pmull",
       "pmull"},
      {"Apple", kV8, midr(kApple, 0x022), "armv8_pmull", "armv8_pmull", "pmull", "pmull"},
      {"Neoverse V2 with PMULL hidden", kV8 & ~HWCAP_PMULL, midr(kArm, 0xD4F), "slot_routine",
       "slot_routine", "portable", "table"},
      {"a kernel that hides MIDR", kV8 & ~HWCAP_CPUID, 0, "armv8_crc_x3", "armv8_crc_x3", "pmull",
       "pmull"},
      {"another implementer's part 0xD40", kV8, midr(0x51, 0xD40), "armv8_crc_x3", "armv8_crc_x3",
       "pmull", "pmull"},
  };
  for (const auto &c : cases) {
    const cpu_features f = zelkor::features_from_hwcap(c.hwcap, c.midr);
    const zelkor::tier_row &crc32c = zelkor::choose_tier(crc_poly::crc32c, f);
    const zelkor::tier_row &crc32 = zelkor::choose_tier(crc_poly::crc32_zlib, f);
    EXPECT_STREQ(crc32c.name, c.crc32c) << c.name;
    EXPECT_STREQ(crc32.name, c.crc32) << c.name;
    EXPECT_TRUE(zelkor::runs_here(crc32c, f)) << c.name;
    EXPECT_TRUE(zelkor::runs_here(crc32, f)) << c.name;
    EXPECT_STREQ(zelkor::choose_multiplier(f).name, c.multiplier) << c.name;
    EXPECT_STREQ(zelkor::choose_tier(crc_poly::crc64_nvme, f).name, c.crc64) << c.name;
  }
}

}  // namespace
