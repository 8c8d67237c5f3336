// Group record fetch against the real glibc name service.  Each suite runs
// under tests/harness/with_nss_fixture.sh with the group file named in its
// SetUp; the expected entries are read from that file, /etc/group in the
// namespace, rather than written down a second time.
#include <errno.h>
#include <grp.h>
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <latch>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "security/zelkor_group_info.h"

namespace {

constexpr size_t kInitialBufSize = 8192;
constexpr size_t kMaxBufSize = 2097152;

struct GroupLine {
  std::string name, passwd;
  gid_t gid;
  std::vector<std::string> members;
};

std::vector<std::string> Split(const std::string &s, char sep) {
  std::vector<std::string> parts;
  std::istringstream in(s);
  for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
  if (!s.empty() && s.back() == sep) parts.emplace_back();
  return parts;
}

std::optional<GroupLine> FixtureEntry(gid_t gid) {
  std::ifstream in("/etc/group");
  for (std::string line; std::getline(in, line);) {
    const auto fields = Split(line, ':');
    if (fields.size() != 4 || std::stoul(fields[2]) != gid) continue;
    GroupLine g{fields[0], fields[1], gid, {}};
    if (!fields[3].empty()) g.members = Split(fields[3], ',');
    return g;
  }
  return std::nullopt;
}

// The smallest buffer of the record's size sequence with which glibc itself
// answers without ERANGE; 0 when none up to the ceiling does.
size_t FirstFittingSize(gid_t gid) {
  for (size_t sz = kInitialBufSize; sz <= kMaxBufSize; sz *= 2) {
    std::vector<char> buf(sz);
    group grp{};
    group *result = nullptr;
    if (getgrgid_r(gid, &grp, buf.data(), buf.size(), &result) != ERANGE) return sz;
  }
  return 0;
}

bool InsideBuf(const zelkor_group_info &g, const void *p, size_t len) {
  const auto *c = static_cast<const char *>(p);
  return c >= g.buf && c + len <= g.buf + g.buf_sz;
}

// Name, password and members equal the fixture's line, and every string and
// the member array itself lie inside the record's buffer.
void ExpectEntry(const zelkor_group_info &g, const GroupLine &want) {
  EXPECT_EQ(g.group.gr_gid, want.gid);
  ASSERT_NE(g.group.gr_name, nullptr);
  EXPECT_EQ(g.group.gr_name, want.name);
  EXPECT_TRUE(InsideBuf(g, g.group.gr_name, want.name.size() + 1));
  ASSERT_NE(g.group.gr_passwd, nullptr);
  EXPECT_EQ(g.group.gr_passwd, want.passwd);
  EXPECT_TRUE(InsideBuf(g, g.group.gr_passwd, want.passwd.size() + 1));
  ASSERT_NE(g.group.gr_mem, nullptr);
  EXPECT_TRUE(InsideBuf(g, g.group.gr_mem, (want.members.size() + 1) * sizeof(char *)));
  size_t n = 0;
  for (; g.group.gr_mem[n] != nullptr && n < want.members.size(); ++n) {
    EXPECT_EQ(g.group.gr_mem[n], want.members[n]) << "member " << n;
    EXPECT_TRUE(InsideBuf(g, g.group.gr_mem[n], want.members[n].size() + 1)) << "member " << n;
  }
  EXPECT_EQ(n, want.members.size());
  EXPECT_EQ(g.group.gr_mem[n], nullptr);
}

struct RecordDeleter {
  void operator()(zelkor_group_info *g) const { zelkor_group_info_free(g); }
};
using Record = std::unique_ptr<zelkor_group_info, RecordDeleter>;

Record NewRecord() {
  Record g(zelkor_group_info_alloc());
  EXPECT_NE(g, nullptr);
  return g;
}

// Each suite belongs to one fixture; run elsewhere it would test the
// machine's own group database instead.
class NssFixtureTest : public ::testing::Test {
 protected:
  void RequireFixture(std::string_view name) {
    const char *dir = getenv("ZELKOR_NSS_FIXTURE");
    ASSERT_NE(dir, nullptr) << "run through tests/harness/with_nss_fixture.sh";
    const std::string_view path(dir);
    ASSERT_EQ(path.substr(path.rfind('/') + 1), name) << "fixture " << dir;
  }
};

class NssSmallGroups : public NssFixtureTest {
 protected:
  void SetUp() override { RequireFixture("groups-small"); }
};
class NssLargeGroup : public NssFixtureTest {
 protected:
  void SetUp() override { RequireFixture("groups-large"); }
};
class NssHugeGroup : public NssFixtureTest {
 protected:
  void SetUp() override { RequireFixture("groups-huge"); }
};
class NssGidExtremes : public NssFixtureTest {
 protected:
  void SetUp() override { RequireFixture("groups-extremes"); }
};
class NssConcurrentRecords : public NssFixtureTest {
 protected:
  void SetUp() override { RequireFixture("groups-large"); }
};
class NssSoak : public NssFixtureTest {
 protected:
  void SetUp() override { RequireFixture("groups-large"); }
};

TEST_F(NssSmallGroups, FetchFillsGroupWithStringsInsideBuf) {
  Record g = NewRecord();
  ASSERT_NE(g, nullptr);
  char *const buf = g->buf;
  // root, a group with members and one without (and a different password
  // field), fetched one after another into the same record.
  for (const gid_t gid : {0u, 4201u, 4202u, 0u}) {
    SCOPED_TRACE("gid " + std::to_string(gid));
    const auto want = FixtureEntry(gid);
    ASSERT_TRUE(want.has_value());
    ASSERT_EQ(zelkor_group_info_fetch(g.get(), gid), 0);
    ExpectEntry(*g, *want);
  }
  EXPECT_EQ(g->buf, buf);
  EXPECT_EQ(g->buf_sz, kInitialBufSize);
  EXPECT_EQ(FixtureEntry(0)->name, "root");
}

TEST_F(NssSmallGroups, UnknownGidIsENOENT) {
  Record g = NewRecord();
  ASSERT_NE(g, nullptr);
  ASSERT_FALSE(FixtureEntry(4299).has_value());
  EXPECT_EQ(zelkor_group_info_fetch(g.get(), 4299), ENOENT);
  EXPECT_EQ(g->buf_sz, kInitialBufSize);
  // The record is as good as before.
  ASSERT_EQ(zelkor_group_info_fetch(g.get(), 4201), 0);
  ExpectEntry(*g, *FixtureEntry(4201));
}

TEST_F(NssSmallGroups, ClearEmptiesGroupAndKeepsBuffer) {
  Record g = NewRecord();
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(zelkor_group_info_fetch(g.get(), 4201), 0);
  char *const buf = g->buf;
  const size_t buf_sz = g->buf_sz;
  zelkor_group_info_clear(g.get());
  EXPECT_EQ(g->group.gr_name, nullptr);
  EXPECT_EQ(g->group.gr_passwd, nullptr);
  EXPECT_EQ(g->group.gr_gid, 0u);
  EXPECT_EQ(g->group.gr_mem, nullptr);
  EXPECT_EQ(g->buf, buf);
  EXPECT_EQ(g->buf_sz, buf_sz);
  ASSERT_EQ(zelkor_group_info_fetch(g.get(), 4201), 0);
  ExpectEntry(*g, *FixtureEntry(4201));
}

TEST_F(NssLargeGroup, GrowsToFirstFittingSizeAndKeepsIt) {
  constexpr gid_t kBig = 4300;
  const size_t fits = FirstFittingSize(kBig);
  // The fixture must make the record grow more than once.
  ASSERT_GE(fits, 4 * kInitialBufSize);
  const auto want = FixtureEntry(kBig);
  ASSERT_TRUE(want.has_value());

  Record g = NewRecord();
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(zelkor_group_info_fetch(g.get(), kBig), 0);
  EXPECT_EQ(g->buf_sz, fits);
  ExpectEntry(*g, *want);

  // Fetches start at the grown size: the same entry again, and a small one
  // (and one behind the big line, which needs the big buffer to be reached),
  // neither resize nor move the buffer.
  char *const buf = g->buf;
  for (const gid_t gid : {kBig, 0u, 4301u}) {
    SCOPED_TRACE("gid " + std::to_string(gid));
    ASSERT_EQ(zelkor_group_info_fetch(g.get(), gid), 0);
    ExpectEntry(*g, *FixtureEntry(gid));
    EXPECT_EQ(g->buf_sz, fits);
    EXPECT_EQ(g->buf, buf);
  }
}

TEST_F(NssHugeGroup, EntryOverCeilingIsENOMEMAndRecordStaysUsable) {
  constexpr gid_t kHuge = 4400;
  ASSERT_EQ(FirstFittingSize(kHuge), 0u);  // glibc itself needs more than 2 MiB

  Record g = NewRecord();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(zelkor_group_info_fetch(g.get(), kHuge), ENOMEM);
  EXPECT_EQ(g->buf_sz, kMaxBufSize);
  // Again from the ceiling, and still ENOMEM.
  EXPECT_EQ(zelkor_group_info_fetch(g.get(), kHuge), ENOMEM);
  EXPECT_EQ(g->buf_sz, kMaxBufSize);

  // root lies before the huge line, so glibc finds it; the record keeps its
  // 2 MiB buffer.
  ASSERT_EQ(zelkor_group_info_fetch(g.get(), 0), 0);
  ExpectEntry(*g, *FixtureEntry(0));
  EXPECT_EQ(g->buf_sz, kMaxBufSize);
}

// Ids at the edges of gid_t, listed and not: each is found exactly when
// the group file has it, and a miss leaves the record as it was (same
// buffer, same size) and usable.
TEST_F(NssGidExtremes, EdgesOfGidTFoundWhenListedAndMissesTouchNothing) {
  constexpr gid_t kMinusOne = static_cast<gid_t>(-1);
  const gid_t listed[] = {0u, 65534u, 2147483647u, 4294967294u};
  const gid_t absent[] = {kMinusOne, 65533u, 65535u, 2147483648u, 4294967293u};
  Record g = NewRecord();
  ASSERT_NE(g, nullptr);
  char *const buf = g->buf;
  for (const gid_t gid : listed) {
    SCOPED_TRACE("gid " + std::to_string(gid));
    const auto want = FixtureEntry(gid);
    ASSERT_TRUE(want.has_value()) << "the fixture lists it";
    ASSERT_EQ(zelkor_group_info_fetch(g.get(), gid), 0);
    ExpectEntry(*g, *want);
  }
  for (const gid_t gid : absent) {
    SCOPED_TRACE("gid " + std::to_string(gid));
    ASSERT_FALSE(FixtureEntry(gid).has_value());
    EXPECT_EQ(zelkor_group_info_fetch(g.get(), gid), ENOENT);
    EXPECT_EQ(g->buf, buf);
    EXPECT_EQ(g->buf_sz, kInitialBufSize);
  }
  ASSERT_EQ(zelkor_group_info_fetch(g.get(), 4294967294u), 0);
  ExpectEntry(*g, *FixtureEntry(4294967294u));
}

// What a thread saw go wrong, for the main thread to report.
struct Findings {
  std::mutex mutex;
  std::vector<std::string> list;
  void add(std::string what) {
    std::lock_guard<std::mutex> lock(mutex);
    if (list.size() < 20) list.push_back(std::move(what));
  }
};

// Whether the record holds exactly the fixture's entry, strings inside buf.
bool Matches(const zelkor_group_info &g, const GroupLine &want) {
  if (g.group.gr_gid != want.gid || g.group.gr_name == nullptr || want.name != g.group.gr_name ||
      g.group.gr_passwd == nullptr || want.passwd != g.group.gr_passwd || g.group.gr_mem == nullptr)
    return false;
  if (!InsideBuf(g, g.group.gr_name, want.name.size() + 1)) return false;
  size_t n = 0;
  for (; g.group.gr_mem[n] != nullptr; ++n) {
    if (n == want.members.size() || want.members[n] != g.group.gr_mem[n] ||
        !InsideBuf(g, g.group.gr_mem[n], want.members[n].size() + 1))
      return false;
  }
  return n == want.members.size();
}

// Records used by separate threads at once, each growing its own buffer
// and reading the same entries, big and small, present and absent: every
// result as the file says, and each record grown to the same size.
TEST_F(NssConcurrentRecords, SeparateRecordsOnSeparateThreads) {
  constexpr gid_t kBig = 4300, kAfter = 4301, kAbsent = 4299;
  const auto big = FixtureEntry(kBig), root = FixtureEntry(0), after = FixtureEntry(kAfter);
  ASSERT_TRUE(big && root && after);
  ASSERT_FALSE(FixtureEntry(kAbsent).has_value());
  const size_t fits = FirstFittingSize(kBig);
  ASSERT_GT(fits, kInitialBufSize);

  constexpr int kThreads = 4;
  constexpr int kRounds = 1000;
  Findings findings;
  std::atomic<long> fetches{0};
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Record g(zelkor_group_info_alloc());
      if (g == nullptr) return findings.add("thread " + std::to_string(t) + ": no record");
      start.arrive_and_wait();
      const gid_t order[] = {kBig, 0, kAfter, kAbsent};
      for (int i = 0; i < kRounds; ++i) {
        const gid_t gid = order[(i + t) % 4];
        const int rc = zelkor_group_info_fetch(g.get(), gid);
        fetches.fetch_add(1, std::memory_order_relaxed);
        const std::string where =
            "thread " + std::to_string(t) + " round " + std::to_string(i) + " gid " + std::to_string(gid);
        if (gid == kAbsent) {
          if (rc != ENOENT) findings.add(where + ": got " + std::to_string(rc) + ", not ENOENT");
          continue;
        }
        const GroupLine &want = gid == kBig ? *big : gid == 0 ? *root : *after;
        if (rc != 0 || !Matches(*g, want)) findings.add(where + ": wrong entry (" + std::to_string(rc) + ")");
      }
      if (g->buf_sz != fits)
        findings.add("thread " + std::to_string(t) + ": buffer of " + std::to_string(g->buf_sz));
    });
  }
  for (std::thread &th : threads) th.join();
  EXPECT_EQ(fetches.load(), long{kThreads} * kRounds);
  EXPECT_TRUE(findings.list.empty()) << ::testing::PrintToString(findings.list);
}

// A long run of fetches on one record: its buffer grows once, to the size
// the big entry needs, and then neither moves nor changes size, every
// result stays right, and the C heap does not grow.  ZELKOR_SOAK=long runs
// ten times as many.
TEST_F(NssSoak, MillionFetchesOnOneRecordKeepItsBuffer) {
  const char *soak = getenv("ZELKOR_SOAK");
  const long total = soak != nullptr && std::string_view(soak) == "long" ? 10'000'000 : 1'000'000;
  constexpr gid_t kBig = 4300, kAfter = 4301, kAbsent = 4299;
  const auto big = FixtureEntry(kBig), root = FixtureEntry(0), after = FixtureEntry(kAfter);
  ASSERT_TRUE(big && root && after);
  const size_t fits = FirstFittingSize(kBig);

  Record g = NewRecord();
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(zelkor_group_info_fetch(g.get(), kBig), 0);
  ASSERT_EQ(g->buf_sz, fits);
  char *const buf = g->buf;

  // Mostly the first line (cheap), every 64th the big entry, every 256th the
  // line after it, every 1024th an id that is not there.
  long wrong = 0, moved = 0;
  std::vector<size_t> heap;  // bytes in use, sampled
  const auto began = std::chrono::steady_clock::now();
  for (long i = 1; i <= total; ++i) {
    const gid_t gid = i % 1024 == 0 ? kAbsent : i % 256 == 0 ? kAfter : i % 64 == 0 ? kBig : 0;
    const int rc = zelkor_group_info_fetch(g.get(), gid);
    if (gid == kAbsent) {
      wrong += rc != ENOENT;
    } else if (i % 64 == 0 || gid == kAfter) {
      wrong += rc != 0 || !Matches(*g, gid == kBig ? *big : *after);
    } else {
      wrong += rc != 0 || g->group.gr_gid != 0 || root->name != g->group.gr_name;
    }
    moved += g->buf != buf || g->buf_sz != fits;
    if (i % (total / 20) == 0) heap.push_back(mallinfo2().uordblks);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("%ld fetches in %.1f s (%.2f us each); C heap in use, sampled: ", total, seconds,
              seconds * 1e6 / static_cast<double>(total));
  for (size_t h : heap) std::printf("%zu ", h);
  std::printf("\n");
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(moved, 0) << "the buffer moved or changed size";
  // The first sample is taken well after warm-up; nothing may pile up after it.
  ASSERT_FALSE(heap.empty());
  EXPECT_LT(*std::max_element(heap.begin(), heap.end()) - heap.front(), 64u * 1024)
      << "C heap grew during the run";
}

}  // namespace
