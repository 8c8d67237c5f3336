// bulk_crc32_aarch64.cc -- CRC32C on the ARMv8 crc32c instructions, chosen at
// load time.
//
// The aarch64 counterpart of bulk_crc32_x86.cc, with the same routine shape,
// the same assertion and the same constructor: the processor's answer comes
// from the kernel's AT_HWCAP word (crc/aarch64/cpu_features.cc), and only
// pipelined_crc32c is compiled for the CRC extension, since the constructor
// runs on every ARMv8 processor.
#include "bulk_crc32_internal.h"
#include "crc/cpu_features.h"
#include "crc/aarch64/armv8_crc_chains.h"
#include "crc/tiers.h"

namespace {

using step = zelkor::armv8_crc32c_step;

// The instruction's latency is two or three cycles at one issue a cycle, so
// three chains keep it busy, as on x86-64.
__attribute__((target("+crc"))) void pipelined_crc32c(uint32_t *crc1, uint32_t *crc2,
                                                       uint32_t *crc3, const uint8_t *p_buf,
                                                       size_t block_size, int num_blocks) {
  if (num_blocks == 0) return;  // nothing to read, no register touched
  if (!zelkor::chains::three_blocks<step>(crc1, crc2, crc3, p_buf, block_size, num_blocks))
    ZELKOR_ENGINE_ASSERT(0 && "BUG: Invalid number of checksum blocks");
}

}  // namespace

ZELKOR_ENGINE_AT_LOAD(pipelined_crc32c, zelkor::read_cpu_features().arm_crc32)
