// cpu_features.cc -- CPUID and XGETBV, read on any x86-64.
//
// Compiled for the baseline instruction set: this runs before anything has
// been chosen, on processors that may lack every extension.
#include "../cpu_features.h"

#include <cpuid.h>

namespace zelkor {

namespace {

struct regs {
  uint32_t eax, ebx, ecx, edx;
};

regs cpuid_count(uint32_t leaf, uint32_t sub) {
  regs r;
  __cpuid_count(leaf, sub, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

bool vendor_is(const regs &r, const char (&name)[13]) {
  // The vendor string is EBX, EDX, ECX.
  const uint32_t want[3] = {
      uint32_t(name[0]) | uint32_t(name[1]) << 8 | uint32_t(name[2]) << 16 | uint32_t(name[3]) << 24,
      uint32_t(name[4]) | uint32_t(name[5]) << 8 | uint32_t(name[6]) << 16 | uint32_t(name[7]) << 24,
      uint32_t(name[8]) | uint32_t(name[9]) << 8 | uint32_t(name[10]) << 16 |
          uint32_t(name[11]) << 24};
  return r.ebx == want[0] && r.edx == want[1] && r.ecx == want[2];
}

}  // namespace

uint32_t cpuid(uint32_t eax_in) {
  unsigned int eax, ebx, ecx, edx;
  __cpuid(eax_in, eax, ebx, ecx, edx);
  (void)eax;
  (void)ebx;
  (void)edx;
  return ecx;
}

cpu_features read_cpu_features() {
  cpu_features f{};
  const regs leaf0 = cpuid_count(0, 0);
  f.amd = vendor_is(leaf0, "AuthenticAMD") || vendor_is(leaf0, "HygonGenuine");
  f.intel = vendor_is(leaf0, "GenuineIntel");
  if (leaf0.eax < 1) return f;
  const regs leaf1 = cpuid_count(1, 0);
  const uint32_t base_family = (leaf1.eax >> 8) & 0xF, base_model = (leaf1.eax >> 4) & 0xF;
  f.family = base_family == 0xF ? base_family + ((leaf1.eax >> 20) & 0xFF) : base_family;
  f.model = (base_family == 0x6 || base_family == 0xF)
                ? base_model | (((leaf1.eax >> 16) & 0xF) << 4)
                : base_model;
  f.ssse3 = leaf1.ecx & (1u << 9);
  f.sse41 = leaf1.ecx & (1u << 19);
  f.sse42 = leaf1.ecx & (1u << 20);
  f.pclmul = leaf1.ecx & (1u << 1);
  const bool osxsave = leaf1.ecx & (1u << 27);
  const bool avx = leaf1.ecx & (1u << 28);
  if (leaf0.eax >= 7) {
    const regs leaf7 = cpuid_count(7, 0);
    f.avx2 = leaf7.ebx & (1u << 5);
    f.avx512f = leaf7.ebx & (1u << 16);
    f.avx512bw = leaf7.ebx & (1u << 30);
    f.avx512vl = leaf7.ebx & (1u << 31);
    f.vpclmulqdq = leaf7.ecx & (1u << 10);
  }
  // XGETBV faults unless the OS has set CR4.OSXSAVE, which CPUID reports.
  if (osxsave && avx) {
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    (void)hi;
    f.ymm_state = (lo & 0x6) == 0x6;    // SSE and AVX state
    f.zmm_state = (lo & 0xE6) == 0xE6;  // plus opmask and both ZMM halves
  }
  return f;
}

}  // namespace zelkor
