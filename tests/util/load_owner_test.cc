// load_owner_test.cc -- libzelkor.so runs its own load-time selection, even
// where another definition of init_cpu_support_flag comes first in the
// process: one in a preloaded object, or the program's own copy of the
// engine (built with ZELKOR_OWN_ENGINE, and exporting its symbols).
//
// The library's choice is read from its internal state through the
// unstripped library's symbol table (nm), never through an export: the CRC32C
// slot must hold the library's hardware routine where the processor has its
// instruction (SSE4.2; on aarch64 the CRC extension), and the kernel record
// must stand for that routine.
#if defined(__x86_64__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "util/bulk_crc32.h"

#ifdef ZELKOR_OWN_ENGINE
#include "util/bulk_crc32_internal.h"
#endif

namespace {

// The library's address and the offsets of its local symbols, demangled.
struct library_image {
  uintptr_t base = 0;
  std::map<std::string, uintptr_t> symbols;
};

library_image load_library() {
  library_image lib;
  void *handle = dlopen(ZELKOR_LIBRARY_PATH, RTLD_NOW);
  if (handle == nullptr) {
    ADD_FAILURE() << dlerror();
    return lib;
  }
  // Through the handle, the library's own bulk_crc (the program may define one too).
  Dl_info info{};
  if (dladdr(dlsym(handle, "bulk_crc"), &info) == 0) {
    ADD_FAILURE() << "dladdr knows nothing of the library";
    return lib;
  }
  lib.base = reinterpret_cast<uintptr_t>(info.dli_fbase);
  const std::string cmd = std::string("nm -C --defined-only ") + info.dli_fname;
  FILE *nm = popen(cmd.c_str(), "r");
  if (nm == nullptr) {
    ADD_FAILURE() << "cannot run " << cmd;
    return lib;
  }
  char line[4096];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    unsigned long long value;
    char kind;
    int name_at = 0;
    if (std::sscanf(line, "%llx %c %n", &value, &kind, &name_at) < 2) continue;
    std::string name(line + name_at);
    if (!name.empty() && name.back() == '\n') name.pop_back();
    lib.symbols[name] = static_cast<uintptr_t>(value);
  }
  EXPECT_EQ(pclose(nm), 0) << cmd;
  return lib;
}

template <class T>
T read_at(const library_image &lib, const std::string &symbol) {
  const auto it = lib.symbols.find(symbol);
  if (it == lib.symbols.end()) {
    ADD_FAILURE() << "no symbol " << symbol << " in the library";
    return T{};
  }
  return *reinterpret_cast<const T *>(lib.base + it->second);
}

uintptr_t address_of(const library_image &lib, const std::string &prefix) {
  for (const auto &[name, value] : lib.symbols)
    if (name.rfind(prefix, 0) == 0) return lib.base + value;
  ADD_FAILURE() << "no symbol " << prefix << "... in the library";
  return 0;
}

bool has_crc32c_instruction() {
#if defined(__x86_64__)
  unsigned eax, ebx, ecx, edx;
  __cpuid(1, eax, ebx, ecx, edx);
  return ecx & (1u << 20);
#elif defined(__aarch64__)
  return getauxval(AT_HWCAP) & HWCAP_CRC32;
#endif
}

TEST(LoadOwner, LibraryMadeItsOwnChoice) {
  const library_image lib = load_library();
  ASSERT_NE(lib.base, 0u);
  const uintptr_t slot = read_at<uintptr_t>(lib, "pipelined_crc32c_func");
  const uintptr_t hardware = address_of(lib, "(anonymous namespace)::pipelined_crc32c(");
  const uintptr_t tables = address_of(lib, "(anonymous namespace)::pipelined_crc32c_sb8(");
  EXPECT_EQ(slot, has_crc32c_instruction() ? hardware : tables);
  // The kernel record (owner, chunks, one) stands for that routine, if any kernel was chosen.
  struct record {
    uintptr_t owner, chunks, one;
  };
  const record kernel = read_at<record>(lib, "zelkor::crc32c_kernel");
  if (kernel.chunks != 0) {
    EXPECT_EQ(kernel.owner, hardware);
  }
}

TEST(LoadOwner, OtherDefinitionNeverCalledByTheLibrary) {
  load_library();
  const void *calls = dlsym(RTLD_DEFAULT, "zelkor_takeover_calls");
#ifndef ZELKOR_OWN_ENGINE
  ASSERT_NE(calls, nullptr) << "the other definition was not preloaded";
#endif
  if (calls != nullptr) {
    EXPECT_EQ(*static_cast<const int *>(calls), 0) << "the preloaded definition ran";
  }
#ifdef ZELKOR_OWN_ENGINE
  // The program's own copy chose for itself, once, as its own constructor.
  EXPECT_EQ(pipelined_crc32c_func != zelkor::engine_table_routines().pipelined_crc32c_sb8,
            has_crc32c_instruction());
  EXPECT_NE(reinterpret_cast<void *>(&init_cpu_support_flag), nullptr);
#endif
}

}  // namespace
