// tiers_test.cc -- the x86-64 feature reader and the choice of tier and of
// multiplier.
//
// The reader is checked against libgcc's own reading of the processor (an
// independent CPUID, which also asks the OS about the vector state); the
// choice against a table of made-up processors.
#include "util/crc/tiers.h"

#include <gtest/gtest.h>

#include "util/crc/multiply.h"

namespace {

using zelkor::cpu_features;
using zelkor::crc_poly;

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
  const char *crc32c, *crc32, *crc64;  // the rows chosen
  const char *multiplier;              // and the multiplier
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
    {"bare x86-64", make(false, 6, 0, false, false, false, false, false), "slot_routine",
     "slot_routine", "table", "portable"},
    {"Nehalem (SSE4.2, no PCLMULQDQ)", make(false, 6, 0x1A, true, false, false, false, false),
     "slot_routine", "slot_routine", "table", "portable"},
    {"Westmere", make(false, 6, 0x2C, true, true, false, false, false), "sse42_x3", "pclmul",
     "pclmul", "pclmulqdq"},
    {"Skylake (AVX2, no VPCLMULQDQ)", make(false, 6, 0x5E, true, true, true, false, true),
     "sse42_x3", "pclmul", "pclmul", "pclmulqdq"},
    {"Skylake-X (AVX-512, no VPCLMULQDQ)",
     with_avx512(make(false, 6, 0x55, true, true, true, false, true)), "sse42_x3", "pclmul",
     "pclmul", "pclmulqdq"},
    {"Ice Lake client", with_avx512(make(false, 6, 0x7E, true, true, true, true, true)),
     "hybrid_avx512_3x3s3", "vpclmul_avx512", "vpclmul_avx512", "vpclmulqdq_avx512"},
    {"Ice Lake server", with_avx512(make(false, 6, 0x6A, true, true, true, true, true)),
     "hybrid_avx512_3x3s3", "vpclmul_avx512", "vpclmul_avx512", "vpclmulqdq_avx512"},
    {"Ice Lake server, OS without ZMM state",
     without_zmm_state(with_avx512(make(false, 6, 0x6A, true, true, true, true, true))),
     "hybrid_avx2", "vpclmul_avx2", "vpclmul_avx2", "vpclmulqdq_avx2"},
    {"Sapphire Rapids", with_avx512(make(false, 6, 0x8F, true, true, true, true, true)),
     "hybrid_avx512_3x9s3", "vpclmul_avx512", "vpclmul_avx512", "vpclmulqdq_avx512"},
    {"Zen 2", make(true, 0x17, 0x31, true, true, true, false, true), "sse42_x3", "pclmul", "pclmul",
     "pclmulqdq"},
    {"Zen 3", make(true, 0x19, 0x01, true, true, true, true, true), "hybrid_avx2", "vpclmul_avx2",
     "vpclmul_avx2", "vpclmulqdq_avx2"},
    {"Zen 3, OS without YMM state", make(true, 0x19, 0x01, true, true, true, true, false),
     "sse42_x3", "pclmul", "pclmul", "pclmulqdq"},
    {"Zen 4", with_avx512(make(true, 0x19, 0x11, true, true, true, true, true)),
     "hybrid_avx512_3x3s3", "vpclmul_avx512", "vpclmul_avx512", "vpclmulqdq_avx512"},
    {"Zen 5", with_avx512(make(true, 0x1A, 0x02, true, true, true, true, true)),
     "hybrid_avx512_10x6s12", "vpclmul_avx512", "vpclmul_avx512", "vpclmulqdq_avx512"},
    {"Zen 5, OS without ZMM state",
     without_zmm_state(with_avx512(make(true, 0x1A, 0x02, true, true, true, true, true))),
     "sse42_x12", "vpclmul_avx2", "vpclmul_avx2", "vpclmulqdq_avx2"},
};

TEST(TierChoice, TableOfProcessors) {
  for (const processor &p : kProcessors) {
    const zelkor::tier_row &c = zelkor::choose_tier(crc_poly::crc32c, p.f);
    const zelkor::tier_row &z = zelkor::choose_tier(crc_poly::crc32_zlib, p.f);
    const zelkor::tier_row &n = zelkor::choose_tier(crc_poly::crc64_nvme, p.f);
    EXPECT_STREQ(c.name, p.crc32c) << p.name;
    EXPECT_STREQ(z.name, p.crc32) << p.name;
    EXPECT_STREQ(n.name, p.crc64) << p.name;
    EXPECT_TRUE(zelkor::runs_here(n, p.f)) << p.name;
    // A chosen tier always runs where it was chosen.
    EXPECT_TRUE(zelkor::runs_here(c, p.f)) << p.name;
    EXPECT_TRUE(zelkor::runs_here(z, p.f)) << p.name;
    EXPECT_STREQ(zelkor::choose_multiplier(p.f).name, p.multiplier) << p.name;
  }
}

}  // namespace
