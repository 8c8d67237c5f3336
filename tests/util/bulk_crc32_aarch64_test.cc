// Load-time selection on aarch64 and the assertion reports of the pipelined
// routines: the counterpart of bulk_crc32_x86_test.cc, with the kernel's
// HWCAP word in place of CPUID.
#include <asm/hwcap.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>

#include "bulk_crc32_internal.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

const zelkor::table_routines &R = zelkor::engine_table_routines();

bool hwcap_reports_crc32() { return getauxval(AT_HWCAP) & HWCAP_CRC32; }

// The constructor has run before main: the CRC32C slot holds the hardware
// routine exactly when HWCAP reports the CRC instructions (where a run hides
// them, the tables stay); the CRC-32 slot is never changed.
TEST(Dispatch, SlotsAfterLoadFollowHwcap) {
  ASSERT_NE(zelkor::engine_hardware_routine(), nullptr);
  if (hwcap_reports_crc32())
    EXPECT_EQ(pipelined_crc32c_func, zelkor::engine_hardware_routine());
  else
    EXPECT_EQ(pipelined_crc32c_func, R.pipelined_crc32c_sb8);
  EXPECT_EQ(pipelined_crc32_zlib_func, R.pipelined_crc32_zlib_sb8);
}

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

// The same report as the x86-64 routine's, naming this module.
TEST(AssertionReportDeathTest, HardwareRoutineRejectsCountsAboveThree) {
  if (!hwcap_reports_crc32()) GTEST_SKIP() << "this processor has no CRC32 instructions";
  const auto hw = zelkor::engine_hardware_routine();
  for (int count : {4, -1}) {
    uint32_t c1 = 0, c2 = 0, c3 = 0;
    EXPECT_DEATH(hw(&c1, &c2, &c3, nullptr, 8, count),
                 AllOf(HasSubstr(": util/bulk_crc32_aarch64.cc:"),
                       HasSubstr(": pipelined_crc32c: "),
                       HasSubstr("Assertion `0 && \"BUG: Invalid number of checksum blocks\"' "
                                 "failed.")));
  }
  // A count of 0 returns at once, reading nothing and writing no register.
  uint32_t c1 = 1, c2 = 2, c3 = 3;
  hw(&c1, &c2, &c3, nullptr, 8, 0);
  EXPECT_EQ(c1 + c2 * 10 + c3 * 100, 321u);
}

}  // namespace
