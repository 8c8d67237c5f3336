// Group record fetch against a scripted getgrgid_r and an allocator that
// fails on demand: the outcomes the real name service will not produce.
//
// The test links the module's object with -Wl,--wrap= for getgrgid_r,
// malloc, calloc, realloc and free, so the module's calls (and any other
// direct calls linked into this program) land in the __wrap_ functions
// below.  The allocator wrappers pass straight through unless a test arms
// them around the call it examines.
#include <errno.h>
#include <grp.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "security/zelkor_group_info.h"

extern "C" {
int __real_getgrgid_r(gid_t gid, group *grp, char *buf, size_t buflen, group **result);
void *__real_malloc(size_t size);
void *__real_calloc(size_t n, size_t size);
void *__real_realloc(void *p, size_t size);
void __real_free(void *p);
void zelkor_group_info_c_layout(size_t out[4]);
}

namespace {

constexpr size_t kInitialBufSize = 8192;
constexpr size_t kMaxBufSize = 2097152;
char kPartial[] = "partial";

// ---- scripted getgrgid_r --------------------------------------------------

enum class OnZero { kFill, kNoEntry, kResultUntouched };

struct Script {
  int interruptions = 0;        // EINTR this many times before every other answer
  size_t fits_from = 0;         // ERANGE while the buffer is smaller
  int answer = 0;               // once the buffer fits
  OnZero on_zero = OnZero::kFill;
};

struct Call {
  size_t buflen;
  char *buf;
  const char *name_on_entry;
  bool result_null_on_entry;
  int returned;
};

Script g_script;
std::vector<Call> g_calls;
int g_interrupted = 0;  // EINTRs given since the last other answer

// Stores a one-member entry at the start of buf, as glibc would.
void Fill(gid_t gid, group *grp, char *buf) {
  auto **mem = reinterpret_cast<char **>(buf);
  char *strings = buf + 2 * sizeof(char *);
  strcpy(strings, "zkfake");
  strcpy(strings + 7, "x");
  strcpy(strings + 9, "alice");
  mem[0] = strings + 9;
  mem[1] = nullptr;
  *grp = group{strings, strings + 7, gid, mem};
}

int Answer(gid_t gid, group *grp, char *buf, size_t buflen, group **result) {
  if (g_interrupted < g_script.interruptions) {
    ++g_interrupted;
    // What an interrupted backend might leave behind.
    grp->gr_name = kPartial;
    *result = grp;
    return EINTR;
  }
  g_interrupted = 0;
  if (buflen < g_script.fits_from) {
    *result = nullptr;
    return ERANGE;
  }
  if (g_script.answer != 0) {
    *result = nullptr;
    return g_script.answer;
  }
  switch (g_script.on_zero) {
    case OnZero::kFill:
      Fill(gid, grp, buf);
      *result = grp;
      break;
    case OnZero::kNoEntry:
      *result = nullptr;
      break;
    case OnZero::kResultUntouched:
      break;
  }
  return 0;
}

// ---- allocator with fault injection and a ledger --------------------------

struct Allocs {
  bool armed = false;
  int calls = 0;    // malloc, calloc and realloc calls while armed
  int fail_at = 0;  // the call (1-based) that returns null; 0: none
  std::array<void *, 16> live{};  // blocks taken while armed and not freed

  bool Fail() { return ++calls == fail_at; }
  void Add(void *p) {
    if (p == nullptr) return;
    auto slot = std::find(live.begin(), live.end(), nullptr);
    ASSERT_NE(slot, live.end()) << "ledger full";
    *slot = p;
  }
  void Remove(void *p) {
    if (p == nullptr) return;
    auto slot = std::find(live.begin(), live.end(), p);
    if (slot != live.end()) *slot = nullptr;
  }
  int Live() const {
    return static_cast<int>(std::count_if(live.begin(), live.end(),
                                          [](void *p) { return p != nullptr; }));
  }
};
Allocs g_allocs;

// Arms the allocator wrappers for the scope; every test leaves them off.
struct Armed {
  explicit Armed(int fail_at) {
    g_allocs = Allocs{};
    g_allocs.fail_at = fail_at;
    g_allocs.armed = true;
  }
  ~Armed() { g_allocs.armed = false; }
};

}  // namespace

extern "C" {

int __wrap_getgrgid_r(gid_t gid, group *grp, char *buf, size_t buflen, group **result) {
  Call call{buflen, buf, grp->gr_name, *result == nullptr, 0};
  call.returned = Answer(gid, grp, buf, buflen, result);
  g_calls.push_back(call);
  return call.returned;
}

void *__wrap_malloc(size_t size) {
  if (!g_allocs.armed) return __real_malloc(size);
  if (g_allocs.Fail()) return nullptr;
  void *p = __real_malloc(size);
  g_allocs.Add(p);
  return p;
}

void *__wrap_calloc(size_t n, size_t size) {
  if (!g_allocs.armed) return __real_calloc(n, size);
  if (g_allocs.Fail()) return nullptr;
  void *p = __real_calloc(n, size);
  g_allocs.Add(p);
  return p;
}

void *__wrap_realloc(void *old, size_t size) {
  if (!g_allocs.armed) return __real_realloc(old, size);
  if (g_allocs.Fail()) return nullptr;  // the old block stays, as with a real failure
  void *p = __real_realloc(old, size);
  if (p != nullptr) {
    g_allocs.Remove(old);
    g_allocs.Add(p);
  }
  return p;
}

void __wrap_free(void *p) {
  if (g_allocs.armed) g_allocs.Remove(p);
  __real_free(p);
}

}  // extern "C"

namespace {

struct RecordDeleter {
  void operator()(zelkor_group_info *g) const { zelkor_group_info_free(g); }
};
using Record = std::unique_ptr<zelkor_group_info, RecordDeleter>;

class GroupInfoWrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_script = Script{};
    g_calls.clear();
    g_interrupted = 0;
    g_allocs = Allocs{};
    record_.reset(zelkor_group_info_alloc());
    ASSERT_NE(record_, nullptr);
  }

  int Fetch(const Script &script, gid_t gid = 4242) {
    g_script = script;
    g_calls.clear();
    g_interrupted = 0;
    return zelkor_group_info_fetch(record_.get(), gid);
  }

  std::vector<size_t> CallSizes() const {
    std::vector<size_t> sizes;
    for (const Call &c : g_calls)
      if (c.returned != EINTR) sizes.push_back(c.buflen);
    return sizes;
  }

  void ExpectFilled(gid_t gid) const {
    ASSERT_NE(record_->group.gr_name, nullptr);
    EXPECT_STREQ(record_->group.gr_name, "zkfake");
    EXPECT_EQ(record_->group.gr_gid, gid);
    ASSERT_NE(record_->group.gr_mem, nullptr);
    EXPECT_STREQ(record_->group.gr_mem[0], "alice");
  }

  Record record_;
};

TEST(GroupInfoLayout, NewRecordIsEmptyWithInitialBufferAndCAgrees) {
  Record g(zelkor_group_info_alloc());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->buf_sz, kInitialBufSize);
  EXPECT_NE(g->buf, nullptr);
  EXPECT_EQ(g->group.gr_name, nullptr);
  EXPECT_EQ(g->group.gr_passwd, nullptr);
  EXPECT_EQ(g->group.gr_gid, 0u);
  EXPECT_EQ(g->group.gr_mem, nullptr);

  size_t c[4];
  zelkor_group_info_c_layout(c);
  EXPECT_EQ(c[0], sizeof(zelkor_group_info));
  EXPECT_EQ(c[1], offsetof(zelkor_group_info, buf_sz));
  EXPECT_EQ(c[2], offsetof(zelkor_group_info, group));
  EXPECT_EQ(c[3], offsetof(zelkor_group_info, buf));
  EXPECT_LT(c[1], c[2]);
  EXPECT_LT(c[2], c[3]);
}

// What getgrgid_r returns, after two interruptions, and what the fetch
// makes of it.  Only EIO, ENOMEM, ENFILE and EMFILE pass through; EINTR and
// ERANGE are never returned.
struct TranslationCase {
  const char *what;
  int answer;
  OnZero on_zero;
  int want;
};

void PrintTo(const TranslationCase &tc, std::ostream *os) { *os << tc.what; }

class GroupInfoTranslation : public GroupInfoWrapTest,
                             public ::testing::WithParamInterface<TranslationCase> {};

TEST_P(GroupInfoTranslation, ResultAfterInterruptions) {
  const TranslationCase &tc = GetParam();
  // A successful fetch first, so the empty-before-lookup is visible.
  ASSERT_EQ(Fetch({}), 0);

  Script script;
  script.interruptions = 2;
  script.answer = tc.answer;
  script.on_zero = tc.on_zero;
  EXPECT_EQ(Fetch(script), tc.want);

  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].name_on_entry, nullptr);  // emptied before the first call
  EXPECT_EQ(g_calls[1].name_on_entry, kPartial);  // ... and not again
  for (const Call &c : g_calls) {
    EXPECT_TRUE(c.result_null_on_entry);
    EXPECT_EQ(c.buflen, kInitialBufSize);
    EXPECT_EQ(c.buf, record_->buf);
  }
  EXPECT_EQ(record_->buf_sz, kInitialBufSize);
  if (tc.want == 0) ExpectFilled(4242);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, GroupInfoTranslation,
    ::testing::Values(
        TranslationCase{"Found", 0, OnZero::kFill, 0},
        TranslationCase{"NoEntry", 0, OnZero::kNoEntry, ENOENT},
        // A backend that does not set the result pointer must not revive
        // the one an interrupted call left.
        TranslationCase{"ResultUntouched", 0, OnZero::kResultUntouched, ENOENT},
        TranslationCase{"EIO", EIO, OnZero::kFill, EIO},
        TranslationCase{"ENOMEM", ENOMEM, OnZero::kFill, ENOMEM},
        TranslationCase{"ENFILE", ENFILE, OnZero::kFill, ENFILE},
        TranslationCase{"EMFILE", EMFILE, OnZero::kFill, EMFILE},
        TranslationCase{"EACCES", EACCES, OnZero::kFill, ENOENT},
        TranslationCase{"EAGAIN", EAGAIN, OnZero::kFill, ENOENT},
        TranslationCase{"EPERM", EPERM, OnZero::kFill, ENOENT},
        TranslationCase{"ENOENT", ENOENT, OnZero::kFill, ENOENT},
        TranslationCase{"Minus1", -1, OnZero::kFill, ENOENT},
        TranslationCase{"MinusEINTR", -EINTR, OnZero::kFill, ENOENT},
        TranslationCase{"MinusERANGE", -ERANGE, OnZero::kFill, ENOENT}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(GroupInfoWrapTest, InterruptionsRepeatWithoutLimit) {
  Script script;
  script.interruptions = 10000;
  EXPECT_EQ(Fetch(script), 0);
  EXPECT_EQ(g_calls.size(), 10001u);
  ExpectFilled(4242);
}

// ERANGE doubles the buffer before the next call, up to 2 MiB; interruptions
// in between neither count nor change the size.
struct GrowthCase {
  const char *what;
  size_t fits_from;
  int interruptions;
  int want;
  std::vector<size_t> sizes;  // buflen of each call that was not interrupted
};

void PrintTo(const GrowthCase &tc, std::ostream *os) { *os << tc.what; }

class GroupInfoGrowth : public GroupInfoWrapTest,
                        public ::testing::WithParamInterface<GrowthCase> {};

TEST_P(GroupInfoGrowth, SizesAndResult) {
  const GrowthCase &tc = GetParam();
  Script script;
  script.fits_from = tc.fits_from;
  script.interruptions = tc.interruptions;
  EXPECT_EQ(Fetch(script), tc.want);
  EXPECT_EQ(CallSizes(), tc.sizes);
  EXPECT_EQ(g_calls.size(), tc.sizes.size() * (1 + tc.interruptions));
  const size_t grown = tc.sizes.back();
  EXPECT_EQ(record_->buf_sz, grown);
  if (tc.want == 0) ExpectFilled(4242);

  // The next fetch starts at the grown size, and a small entry keeps it.
  EXPECT_EQ(Fetch({}), 0);
  EXPECT_EQ(CallSizes(), std::vector<size_t>{grown});
  EXPECT_EQ(record_->buf_sz, grown);
  ExpectFilled(4242);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, GroupInfoGrowth,
    ::testing::Values(
        GrowthCase{"FitsAtOnce", 8192, 0, 0, {8192}},
        GrowthCase{"OneByteOver", 8193, 0, 0, {8192, 16384}},
        GrowthCase{"FourDoublings", 100000, 0, 0, {8192, 16384, 32768, 65536, 131072}},
        GrowthCase{"FitsAtCeiling",
                   kMaxBufSize,
                   0,
                   0,
                   {8192, 16384, 32768, 65536, 131072, 262144, 524288, 1048576, 2097152}},
        // Nine ERANGE answers, one at each size, then ENOMEM.
        GrowthCase{"NeverFits",
                   SIZE_MAX,
                   0,
                   ENOMEM,
                   {8192, 16384, 32768, 65536, 131072, 262144, 524288, 1048576, 2097152}},
        GrowthCase{"NeverFitsInterrupted",
                   SIZE_MAX,
                   3,
                   ENOMEM,
                   {8192, 16384, 32768, 65536, 131072, 262144, 524288, 1048576, 2097152}}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(GroupInfoWrapTest, AtCeilingNextTooLargeEntryIsENOMEMInOneCall) {
  Script never;
  never.fits_from = SIZE_MAX;
  ASSERT_EQ(Fetch(never), ENOMEM);
  EXPECT_EQ(Fetch(never), ENOMEM);
  EXPECT_EQ(CallSizes(), std::vector<size_t>{kMaxBufSize});
  EXPECT_EQ(record_->buf_sz, kMaxBufSize);
}

// The k-th resize of one fetch fails: ENOMEM, and the record keeps the buffer
// and size it had, whole and usable.
class GroupInfoReallocFailure : public GroupInfoWrapTest,
                                public ::testing::WithParamInterface<int> {};

TEST_P(GroupInfoReallocFailure, KeepsBufferAndSize) {
  const int failing = GetParam();
  Script big;
  big.fits_from = 100000;
  int ret;
  {
    Armed armed(failing);
    ret = Fetch(big);
  }
  EXPECT_EQ(ret, ENOMEM);
  EXPECT_EQ(g_allocs.calls, failing);
  const size_t kept = kInitialBufSize << (failing - 1);
  EXPECT_EQ(record_->buf_sz, kept);
  ASSERT_NE(record_->buf, nullptr);
  EXPECT_EQ(record_->buf, g_calls.back().buf);
  memset(record_->buf, 0x5a, record_->buf_sz);  // still owned, and that large

  EXPECT_EQ(Fetch(big), 0);
  EXPECT_EQ(record_->buf_sz, 131072u);
  ExpectFilled(4242);
}

INSTANTIATE_TEST_SUITE_P(NthResize, GroupInfoReallocFailure, ::testing::Values(1, 2, 4));

// zelkor_group_info_alloc makes two allocations; whichever fails, the result
// is null and nothing taken stays allocated.
TEST(GroupInfoAlloc, EitherAllocationFailingLeaksNothing) {
  for (const int failing : {1, 2}) {
    SCOPED_TRACE("allocation " + std::to_string(failing) + " fails");
    zelkor_group_info *g;
    {
      Armed armed(failing);
      g = zelkor_group_info_alloc();
    }
    EXPECT_EQ(g, nullptr);
    EXPECT_GE(g_allocs.calls, failing);
    EXPECT_EQ(g_allocs.Live(), 0);
  }
  // The ledger sees a successful pair and its release.
  {
    Armed armed(0);
    zelkor_group_info *g = zelkor_group_info_alloc();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g_allocs.Live(), 2);
    zelkor_group_info_free(g);
    EXPECT_EQ(g_allocs.Live(), 0);
  }
}

}  // namespace
