// tiers_test.cc -- the tier table of this architecture and the choice made
// at load (the feature reader and the table of processors are in x86/ and
// aarch64/).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "util/bulk_crc32_internal.h"
#include "util/crc/kernel.h"
#include "util/crc/tiers.h"

namespace {

using zelkor::crc_poly;
using zelkor::tier_row;

// Each 32-bit polynomial has one slot routine row and otherwise rows with
// both entries; CRC-64 rows have a 64-bit entry alone, the table row first.
// Names are unique per polynomial, and a row's title starts with its name.
TEST(TierTable, RowsAreWhole) {
  std::set<std::string> names;
  int slot_rows = 0;
  bool crc64_seen = false;
  for (const tier_row &r : zelkor::tier_rows()) {
    EXPECT_TRUE(names.insert(std::to_string(int(r.poly)) + r.name).second) << r.name;
    EXPECT_EQ(std::strncmp(r.title, r.name, std::strlen(r.name)), 0) << r.title;
    EXPECT_EQ(zelkor::find_tier(r.poly, r.name), &r);
    EXPECT_EQ(zelkor::has_model(r), r.model_needs != nullptr) << r.name;
    if (r.poly == crc_poly::crc64_nvme) {
      EXPECT_NE(r.native.one64, nullptr) << r.name;
      EXPECT_TRUE(r.native.chunks == nullptr && r.native.one == nullptr) << r.name;
      EXPECT_TRUE(r.model.chunks == nullptr && r.model.one == nullptr) << r.name;
      if (!crc64_seen) {
        EXPECT_STREQ(r.name, "table");
      }
      crc64_seen = true;
      continue;
    }
    EXPECT_TRUE(r.native.one64 == nullptr && r.model.one64 == nullptr) << r.name;
    EXPECT_EQ(r.native.chunks == nullptr, r.native.one == nullptr) << r.name;
    EXPECT_EQ(r.model.chunks == nullptr, r.model.one == nullptr) << r.name;
    EXPECT_EQ(r.model.chunks == nullptr, r.model_needs == nullptr) << r.name;
    if (r.native.chunks == nullptr) {
      ++slot_rows;
      EXPECT_STREQ(r.name, "slot_routine");
    }
  }
  EXPECT_EQ(slot_rows, 2);
  EXPECT_TRUE(crc64_seen);
  EXPECT_EQ(zelkor::find_tier(crc_poly::crc32c, "no such row"), nullptr);
}

// The constructor has run before main: each tier in force is the one the
// table gives for this processor, and its kernel stands for the routine
// that the type's slot holds (the hardware routine for CRC32C, the tables
// for CRC-32).
TEST(TierChoice, MadeAtLoadForThisProcessor) {
  const zelkor::cpu_features f = zelkor::read_cpu_features();
  const tier_row &c = zelkor::tier_in_force(crc_poly::crc32c);
  const tier_row &z = zelkor::tier_in_force(crc_poly::crc32_zlib);
  EXPECT_EQ(&c, &zelkor::choose_tier(crc_poly::crc32c, f));
  EXPECT_EQ(&z, &zelkor::choose_tier(crc_poly::crc32_zlib, f));
  if (c.native.chunks == nullptr) {
    EXPECT_EQ(zelkor::crc32c_kernel.chunks, nullptr);
  } else {
    EXPECT_EQ(pipelined_crc32c_func, zelkor::engine_hardware_routine());
    EXPECT_EQ(zelkor::crc32c_kernel.owner, pipelined_crc32c_func);
    EXPECT_EQ(zelkor::crc32c_kernel.chunks, c.native.chunks);
  }
  EXPECT_EQ(pipelined_crc32_zlib_func, zelkor::engine_table_routines().pipelined_crc32_zlib_sb8);
  if (z.native.chunks == nullptr) {
    EXPECT_EQ(zelkor::crc32_zlib_kernel.chunks, nullptr);
  } else {
    EXPECT_EQ(zelkor::crc32_zlib_kernel.owner, pipelined_crc32_zlib_func);
    EXPECT_EQ(zelkor::crc32_zlib_kernel.chunks, z.native.chunks);
  }
  const tier_row &n = zelkor::tier_in_force(crc_poly::crc64_nvme);
  EXPECT_EQ(&n, &zelkor::choose_tier(crc_poly::crc64_nvme, f));
  EXPECT_EQ(zelkor::crc64_nvme_kernel, n.native.one64);
  EXPECT_FALSE(zelkor::model_in_force(crc_poly::crc32c));
  EXPECT_FALSE(zelkor::model_in_force(crc_poly::crc32_zlib));
  EXPECT_FALSE(zelkor::model_in_force(crc_poly::crc64_nvme));
  std::printf("tiers here: CRC32C %s; CRC-32 %s; CRC-64/NVME %s\n", zelkor::tier_name(c),
              zelkor::tier_name(z), zelkor::tier_name(n));
  bool models_only = false;
  for (const tier_row &r : zelkor::tier_rows())
    if (zelkor::has_model(r) && !zelkor::runs_here(r, f)) models_only = true;
  std::printf("512-bit kernels here: %s\n", models_only
                                                ? "only their 128-bit models (the native rows skip)"
                                                : "native, and their 128-bit models");
}

// A row is forced only where it runs, and forcing it installs its kernel
// (or its model) under the routine it stands for.
TEST(TierChoice, ForcingInstallsTheRow) {
  const zelkor::cpu_features f = zelkor::read_cpu_features();
  const tier_row &c0 = zelkor::tier_in_force(crc_poly::crc32c);
  const tier_row &z0 = zelkor::tier_in_force(crc_poly::crc32_zlib);
  const tier_row &n0 = zelkor::tier_in_force(crc_poly::crc64_nvme);
  for (const tier_row &r : zelkor::tier_rows()) {
    const zelkor::crc_kernel &k =
        r.poly == crc_poly::crc32c ? zelkor::crc32c_kernel : zelkor::crc32_zlib_kernel;
    for (bool model : {false, true}) {
      const bool runs = model ? zelkor::model_runs_here(r, f) : zelkor::runs_here(r, f);
      ASSERT_EQ(zelkor::force_tier(r, model), runs) << r.name << (model ? " model" : "");
      if (!runs) continue;
      EXPECT_EQ(&zelkor::tier_in_force(r.poly), &r);
      EXPECT_EQ(zelkor::model_in_force(r.poly), model);
      if (r.poly == crc_poly::crc64_nvme) {
        EXPECT_EQ(zelkor::crc64_nvme_kernel, model ? r.model.one64 : r.native.one64) << r.name;
        continue;
      }
      EXPECT_EQ(k.chunks, model ? r.model.chunks : r.native.chunks) << r.name;
      EXPECT_EQ(k.one, model ? r.model.one : r.native.one) << r.name;
    }
  }
  ASSERT_TRUE(zelkor::force_tier(c0) && zelkor::force_tier(z0) && zelkor::force_tier(n0));
}

}  // namespace
