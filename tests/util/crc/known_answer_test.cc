// known_answer_test.cc -- the check that the load-time choice makes of every
// kernel and multiplier before installing it: every row that runs here gives
// the known answers (so the compiler's answers agree with kernels that the
// other suites check against zlib and the bitwise definition), and a row
// made to disagree is replaced by the nearest row below it that agrees,
// which zelkor_crc_implementation then names.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crc_reference.h"
#include "engine_tiers.h"
#include "util/crc/known_answer.h"
#include "util/crc/multiply.h"
#include "util/zelkor_crc.h"

namespace {

using zelkor::crc_poly;
using zelkor::tier_row;

// Puts the load-time choice back, with no row disagreeing.
struct reselect_on_exit {
  reselect_on_exit() = default;
  reselect_on_exit(const reselect_on_exit &) = delete;
  reselect_on_exit &operator=(const reselect_on_exit &) = delete;
  ~reselect_on_exit() {
    zelkor::disagree_for_test(nullptr);
    zelkor::select_tiers_at_load();
  }
};

TEST(KnownAnswers, HoldForEveryRowThatRunsHere) {
  const zelkor::cpu_features f = zelkor::read_cpu_features();
  int checked = 0;
  for (const tier_row &r : zelkor::tier_rows()) {
    if (zelkor::runs_here(r, f)) {
      EXPECT_TRUE(zelkor::known_answers_hold(r, false)) << r.name;
      ++checked;
    }
    if (zelkor::model_runs_here(r, f)) {
      EXPECT_TRUE(zelkor::known_answers_hold(r, true)) << r.name;
    }
  }
  for (const zelkor::multiplier_row &m : zelkor::multiplier_rows()) {
    if (m.needs(f)) {
      EXPECT_TRUE(zelkor::known_answers_hold(m)) << m.name;
    }
  }
  EXPECT_GE(checked, 3);  // the slot routine rows and CRC-64's tables at least
}

// Whether a row can be replaced: it has a kernel, and a row below it (a
// polynomial's first row, its slot routine or CRC-64's tables, is the last
// resort).
bool replaceable(const tier_row &r) {
  return zelkor::has_kernel(r) && &r != &zelkor::tier_rows()[static_cast<size_t>(r.poly)];
}

// The nearest row below that runs here, as the table orders them.
const tier_row &row_below(const tier_row &r, const zelkor::cpu_features &f) {
  const auto rows = zelkor::tier_rows();
  for (size_t i = static_cast<size_t>(&r - rows.data()); i-- > 0;)
    if (rows[i].poly == r.poly && zelkor::runs_here(rows[i], f)) return rows[i];
  ADD_FAILURE() << r.name << " has no row below it";
  return r;
}

TEST(KnownAnswers, ADisagreeingKernelGivesWayToTheNextThatAgrees) {
  const zelkor::cpu_features f = zelkor::read_cpu_features();
  reselect_on_exit reselect;
  for (const tier_row &r : zelkor::tier_rows()) {
    if (!replaceable(r) || !zelkor::runs_here(r, f)) continue;
    zelkor::disagree_for_test(&r);
    EXPECT_FALSE(zelkor::known_answers_hold(r, false)) << r.name;
    const tier_row &below = row_below(r, f);
    EXPECT_EQ(&zelkor::agreeing_tier(r, f), &below) << r.name;
    // Two rows disagreeing: the one below that too.
    if (replaceable(below)) {
      zelkor::disagree_for_test(&below);
      EXPECT_EQ(&zelkor::agreeing_tier(below, f), &row_below(below, f)) << below.name;
    }
  }
  zelkor::disagree_for_test(nullptr);
  for (const tier_row &r : zelkor::tier_rows()) {
    if (zelkor::runs_here(r, f)) {
      EXPECT_EQ(&zelkor::agreeing_tier(r, f), &r) << r.name;
    }
  }
}

// The whole load-time path: the chosen kernel of each type disagrees, the
// one below is installed and named, and the words are still right.
TEST(KnownAnswers, TheLoadTimeChoiceInstallsAndNamesTheFallback) {
  const zelkor::cpu_features f = zelkor::read_cpu_features();
  reselect_on_exit reselect;
  const std::vector<uint8_t> data = reference::random_bytes(5000, 23);
  for (int type : {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL, CRC64_NVME}) {
    const crc_poly poly = tiers::poly_of(type);
    const tier_row &chosen = zelkor::choose_tier(poly, f);
    EXPECT_EQ(&zelkor::tier_in_force(poly), &chosen);
    EXPECT_STREQ(zelkor_crc_implementation(type), zelkor::tier_name(chosen));
    if (!replaceable(chosen)) continue;  // nothing to replace
    zelkor::disagree_for_test(&chosen);
    zelkor::select_tiers_at_load();
    const tier_row &below = row_below(chosen, f);
    EXPECT_EQ(&zelkor::tier_in_force(poly), &below);
    EXPECT_STREQ(zelkor_crc_implementation(type), zelkor::tier_name(below));
    EXPECT_EQ(std::strncmp(zelkor_crc_implementation(type), below.name, std::strlen(below.name)),
              0);
    if (type == CRC64_NVME) {
      uint64_t crc = 0;
      ASSERT_EQ(zelkor_crc64_update(type, &crc, data.data(), data.size()), 0);
      EXPECT_EQ(crc, reference::crc64_nvme(data.data(), data.size()));
      continue;
    }
    std::vector<uint32_t> words((data.size() + 511) / 512);
    ASSERT_EQ(bulk_crc(data.data(), data.size(), words.data(), type, 512, nullptr), 0);
    EXPECT_EQ(words, reference::stored_words(type, data.data(), data.size(), 512));
  }
  const zelkor::multiplier_row &mult = zelkor::choose_multiplier(f);
  if (&mult != &zelkor::multiplier_rows()[0]) {
    zelkor::disagree_for_test(&mult);
    zelkor::select_tiers_at_load();
    EXPECT_NE(&zelkor::multiplier_in_force(), &mult);
    EXPECT_LT(&zelkor::multiplier_in_force(), &mult);
    std::vector<uint32_t> words((data.size() + 3) / 4);
    ASSERT_EQ(bulk_crc(data.data(), data.size(), words.data(), CRC32C_POLYNOMIAL, 4, nullptr), 0);
    uint32_t crc = 0;
    ASSERT_EQ(zelkor_crc_compose(CRC32C_POLYNOMIAL, words.data(), data.size(), 4, &crc), 0);
    EXPECT_EQ(crc, reference::crc(CRC32C_POLYNOMIAL, data.data(), data.size()));
  }
}

TEST(Implementation, NamesTheTierInForceForKnownTypesOnly) {
  tiers::restore_on_exit restore;
  for (int type : {0, 4, 99, -1}) EXPECT_EQ(zelkor_crc_implementation(type), nullptr) << type;
  std::vector<tiers::tier_case> cases = tiers::all();
  for (const tiers::tier_case &c : tiers::all64()) cases.push_back(c);
  for (const tiers::tier_case &c : cases) {
    if (!tiers::force(c)) continue;
    const char *text = zelkor_crc_implementation(c.type);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, zelkor::tier_name(*c.row, c.model)) << c.label;
    // The short name first; a model says so.
    const std::string want = std::string(c.row->name) + (c.model ? "_model (" : " (");
    EXPECT_EQ(std::string(text).substr(0, want.size()), want) << text;
  }
}

}  // namespace
