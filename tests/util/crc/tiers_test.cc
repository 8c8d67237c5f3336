// tiers_test.cc -- the processor-feature reader and the choice of tier.
//
// The reader is checked against libgcc's own reading of the processor (an
// independent CPUID, which also asks the OS about the vector state), on
// aarch64 against the kernel's HWCAP bits; the choice against a table of
// made-up processors; the load-time choice against this processor.
#include <gtest/gtest.h>
#if defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

#include <cstdio>
#include <cstdlib>

#include "util/bulk_crc32_internal.h"
#include "util/crc/kernel.h"
#include "util/crc/tiers.h"

namespace {

using zelkor::cpu_features;
using zelkor::crc32_zlib_tier;
using zelkor::crc32c_tier;

#if defined(__x86_64__)

TEST(FeatureReader, AgreesWithTheCompilerRuntime) {
  __builtin_cpu_init();
  const cpu_features f = zelkor::read_cpu_features();
  EXPECT_EQ(f.sse42, __builtin_cpu_supports("sse4.2") != 0);
  EXPECT_EQ(f.sse41, __builtin_cpu_supports("sse4.1") != 0);
  EXPECT_EQ(f.ssse3, __builtin_cpu_supports("ssse3") != 0);
  EXPECT_EQ(f.pclmul, __builtin_cpu_supports("pclmul") != 0);
  // libgcc reports AVX2 and the AVX-512 sets only where the OS saves the
  // registers they need.
  EXPECT_EQ(f.avx2 && f.ymm_state, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(f.avx512f && f.zmm_state, __builtin_cpu_supports("avx512f") != 0);
  EXPECT_EQ(f.avx512bw && f.zmm_state, __builtin_cpu_supports("avx512bw") != 0);
  EXPECT_EQ(f.avx512vl && f.zmm_state, __builtin_cpu_supports("avx512vl") != 0);
  EXPECT_EQ(f.vpclmulqdq && f.ymm_state, __builtin_cpu_supports("vpclmulqdq") != 0);
  EXPECT_EQ(f.amd, __builtin_cpu_is("amd") != 0);
}

// Made-up processors, each as a CPUID of its family would describe it.
struct processor {
  const char *name;
  cpu_features f;
  crc32c_tier crc32c;
  crc32_zlib_tier crc32;
  zelkor::hybrid_split split = zelkor::hybrid_split::k3m3s3;  // where crc32c is hybrid_avx512
};

cpu_features make(bool amd, unsigned family, unsigned model, bool sse42, bool pclmul, bool avx2,
                  bool vpclmul, bool ymm) {
  cpu_features f{};
  f.amd = amd;
  f.intel = !amd;
  f.family = family;
  f.model = model;
  f.ssse3 = f.sse41 = sse42;
  f.sse42 = sse42;
  f.pclmul = pclmul;
  f.avx2 = avx2;
  f.vpclmulqdq = vpclmul;
  f.ymm_state = ymm;
  return f;
}

cpu_features with_avx512(cpu_features f) {
  f.avx512f = f.avx512bw = f.avx512vl = f.zmm_state = true;
  return f;
}

// AVX-512 in the processor, but an OS that saves only the YMM state.
cpu_features without_zmm_state(cpu_features f) {
  f.zmm_state = false;
  return f;
}

const processor kProcessors[] = {
    {"bare x86-64", make(false, 6, 0, false, false, false, false, false),
     crc32c_tier::specified, crc32_zlib_tier::specified},
    {"Nehalem (SSE4.2, no PCLMULQDQ)", make(false, 6, 0x1A, true, false, false, false, false),
     crc32c_tier::specified, crc32_zlib_tier::specified},
    {"Westmere", make(false, 6, 0x2C, true, true, false, false, false), crc32c_tier::sse42_x3,
     crc32_zlib_tier::pclmul},
    {"Skylake (AVX2, no VPCLMULQDQ)", make(false, 6, 0x5E, true, true, true, false, true),
     crc32c_tier::sse42_x3, crc32_zlib_tier::pclmul},
    {"Skylake-X (AVX-512, no VPCLMULQDQ)",
     with_avx512(make(false, 6, 0x55, true, true, true, false, true)), crc32c_tier::sse42_x3,
     crc32_zlib_tier::pclmul},
    {"Ice Lake client", with_avx512(make(false, 6, 0x7E, true, true, true, true, true)),
     crc32c_tier::hybrid_avx512, crc32_zlib_tier::vpclmul_avx512},
    {"Ice Lake server", with_avx512(make(false, 6, 0x6A, true, true, true, true, true)),
     crc32c_tier::hybrid_avx512, crc32_zlib_tier::vpclmul_avx512},
    {"Ice Lake server, OS without ZMM state",
     without_zmm_state(with_avx512(make(false, 6, 0x6A, true, true, true, true, true))),
     crc32c_tier::hybrid_avx2, crc32_zlib_tier::vpclmul_avx2},
    {"Sapphire Rapids", with_avx512(make(false, 6, 0x8F, true, true, true, true, true)),
     crc32c_tier::hybrid_avx512, crc32_zlib_tier::vpclmul_avx512, zelkor::hybrid_split::k3m9s3},
    {"Zen 2", make(true, 0x17, 0x31, true, true, true, false, true), crc32c_tier::sse42_x3,
     crc32_zlib_tier::pclmul},
    {"Zen 3", make(true, 0x19, 0x01, true, true, true, true, true), crc32c_tier::hybrid_avx2,
     crc32_zlib_tier::vpclmul_avx2},
    {"Zen 3, OS without YMM state", make(true, 0x19, 0x01, true, true, true, true, false),
     crc32c_tier::sse42_x3, crc32_zlib_tier::pclmul},
    {"Zen 4", with_avx512(make(true, 0x19, 0x11, true, true, true, true, true)),
     crc32c_tier::hybrid_avx512, crc32_zlib_tier::vpclmul_avx512},
    {"Zen 5", with_avx512(make(true, 0x1A, 0x02, true, true, true, true, true)),
     crc32c_tier::hybrid_avx512, crc32_zlib_tier::vpclmul_avx512, zelkor::hybrid_split::k3m9s12},
    {"Zen 5, OS without ZMM state",
     without_zmm_state(with_avx512(make(true, 0x1A, 0x02, true, true, true, true, true))),
     crc32c_tier::sse42_x12, crc32_zlib_tier::vpclmul_avx2},
};

TEST(TierChoice, TableOfProcessors) {
  for (const processor &p : kProcessors) {
    EXPECT_EQ(zelkor::choose_crc32c_tier(p.f), p.crc32c) << p.name;
    EXPECT_EQ(zelkor::choose_crc32_zlib_tier(p.f), p.crc32) << p.name;
    if (p.crc32c == crc32c_tier::hybrid_avx512) {
      EXPECT_EQ(zelkor::choose_hybrid_split(p.f), p.split) << p.name;
    }
    // A chosen tier always runs where it was chosen.
    EXPECT_TRUE(zelkor::runs_here(p.crc32c, p.f)) << p.name;
    EXPECT_TRUE(zelkor::runs_here(p.crc32, p.f)) << p.name;
  }
}

#elif defined(__aarch64__)

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
    crc32c_tier crc32c;
    crc32_zlib_tier crc32;
  } cases[] = {
      {"nothing at all", 0, 0, crc32c_tier::specified, crc32_zlib_tier::specified},
      {"ARMv8.0 without extensions", kBase, midr(kArm, 0xD03), crc32c_tier::specified,
       crc32_zlib_tier::specified},
      {"CRC32 without PMULL (Cortex-A53 without crypto)", kBase | HWCAP_CRC32, midr(kArm, 0xD03),
       crc32c_tier::specified, crc32_zlib_tier::specified},
      {"PMULL without CRC32", kBase | HWCAP_AES | HWCAP_PMULL, midr(kArm, 0xD07),
       crc32c_tier::specified, crc32_zlib_tier::specified},
      {"Neoverse N1", kV8 | HWCAP_ATOMICS, midr(kArm, 0xD0C), crc32c_tier::armv8_crc_x3,
       crc32_zlib_tier::armv8_crc_x3},
      {"Neoverse N2", kV8 | HWCAP_SVE, midr(kArm, 0xD49), crc32c_tier::armv8_crc_x3,
       crc32_zlib_tier::armv8_crc_x3},
      {"Neoverse V1", kV8 | HWCAP_SVE, midr(kArm, 0xD40), crc32c_tier::armv8_pmull,
       crc32_zlib_tier::armv8_pmull},
      {"Neoverse V2", kV8 | HWCAP_SVE | HWCAP_SHA3, midr(kArm, 0xD4F), crc32c_tier::armv8_pmull,
       crc32_zlib_tier::armv8_pmull},
      {"Neoverse V3", kV8 | HWCAP_SVE, midr(kArm, 0xD84), crc32c_tier::armv8_pmull,
       crc32_zlib_tier::armv8_pmull},
      {"Apple", kV8, midr(kApple, 0x022), crc32c_tier::armv8_pmull, crc32_zlib_tier::armv8_pmull},
      {"Neoverse V2 with PMULL hidden", kV8 & ~HWCAP_PMULL, midr(kArm, 0xD4F),
       crc32c_tier::specified, crc32_zlib_tier::specified},
      {"a kernel that hides MIDR", kV8 & ~HWCAP_CPUID, 0, crc32c_tier::armv8_crc_x3,
       crc32_zlib_tier::armv8_crc_x3},
      {"another implementer's part 0xD40", kV8, midr(0x51, 0xD40), crc32c_tier::armv8_crc_x3,
       crc32_zlib_tier::armv8_crc_x3},
  };
  for (const auto &c : cases) {
    const cpu_features f = zelkor::features_from_hwcap(c.hwcap, c.midr);
    EXPECT_EQ(zelkor::choose_crc32c_tier(f), c.crc32c) << c.name;
    EXPECT_EQ(zelkor::choose_crc32_zlib_tier(f), c.crc32) << c.name;
    EXPECT_TRUE(zelkor::runs_here(c.crc32c, f)) << c.name;
    EXPECT_TRUE(zelkor::runs_here(c.crc32, f)) << c.name;
    // No x86-64 tier runs on any of them.
    EXPECT_FALSE(zelkor::runs_here(crc32c_tier::sse42_x3, f)) << c.name;
    EXPECT_FALSE(zelkor::runs_here(crc32_zlib_tier::pclmul, f)) << c.name;
  }
}

#endif

// The constructor has run before main: each tier in force is the one the
// table gives for this processor, and its kernel stands for the routine
// that the type's slot holds (the SSE4.2 routine for CRC32C, the tables for
// CRC-32).
TEST(TierChoice, MadeAtLoadForThisProcessor) {
  const cpu_features f = zelkor::read_cpu_features();
  EXPECT_EQ(zelkor::crc32c_tier_in_force(), zelkor::choose_crc32c_tier(f));
  EXPECT_EQ(zelkor::crc32_zlib_tier_in_force(), zelkor::choose_crc32_zlib_tier(f));
  if (zelkor::crc32c_tier_in_force() == crc32c_tier::specified) {
    EXPECT_EQ(zelkor::crc32c_kernel.chunks, nullptr);
  } else {
    EXPECT_EQ(pipelined_crc32c_func, zelkor::engine_hardware_routine());
    EXPECT_EQ(zelkor::crc32c_kernel.owner, pipelined_crc32c_func);
  }
  EXPECT_EQ(pipelined_crc32_zlib_func, zelkor::engine_table_routines().pipelined_crc32_zlib_sb8);
  if (zelkor::crc32_zlib_tier_in_force() == crc32_zlib_tier::specified)
    EXPECT_EQ(zelkor::crc32_zlib_kernel.chunks, nullptr);
  else
    EXPECT_EQ(zelkor::crc32_zlib_kernel.owner, pipelined_crc32_zlib_func);
  EXPECT_FALSE(zelkor::crc32_zlib_model_in_force());
  EXPECT_FALSE(zelkor::crc32c_model_in_force());
  std::printf("tiers here: CRC32C %s (hybrid split: %s); CRC-32 %s\n",
              zelkor::tier_name(zelkor::crc32c_tier_in_force()),
              zelkor::split_name(zelkor::choose_hybrid_split(f)),
              zelkor::tier_name(zelkor::crc32_zlib_tier_in_force()));
  std::printf("512-bit kernels here: %s\n",
              zelkor::runs_here(crc32_zlib_tier::vpclmul_avx512, f)
                  ? "native, and their 128-bit models"
                  : "only their 128-bit models (the native rows skip)");
}

}  // namespace
