// The hardware module that this architecture builds (bulk_crc32_x86 or
// bulk_crc32_aarch64): its load-time choice of the CRC32C slot, and the
// assertion reports of the pipelined routines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#if defined(__x86_64__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

#include "bulk_crc32_internal.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

const zelkor::table_routines &R = zelkor::engine_table_routines();

// Asked of the processor directly, not through the engine's feature reader,
// so that a reader that misreads it is caught.  Where a run hides the
// instructions (an emulated processor without SSE4.2, a HWCAP bit cleared),
// the answer is no.
#if defined(__x86_64__)
bool processor_has_crc32c_instruction() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 20));  // SSE4.2
}
constexpr char kModule[] = ": util/bulk_crc32_x86.cc:";
constexpr char kRoutine[] = ": pipelined_crc32c: ";
#elif defined(__aarch64__)
bool processor_has_crc32c_instruction() { return getauxval(AT_HWCAP) & HWCAP_CRC32; }
constexpr char kModule[] = ": util/bulk_crc32_aarch64.cc:";
constexpr char kRoutine[] = ": pipelined_crc32c: ";
#else
#error "no hardware module for this architecture"
#endif

// The constructor has run before main: the CRC32C slot holds the hardware
// routine exactly when the processor has its instruction, else the tables
// stay; the CRC-32 slot is never changed.
TEST(Dispatch, SlotsAfterLoadFollowTheProcessor) {
  ASSERT_NE(zelkor::engine_hardware_routine(), nullptr);
  if (processor_has_crc32c_instruction())
    EXPECT_EQ(pipelined_crc32c_func, zelkor::engine_hardware_routine());
  else
    EXPECT_EQ(pipelined_crc32c_func, R.pipelined_crc32c_sb8);
  EXPECT_EQ(pipelined_crc32_zlib_func, R.pipelined_crc32_zlib_sb8);
}

// The report names the module by its path below the source root, the plain
// function name, and the expression as written; it survives the release
// build (NDEBUG).
TEST(AssertionReportDeathTest, TableRoutinesRejectCountsOutsideOneToThree) {
  const struct {
    crc_pipelined_func_t func;
    const char *name;
  } routines[] = {{R.pipelined_crc32c_sb8, ": pipelined_crc32c_sb8: "},
                  {R.pipelined_crc32_zlib_sb8, ": pipelined_crc32_zlib_sb8: "}};
  for (const auto &r : routines)
    for (int count : {0, 4, -1}) {
      uint32_t c1 = 0, c2 = 0, c3 = 0;
      EXPECT_DEATH(r.func(&c1, &c2, &c3, nullptr, 8, count),
                   AllOf(HasSubstr(": util/bulk_crc32.cc:"), HasSubstr(r.name),
                         HasSubstr("Assertion `num_blocks >= 1 && num_blocks <=3 && "
                                   "\"invalid num_blocks\"' failed.")))
          << r.name << count;
    }
}

TEST(AssertionReportDeathTest, HardwareRoutineRejectsCountsAboveThree) {
  if (!processor_has_crc32c_instruction())
    GTEST_SKIP() << "this processor has no CRC32C instruction";
  const auto hw = zelkor::engine_hardware_routine();
  for (int count : {4, -1}) {
    uint32_t c1 = 0, c2 = 0, c3 = 0;
    EXPECT_DEATH(hw(&c1, &c2, &c3, nullptr, 8, count),
                 AllOf(HasSubstr(kModule), HasSubstr(kRoutine),
                       HasSubstr("Assertion `0 && \"BUG: Invalid number of checksum blocks\"' "
                                 "failed.")));
  }
  // A count of 0 returns at once, reading nothing and writing no register.
  uint32_t c1 = 1, c2 = 2, c3 = 3;
  hw(&c1, &c2, &c3, nullptr, 8, 0);
  EXPECT_EQ(c1 + c2 * 10 + c3 * 100, 321u);
}

}  // namespace
