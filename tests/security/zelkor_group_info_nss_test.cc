// Group record fetch against the real glibc name service.  Each suite runs
// under tests/nss/with_nss_fixture.sh with the group file named in its
// SetUp; the expected entries are read from that file, /etc/group in the
// namespace, rather than written down a second time.
#include <errno.h>
#include <grp.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
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
    ASSERT_NE(dir, nullptr) << "run through tests/nss/with_nss_fixture.sh";
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

}  // namespace
