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
  uint32_t c[3] = {*crc1, *crc2, *crc3};
  // One loop per count, so the count is tested once per call.
  switch (num_blocks) {
    case 3: zelkor::chains::lockstep<step, 3, 0>(c, p_buf, block_size); break;
    case 2: zelkor::chains::lockstep<step, 2, 0>(c, p_buf, block_size); break;
    case 1: zelkor::chains::lockstep<step, 1, 0>(c, p_buf, block_size); break;
    default:
      ZELKOR_ENGINE_ASSERT(0 && "BUG: Invalid number of checksum blocks");
  }
  *crc1 = c[0];
  *crc2 = c[1];
  *crc3 = c[2];
}

}  // namespace

extern "C" {

// Runs from the image's ELF initialisation array, and is the only writer of
// the slot.  The array names this hidden symbol and the exported name is an
// alias, for the reason given in bulk_crc32_x86.cc: an entry bound to the
// exported name could run another image's definition instead of this one.
__attribute__((constructor, visibility("hidden"))) void zelkor_engine_at_load(void) {
  if (zelkor::read_cpu_features().arm_crc32) pipelined_crc32c_func = pipelined_crc32c;
  zelkor::select_tiers_at_load();
}

__attribute__((visibility("default"), alias("zelkor_engine_at_load"))) void
init_cpu_support_flag(void);

}  // extern "C"

namespace zelkor {

crc_pipelined_func_t engine_hardware_routine() { return pipelined_crc32c; }

}  // namespace zelkor
