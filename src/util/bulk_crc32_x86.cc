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

// Runs from the image's ELF initialisation array: before main in a program,
// before dlopen returns in the library.  It is the only writer of the slot.
// It then reads the processor's features once and picks the kernels, which
// bulk_crc uses only while the slot holds the routine set here.
//
// The array's entry names this hidden symbol, and init_cpu_support_flag is
// exported as an alias of the same code: an entry that named the exported
// symbol would be bound at load time like any other reference to it, so that
// a program or a preloaded object defining the same name would have its own
// function run in place of the library's, and the library's choice would
// never be made.
__attribute__((constructor, visibility("hidden"))) void zelkor_engine_at_load(void) {
  if (zelkor::cpuid(1) & kSse42) pipelined_crc32c_func = pipelined_crc32c;
  zelkor::select_tiers_at_load();
}

__attribute__((visibility("default"), alias("zelkor_engine_at_load"))) void
init_cpu_support_flag(void);

}  // extern "C"

namespace zelkor {

crc_pipelined_func_t engine_hardware_routine() { return pipelined_crc32c; }

}  // namespace zelkor
