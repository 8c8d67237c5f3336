// cpu_features.h -- what the processor and the operating system offer the engine.
//
// The one place that runs CPUID and XGETBV (x86-64) or asks the kernel for
// the hardware capabilities (aarch64).  The engine reads the features
// once, at load time (the hardware module's constructor), and chooses its
// routines and kernels from them; nothing reads them per call.
#ifndef ZELKOR_UTIL_CRC_CPU_FEATURES_H
#define ZELKOR_UTIL_CRC_CPU_FEATURES_H

#include <cstdint>

namespace zelkor {

struct cpu_features {
  bool amd;                // AuthenticAMD or HygonGenuine
  bool intel;              // GenuineIntel
  unsigned family, model;  // display family and model
  bool ssse3, sse41, sse42, pclmul, avx2, vpclmulqdq, avx512f, avx512bw, avx512vl;
  bool ymm_state, zmm_state;  // enabled by the OS (XCR0), read only under OSXSAVE
#if defined(__aarch64__)
  bool arm_crc32, arm_pmull;  // the ARMv8 CRC32 instructions, 64-bit PMULL
  unsigned arm_implementer, arm_part;  // of MIDR_EL1 (0 where unknown)
#endif
};

#if defined(__x86_64__)

// ECX of CPUID leaf eax_in (no sub-leaf is set; leaf 1 ignores it).
uint32_t cpuid(uint32_t eax_in);

// CPUID, and XGETBV where the OS allows it.  Safe on every x86-64.
cpu_features read_cpu_features();

#endif  // __x86_64__

#if defined(__aarch64__)

// The features that a given AT_HWCAP word and main ID register announce.
cpu_features features_from_hwcap(unsigned long hwcap, uint64_t midr);

// From getauxval(AT_HWCAP): the kernel has already asked the processor, and
// user code may not read the ID registers on every kernel.  MIDR_EL1 (which
// core this is) is read where HWCAP_CPUID says that the kernel emulates the
// read.
cpu_features read_cpu_features();

#endif  // __aarch64__

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_CPU_FEATURES_H
