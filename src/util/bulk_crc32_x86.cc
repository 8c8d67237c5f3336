// bulk_crc32_x86.cc -- CRC32C on the SSE4.2 CRC32 instruction, chosen at load time.
//
// The instruction has a latency of three cycles and, on most cores, issues
// once per cycle, so three independent chains (three chunks walked in
// lockstep) keep it busy.  Only pipelined_crc32c is compiled for SSE4.2: the
// constructor runs on every x86-64 processor and must not contain a single
// newer instruction (cpuid, in crc/cpu_features.cc, neither).
#include <nmmintrin.h>

#include "bulk_crc32_internal.h"
#include "crc/cpu_features.h"
#include "crc/tiers.h"

namespace {

using zelkor::load_le64;

constexpr uint32_t kSse42 = 1u << 20;  // CPUID.1:ECX

__attribute__((target("sse4.2"))) void pipelined_crc32c(uint32_t *crc1, uint32_t *crc2,
                                                       uint32_t *crc3, const uint8_t *p_buf,
                                                       size_t block_size, int num_blocks) {
  if (num_blocks == 0) return;  // nothing to read, no register touched
  uint64_t c1 = *crc1, c2 = *crc2, c3 = *crc3;
  const int counter = static_cast<int>(block_size / 8);
  const int remainder = static_cast<int>(block_size % 8);
  const uint8_t *data = p_buf;
  const uint8_t *bdata = p_buf + 8 * static_cast<size_t>(counter);
  const size_t b2 = block_size, b3 = 2 * block_size;

  // One pair of loops per count, so the count is tested once per call.
  switch (num_blocks) {
    case 3:
      for (int i = 0; i < counter; ++i, data += 8) {
        c1 = _mm_crc32_u64(c1, load_le64(data));
        c2 = _mm_crc32_u64(c2, load_le64(data + b2));
        c3 = _mm_crc32_u64(c3, load_le64(data + b3));
      }
      for (int i = 0; i < remainder; ++i, ++bdata) {
        c1 = _mm_crc32_u8(static_cast<uint32_t>(c1), *bdata);
        c2 = _mm_crc32_u8(static_cast<uint32_t>(c2), bdata[b2]);
        c3 = _mm_crc32_u8(static_cast<uint32_t>(c3), bdata[b3]);
      }
      break;
    case 2:
      for (int i = 0; i < counter; ++i, data += 8) {
        c1 = _mm_crc32_u64(c1, load_le64(data));
        c2 = _mm_crc32_u64(c2, load_le64(data + b2));
      }
      for (int i = 0; i < remainder; ++i, ++bdata) {
        c1 = _mm_crc32_u8(static_cast<uint32_t>(c1), *bdata);
        c2 = _mm_crc32_u8(static_cast<uint32_t>(c2), bdata[b2]);
      }
      break;
    case 1:
      for (int i = 0; i < counter; ++i, data += 8) c1 = _mm_crc32_u64(c1, load_le64(data));
      for (int i = 0; i < remainder; ++i, ++bdata)
        c1 = _mm_crc32_u8(static_cast<uint32_t>(c1), *bdata);
      break;
    default:
      ZELKOR_ENGINE_ASSERT(0 && "BUG: Invalid number of checksum blocks");
  }
  *crc1 = static_cast<uint32_t>(c1);
  *crc2 = static_cast<uint32_t>(c2);
  *crc3 = static_cast<uint32_t>(c3);
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
