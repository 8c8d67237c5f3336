// bulk_crc32_internal.h -- what the engine's modules share among themselves.
//
// Nothing here is exported from the shared library: the build hides every
// symbol by default and the linker version script lists only the public API.
// Unit tests include this header to reach the routines and the slots.
#ifndef ZELKOR_UTIL_BULK_CRC32_INTERNAL_H
#define ZELKOR_UTIL_BULK_CRC32_INTERNAL_H

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bulk_crc32.h"

extern "C" {

// Advances up to three running CRC registers, each over its own block; the
// blocks are block_size bytes each and lie back to back from p_buf.  No
// initial value and no final inversion are applied.
typedef void (*crc_pipelined_func_t)(uint32_t *crc1, uint32_t *crc2, uint32_t *crc3,
                                     const uint8_t *p_buf, size_t block_size,
                                     int num_blocks);

// Dispatch slots, one per checksum type.  Constant-initialised to the table
// routines; the CRC32C slot is replaced once, by the load-time constructor of
// the hardware module, before any caller can run.
extern crc_pipelined_func_t pipelined_crc32c_func;
extern crc_pipelined_func_t pipelined_crc32_zlib_func;

// Load-time constructor of the hardware module (exported from the library).
void init_cpu_support_flag(void);

}  // extern "C"

namespace zelkor {

// The engine's private routines, reached by tests through these tables only;
// the routines themselves keep internal linkage.
struct table_routines {
  uint32_t (*crc32c_sb8)(uint32_t crc, const uint8_t *buf, size_t length);
  uint32_t (*crc32_zlib_sb8)(uint32_t crc, const uint8_t *buf, size_t length);
  crc_pipelined_func_t pipelined_crc32c_sb8;
  crc_pipelined_func_t pipelined_crc32_zlib_sb8;
};
const table_routines &engine_table_routines();

// The hardware CRC32C routine (SSE4.2 on x86-64, the CRC extension on
// aarch64), or null where no hardware module is built.
crc_pipelined_func_t engine_hardware_routine();

// A chunk's register starts from all ones; its stored word is the inverted
// register in network byte order.
inline constexpr uint32_t kRegisterInit = 0xFFFFFFFFu;
inline uint32_t stored_word(uint32_t reg) { return htonl(~reg); }

// Unaligned little-endian loads; memcpy keeps them defined at any address and
// compiles to a single move.
inline uint32_t load_le32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t load_le64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace zelkor

// The load-time constructor of a hardware module, which `routine` (the
// module's CRC32C routine) names, and where `available` (an expression run
// then) says whether this processor runs it.  It runs from the image's ELF
// initialisation array: before main in a program, before dlopen returns in
// the library.  It is the only writer of the slot.  It then reads the
// processor's features once and picks the kernels, which bulk_crc uses only
// while the slot holds the routine set here.
//
// The array's entry names a hidden symbol, and init_cpu_support_flag is
// exported as an alias of the same code: an entry that named the exported
// symbol would be bound at load time like any other reference to it, so that
// a program or a preloaded object defining the same name would have its own
// function run in place of the library's, and the library's choice would
// never be made.
#define ZELKOR_ENGINE_AT_LOAD(routine, available)                                         \
  extern "C" __attribute__((constructor, visibility("hidden"))) void                      \
  zelkor_engine_at_load(void) {                                                           \
    if (available) pipelined_crc32c_func = routine;                                        \
    zelkor::select_tiers_at_load();                                                       \
  }                                                                                       \
  extern "C" __attribute__((visibility("default"), alias("zelkor_engine_at_load"))) void  \
  init_cpu_support_flag(void);                                                            \
  crc_pipelined_func_t zelkor::engine_hardware_routine() { return routine; }

// Programming errors stop the process through glibc's assertion facility.
// Unlike assert(), this survives NDEBUG and names the function as C would
// (__func__), not with its full C++ signature.  <assert.h> declares the
// reporter only without NDEBUG, so it is declared here as glibc does.
extern "C" [[noreturn]] void __assert_fail(const char *assertion, const char *file,
                                           unsigned int line, const char *function) noexcept;
#define ZELKOR_ENGINE_ASSERT(expr) \
  ((expr) ? (void)0 : __assert_fail(#expr, __FILE__, __LINE__, __func__))

#endif  // ZELKOR_UTIL_BULK_CRC32_INTERNAL_H
