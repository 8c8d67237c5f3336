// bulk_crc32_x86.cc -- CRC32C on the SSE4.2 CRC32 instruction, chosen at load time.
//
// The instruction has a latency of three cycles and, on most cores, issues
// once per cycle, so three independent chains (three chunks walked in
// lockstep) keep it busy.  Only pipelined_crc32c is compiled for SSE4.2: the
// constructor runs on every x86-64 processor and must not contain a single
// newer instruction (cpuid, in crc/x86/cpu_features.cc, neither).
#include "bulk_crc32_internal.h"
#include "crc/cpu_features.h"
#include "crc/x86/crc32c_chains.h"
#include "crc/tiers.h"

namespace {

using step = zelkor::sse42_crc32c_step;

constexpr uint32_t kSse42 = 1u << 20;  // CPUID.1:ECX

__attribute__((target("sse4.2"))) void pipelined_crc32c(uint32_t *crc1, uint32_t *crc2,
                                                       uint32_t *crc3, const uint8_t *p_buf,
                                                       size_t block_size, int num_blocks) {
  if (num_blocks == 0) return;  // nothing to read, no register touched
  if (!zelkor::chains::three_blocks<step>(crc1, crc2, crc3, p_buf, block_size, num_blocks))
    ZELKOR_ENGINE_ASSERT(0 && "BUG: Invalid number of checksum blocks");
}

}  // namespace

ZELKOR_ENGINE_AT_LOAD(pipelined_crc32c, zelkor::cpuid(1) & kSse42)
