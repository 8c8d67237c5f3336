// cpu_features.cc -- the hardware capabilities of an aarch64 processor, as
// the kernel reports them.
//
// Compiled for the baseline instruction set: this runs before anything has
// been chosen, on processors that may lack every extension.
#include "../cpu_features.h"

#include <sys/auxv.h>

namespace zelkor {

// The bits of the kernel's ABI (asm/hwcap.h), spelled out so that a C
// library that lacks a name still builds.
constexpr unsigned long kHwcapPmull = 1ul << 4;
constexpr unsigned long kHwcapCrc32 = 1ul << 7;
constexpr unsigned long kHwcapCpuid = 1ul << 11;

cpu_features features_from_hwcap(unsigned long hwcap, uint64_t midr) {
  cpu_features f{};
  f.arm_crc32 = hwcap & kHwcapCrc32;
  f.arm_pmull = hwcap & kHwcapPmull;
  f.arm_implementer = (midr >> 24) & 0xFF;
  f.arm_part = (midr >> 4) & 0xFFF;
  return f;
}

cpu_features read_cpu_features() {
  const unsigned long hwcap = getauxval(AT_HWCAP);
  uint64_t midr = 0;
  if (hwcap & kHwcapCpuid) __asm__ volatile("mrs %0, MIDR_EL1" : "=r"(midr));
  return features_from_hwcap(hwcap, midr);
}

}  // namespace zelkor
