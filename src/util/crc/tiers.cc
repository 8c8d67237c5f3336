// tiers.cc -- the kernel records, the choice of tier and its installation.
//
// The only module that knows both the kernels and the specified routines
// they stand for: a CRC32C kernel runs only while the CRC32C slot holds the
// SSE4.2 routine (the words are the same, the kernel is faster), a CRC-32
// kernel only while its slot holds the table routine.
#include "tiers.h"

#include "kernel.h"

#if defined(__x86_64__)
#include "x86/crc32_zlib_avx2.h"
#include "x86/crc32_zlib_avx512.h"
#include "x86/crc32_zlib_pclmul.h"
#include "x86/crc32c_avx2.h"
#include "x86/crc32c_avx512.h"
#include "x86/crc32c_sse42.h"
#elif defined(__aarch64__)
#include "aarch64/crc32_zlib_armv8.h"
#include "aarch64/crc32c_armv8.h"
#endif

namespace zelkor {

constinit crc_kernel crc32c_kernel{};
constinit crc_kernel crc32_zlib_kernel{};

const char *tier_name(crc32c_tier tier) {
  switch (tier) {
    case crc32c_tier::armv8_crc_x3: return "armv8_crc_x3 (crc32cx on 3 chains)";
    case crc32c_tier::armv8_pmull: return "armv8_pmull (PMULL folds, crc32cx on short chunks)";
    case crc32c_tier::specified: return "specified (slot routine, 3 chunks at a time)";
    case crc32c_tier::sse42_x3: return "sse42_x3 (CRC32 on 3 chains)";
    case crc32c_tier::sse42_x12: return "sse42_x12 (CRC32 on 12 chains)";
    case crc32c_tier::hybrid_avx2:
      return "hybrid_avx2 (CRC32 on 3 chains + 256-bit carry-less folds)";
    case crc32c_tier::hybrid_avx512:
      return "hybrid_avx512 (CRC32 chains + 512-bit carry-less folds)";
  }
  return "?";
}

const char *tier_name(crc32_zlib_tier tier) {
  switch (tier) {
    case crc32_zlib_tier::armv8_crc_x3: return "armv8_crc_x3 (crc32x on 3 chains)";
    case crc32_zlib_tier::armv8_pmull: return "armv8_pmull (PMULL folds, crc32x on short chunks)";
    case crc32_zlib_tier::specified: return "specified (slot routine, 3 chunks at a time)";
    case crc32_zlib_tier::pclmul: return "pclmul (128-bit carry-less folds)";
    case crc32_zlib_tier::vpclmul_avx2: return "vpclmul_avx2 (256-bit carry-less folds)";
    case crc32_zlib_tier::vpclmul_avx512: return "vpclmul_avx512 (512-bit carry-less folds)";
  }
  return "?";
}

namespace {

constinit crc32c_tier g_crc32c_tier = crc32c_tier::specified;
constinit crc32_zlib_tier g_crc32_zlib_tier = crc32_zlib_tier::specified;
constinit bool g_crc32_zlib_model = false;
constinit bool g_crc32c_model = false;

}  // namespace

crc32c_tier crc32c_tier_in_force() { return g_crc32c_tier; }
crc32_zlib_tier crc32_zlib_tier_in_force() { return g_crc32_zlib_tier; }
bool crc32_zlib_model_in_force() { return g_crc32_zlib_model; }
bool crc32c_model_in_force() { return g_crc32c_model; }

const char *split_name(hybrid_split split) {
  switch (split) {
    case hybrid_split::k3m9s12: return "3 chains + 9 folded, short chunks on 12 chains";
    case hybrid_split::k3m3s3: return "3 chains + 3 folded";
    case hybrid_split::k3m9s3: return "3 chains + 9 folded";
  }
  return "?";
}

#if defined(__x86_64__)

namespace {

// The groups that each kernel walks divide the batch unit that callers
// hand over (see kernel.h).
static_assert(kKernelGroupMultiple % kCrc32cSse42X3Group == 0);
static_assert(kKernelGroupMultiple % kCrc32cSse42X12Group == 0);
static_assert(kKernelGroupMultiple % kCrc32cHybridAvx2Group == 0);
static_assert(kKernelGroupMultiple % kCrc32cHybridAvx512Groups[0] == 0);
static_assert(kKernelGroupMultiple % kCrc32cHybridAvx512Groups[1] == 0);
static_assert(kKernelGroupMultiple % kCrc32cHybridAvx512Groups[2] == 0);
static_assert(kKernelGroupMultiple % kCrc32ZlibPclmulGroup == 0);
static_assert(kKernelGroupMultiple % kCrc32ZlibVpclmulAvx2Group == 0);
static_assert(kKernelGroupMultiple % kCrc32ZlibVpclmulAvx512Group == 0);

constinit cpu_features g_features{};

bool wide_vectors(const cpu_features &f) {
  return f.avx2 && f.vpclmulqdq && f.ymm_state;
}

// The 512-bit kernels use byte masks (BW) and 128/256-bit forms of AVX-512
// instructions (VL); the OS must save the ZMM registers and the masks.
bool widest_vectors(const cpu_features &f) {
  return wide_vectors(f) && f.avx512f && f.avx512bw && f.avx512vl && f.zmm_state;
}

crc_kernel kernel_of(crc32c_tier t) {
  const crc_pipelined_func_t owner = engine_hardware_routine();
  switch (t) {
    case crc32c_tier::armv8_crc_x3:  // aarch64 only
    case crc32c_tier::armv8_pmull:
    case crc32c_tier::specified: break;
    case crc32c_tier::sse42_x3: return {owner, crc32c_sse42_x3_chunks, crc32c_sse42_x3_one};
    case crc32c_tier::sse42_x12: return {owner, crc32c_sse42_x12_chunks, crc32c_sse42_x12_one};
    case crc32c_tier::hybrid_avx2:
      return {owner, crc32c_hybrid_avx2_chunks, crc32c_hybrid_avx2_one};
    case crc32c_tier::hybrid_avx512:
      switch (choose_hybrid_split(g_features)) {
        case hybrid_split::k3m9s12:
          return {owner, crc32c_hybrid_avx512_3x9s12_chunks, crc32c_hybrid_avx512_3x9s12_one};
        case hybrid_split::k3m3s3:
          return {owner, crc32c_hybrid_avx512_3x3s3_chunks, crc32c_hybrid_avx512_3x3s3_one};
        case hybrid_split::k3m9s3:
          return {owner, crc32c_hybrid_avx512_3x9s3_chunks, crc32c_hybrid_avx512_3x9s3_one};
      }
  }
  return {};
}

crc_kernel model_kernel_of(crc32c_tier t) {
  if (t != crc32c_tier::hybrid_avx512) return {};
  const crc_pipelined_func_t owner = engine_hardware_routine();
  switch (choose_hybrid_split(g_features)) {
    case hybrid_split::k3m9s12:
      return {owner, crc32c_hybrid_avx512_3x9s12_model_chunks, crc32c_hybrid_avx512_3x9s12_model_one};
    case hybrid_split::k3m3s3:
      return {owner, crc32c_hybrid_avx512_3x3s3_model_chunks, crc32c_hybrid_avx512_3x3s3_model_one};
    case hybrid_split::k3m9s3:
      return {owner, crc32c_hybrid_avx512_3x9s3_model_chunks, crc32c_hybrid_avx512_3x9s3_model_one};
  }
  return {};
}

crc_kernel kernel_of(crc32_zlib_tier t) {
  const crc_pipelined_func_t owner = engine_table_routines().pipelined_crc32_zlib_sb8;
  switch (t) {
    case crc32_zlib_tier::armv8_crc_x3:  // aarch64 only
    case crc32_zlib_tier::armv8_pmull:
    case crc32_zlib_tier::specified: break;
    case crc32_zlib_tier::pclmul: return {owner, crc32_zlib_pclmul_chunks, crc32_zlib_pclmul_one};
    case crc32_zlib_tier::vpclmul_avx2:
      return {owner, crc32_zlib_vpclmul_avx2_chunks, crc32_zlib_vpclmul_avx2_one};
    case crc32_zlib_tier::vpclmul_avx512:
      return {owner, crc32_zlib_vpclmul_avx512_chunks, crc32_zlib_vpclmul_avx512_one};
  }
  return {};
}

// The models of the tiers that have one; no kernel for the others.
crc_kernel model_kernel_of(crc32_zlib_tier t) {
  if (t != crc32_zlib_tier::vpclmul_avx512) return {};
  return {engine_table_routines().pipelined_crc32_zlib_sb8, crc32_zlib_vpclmul_avx512_model_chunks,
          crc32_zlib_vpclmul_avx512_model_one};
}

void install(crc32c_tier t, bool model = false) {
  g_crc32c_tier = t;
  g_crc32c_model = model;
  crc32c_kernel = model ? model_kernel_of(t) : kernel_of(t);
}

void install(crc32_zlib_tier t, bool model = false) {
  g_crc32_zlib_tier = t;
  g_crc32_zlib_model = model;
  crc32_zlib_kernel = model ? model_kernel_of(t) : kernel_of(t);
}

}  // namespace

bool runs_here(crc32c_tier tier, const cpu_features &f) {
  // The chains of a lone chunk are joined by carry-less multiplication.
  const bool chains = f.sse42 && f.pclmul;
  switch (tier) {
    case crc32c_tier::armv8_crc_x3:  // aarch64 only
    case crc32c_tier::armv8_pmull: return false;
    case crc32c_tier::specified: return true;
    case crc32c_tier::sse42_x3:
    case crc32c_tier::sse42_x12: return chains;
    case crc32c_tier::hybrid_avx2: return chains && wide_vectors(f);
    case crc32c_tier::hybrid_avx512: return chains && widest_vectors(f);
  }
  return false;
}

bool runs_here(crc32_zlib_tier tier, const cpu_features &f) {
  const bool folds = f.pclmul && f.ssse3 && f.sse41;
  switch (tier) {
    case crc32_zlib_tier::armv8_crc_x3:  // aarch64 only
    case crc32_zlib_tier::armv8_pmull: return false;
    case crc32_zlib_tier::specified: return true;
    case crc32_zlib_tier::pclmul: return folds;
    case crc32_zlib_tier::vpclmul_avx2: return folds && wide_vectors(f);
    case crc32_zlib_tier::vpclmul_avx512: return folds && widest_vectors(f);
  }
  return false;
}

// A table of processor families: what each needs to keep its units busy.
// - One CRC32 unit of latency 3 (Intel since Nehalem, AMD Zen 1-4): three
//   chains saturate it.  Zen 5 (AMD family 0x1A) has three and wants 9+.
// - Beside the chains, chunks folded with carry-less multiplication run on
//   the vector unit and add their rate: with 512-bit VPCLMULQDQ (Zen 4 and
//   5, Intel since Ice Lake) as chosen by choose_hybrid_split, else with
//   256-bit (Zen 3) three chains beside three folded chunks (measured on Zen
//   3 about 1.4x the chains alone at 512-byte chunks).
// - Without VPCLMULQDQ: 12 chains on Zen 5, 3 elsewhere.
// Without the chains' features the specified routine stays in charge.
crc32c_tier choose_crc32c_tier(const cpu_features &f) {
  if (!runs_here(crc32c_tier::sse42_x3, f)) return crc32c_tier::specified;
  if (runs_here(crc32c_tier::hybrid_avx512, f)) return crc32c_tier::hybrid_avx512;
  if (f.amd && f.family >= 0x1A) return crc32c_tier::sse42_x12;
  if (runs_here(crc32c_tier::hybrid_avx2, f)) return crc32c_tier::hybrid_avx2;
  return crc32c_tier::sse42_x3;
}

// The 512-bit hybrid's split between CRC32 chains and folded chunks:
// - Zen 5 (AMD 0x1A and later): three CRC32 units and one 512-bit fold
//   every two cycles.  Measured there, 3 chains beside 9 folded chunks ran
//   ahead of 3 beside 3 and of 9 beside 3 (short of registers) from 512-byte
//   chunks on; chunks below 128 bytes go faster on 12 chains alone.
// - Intel Sapphire Rapids (family 6, model 0x8F) and its successors issue a
//   512-bit multiply every cycle beside one CRC32 unit: 3 chains, 9 folded.
// - Zen 4 (512 bits as two 256-bit halves), Ice Lake and Tiger Lake (a
//   512-bit multiply at half rate): 3 chains, 3 folded.
hybrid_split choose_hybrid_split(const cpu_features &f) {
  if (f.amd && f.family >= 0x1A) return hybrid_split::k3m9s12;
  if (f.intel && f.family == 6) {
    switch (f.model) {
      case 0x8F:  // Sapphire Rapids
      case 0xCF:  // Emerald Rapids
      case 0xAD:  // Granite Rapids
      case 0xAE:
        return hybrid_split::k3m9s3;
    }
  }
  return hybrid_split::k3m3s3;
}

// CRC-32 has no instruction of its own: the widest fold the processor runs,
// else the tables.
crc32_zlib_tier choose_crc32_zlib_tier(const cpu_features &f) {
  if (runs_here(crc32_zlib_tier::vpclmul_avx512, f)) return crc32_zlib_tier::vpclmul_avx512;
  if (runs_here(crc32_zlib_tier::vpclmul_avx2, f)) return crc32_zlib_tier::vpclmul_avx2;
  if (runs_here(crc32_zlib_tier::pclmul, f)) return crc32_zlib_tier::pclmul;
  return crc32_zlib_tier::specified;
}

// A model needs only what the 128-bit folds need.
bool force_tier_model(crc32_zlib_tier tier) {
  if (model_kernel_of(tier).chunks == nullptr || !runs_here(crc32_zlib_tier::pclmul, g_features))
    return false;
  install(tier, true);
  return true;
}

bool force_tier_model(crc32c_tier tier) {
  if (model_kernel_of(tier).chunks == nullptr || !runs_here(crc32c_tier::sse42_x3, g_features) ||
      !g_features.sse41)
    return false;
  install(tier, true);
  return true;
}

#elif defined(__aarch64__)

// The same rules on aarch64: a CRC32C kernel runs while the slot holds the
// crc32c routine of bulk_crc32_aarch64.cc, a CRC-32 kernel while its slot
// holds the tables.  Both polynomials have an instruction of their own here.
namespace {

static_assert(kKernelGroupMultiple % kCrc32cArmv8CrcX3Group == 0);
static_assert(kKernelGroupMultiple % kCrc32cArmv8PmullGroup == 0);
static_assert(kKernelGroupMultiple % kCrc32ZlibArmv8CrcX3Group == 0);
static_assert(kKernelGroupMultiple % kCrc32ZlibArmv8PmullGroup == 0);

constinit cpu_features g_features{};

crc_kernel kernel_of(crc32c_tier t) {
  const crc_pipelined_func_t owner = engine_hardware_routine();
  if (t == crc32c_tier::armv8_crc_x3)
    return {owner, crc32c_armv8_crc_x3_chunks, crc32c_armv8_crc_x3_one};
  if (t == crc32c_tier::armv8_pmull) return {owner, crc32c_armv8_pmull_chunks, crc32c_armv8_pmull_one};
  return {};
}

crc_kernel kernel_of(crc32_zlib_tier t) {
  const crc_pipelined_func_t owner = engine_table_routines().pipelined_crc32_zlib_sb8;
  if (t == crc32_zlib_tier::armv8_crc_x3)
    return {owner, crc32_zlib_armv8_crc_x3_chunks, crc32_zlib_armv8_crc_x3_one};
  if (t == crc32_zlib_tier::armv8_pmull)
    return {owner, crc32_zlib_armv8_pmull_chunks, crc32_zlib_armv8_pmull_one};
  return {};
}

// Cores that issue four PMULL a cycle (Neoverse V1, V2, V3 and V3AE) or
// fuse PMULL with EOR (Apple): folds reach about 25-32 bytes a cycle there,
// against 8 for the CRC instruction.  On the others (Neoverse N1-N3: one
// PMULL a cycle) folds gain nothing over the chains.
bool folds_pay(const cpu_features &f) {
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

void install(crc32c_tier t) {
  g_crc32c_tier = t;
  crc32c_kernel = kernel_of(t);
}

void install(crc32_zlib_tier t) {
  g_crc32_zlib_tier = t;
  crc32_zlib_kernel = kernel_of(t);
}

}  // namespace

// Both kernels need both: the chains of a lone chunk are joined by PMULL,
// and the folds end on the CRC instruction.
bool runs_here(crc32c_tier tier, const cpu_features &f) {
  if (tier == crc32c_tier::specified) return true;
  return (tier == crc32c_tier::armv8_crc_x3 || tier == crc32c_tier::armv8_pmull) &&
         f.arm_crc32 && f.arm_pmull;
}

bool runs_here(crc32_zlib_tier tier, const cpu_features &f) {
  if (tier == crc32_zlib_tier::specified) return true;
  return (tier == crc32_zlib_tier::armv8_crc_x3 || tier == crc32_zlib_tier::armv8_pmull) &&
         f.arm_crc32 && f.arm_pmull;
}

// Every core with figures in the notes issues one CRC instruction a cycle
// at a latency of two or three: three chains saturate it.  Where PMULL is
// faster still, long chunks are folded (folds_pay).
crc32c_tier choose_crc32c_tier(const cpu_features &f) {
  if (!runs_here(crc32c_tier::armv8_crc_x3, f)) return crc32c_tier::specified;
  return folds_pay(f) ? crc32c_tier::armv8_pmull : crc32c_tier::armv8_crc_x3;
}

crc32_zlib_tier choose_crc32_zlib_tier(const cpu_features &f) {
  if (!runs_here(crc32_zlib_tier::armv8_crc_x3, f)) return crc32_zlib_tier::specified;
  return folds_pay(f) ? crc32_zlib_tier::armv8_pmull : crc32_zlib_tier::armv8_crc_x3;
}

#endif  // __x86_64__, __aarch64__

#if defined(__x86_64__) || defined(__aarch64__)

// Both architectures read their features into g_features and install
// through their own install().
void select_tiers_at_load() {
  g_features = read_cpu_features();
  install(choose_crc32c_tier(g_features));
  install(choose_crc32_zlib_tier(g_features));
}

bool force_tier(crc32c_tier tier) {
  if (!runs_here(tier, g_features)) return false;
  install(tier);
  return true;
}

bool force_tier(crc32_zlib_tier tier) {
  if (!runs_here(tier, g_features)) return false;
  install(tier);
  return true;
}

#else  // neither: no kernels, no hardware routine; the slots' routines serve.

crc_pipelined_func_t engine_hardware_routine() { return nullptr; }
bool runs_here(crc32c_tier tier, const cpu_features &) { return tier == crc32c_tier::specified; }
bool runs_here(crc32_zlib_tier tier, const cpu_features &) {
  return tier == crc32_zlib_tier::specified;
}
crc32c_tier choose_crc32c_tier(const cpu_features &) { return crc32c_tier::specified; }
crc32_zlib_tier choose_crc32_zlib_tier(const cpu_features &) {
  return crc32_zlib_tier::specified;
}
void select_tiers_at_load() {}
bool force_tier(crc32c_tier tier) { return tier == crc32c_tier::specified; }
bool force_tier(crc32_zlib_tier tier) { return tier == crc32_zlib_tier::specified; }

#endif  // __x86_64__, __aarch64__

#if !defined(__x86_64__)
// Models and splits belong to the x86-64 512-bit tiers.
bool force_tier_model(crc32_zlib_tier) { return false; }
bool force_tier_model(crc32c_tier) { return false; }
hybrid_split choose_hybrid_split(const cpu_features &) { return hybrid_split::k3m3s3; }
#endif  // !__x86_64__

}  // namespace zelkor
