// bulk_crc under every kernel tier that this processor runs, forced in turn
// through the test hook: the words and reports must be exactly those of the
// routine path; verify mode must stop soon after a mismatch; and a routine
// that a caller installed in a slot must be called as always.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "crc_reference.h"
#include "engine_tiers.h"
#include "util/bulk_crc32.h"
#include "util/bulk_crc32_internal.h"

namespace {

using tiers::tier_case;

class Driver : public testing::TestWithParam<tier_case> {
 protected:
  void SetUp() override {
    if (!tiers::force(GetParam()))
      GTEST_SKIP() << GetParam().label << " needs processor features this one lacks"
                   << (tiers::has_model(GetParam()) ? "; its model row runs here in its place" : "");
  }
  int type() const { return GetParam().type; }
  tiers::restore_on_exit guard_;
};

// Compute and verify over lengths that leave every count of leftover chunks
// and a partial chunk, past the verify batch.
TEST_P(Driver, WordsAndVerify) {
  const auto data = reference::random_bytes(151 * 512 + 5, 21);
  for (int cs : {1, 3, 17, 64, 100, 512}) {
    for (size_t len : {size_t{0}, size_t{1}, size_t(cs) - 1, size_t(cs), size_t(cs) * 13 + 1,
                       size_t(cs) * 72, size_t(cs) * 73 + size_t(cs) / 2, size_t(cs) * 150 + 2}) {
      len = std::min(len, data.size());
      const auto want = reference::stored_words(type(), data.data(), len, cs);
      std::vector<uint32_t> sums(want.size() + 1, 0xA5A5A5A5);
      ASSERT_EQ(bulk_crc(data.data(), len, sums.data(), type(), cs, nullptr),
                BULK_CRC_OK);
      ASSERT_TRUE(std::equal(want.begin(), want.end(), sums.begin()))
          << "chunk size " << cs << ", length " << len;
      ASSERT_EQ(sums.back(), 0xA5A5A5A5u) << "a word past the last chunk was written";
      crc32_error_t err{1, 2, nullptr};
      ASSERT_EQ(bulk_crc(data.data(), len, sums.data(), type(), cs, &err), BULK_CRC_OK);
      EXPECT_EQ(err.got_crc, 1u);  // untouched on success
      EXPECT_EQ(err.bad_data, nullptr);
    }
  }
}

// A damaged byte in each chunk in turn: inside a wide group, at a group's
// edges, past a verify batch, in the leftover chunks and in the partial one.
TEST_P(Driver, MismatchAtEveryPosition) {
  for (int cs : {8, 512}) {
    const size_t n_whole = 80, len = n_whole * cs + cs / 2;
    const auto clean = reference::random_bytes(len, 22);
    const auto sums = reference::stored_words(type(), clean.data(), len, cs);
    for (size_t i = 0; i < sums.size(); i += (i < 30 ? 1 : sweep::step(8))) {
      auto data = clean;
      const size_t off = i * cs + (i * 7) % std::min<size_t>(cs, len - i * cs);
      data[off] ^= 0x40;
      const size_t chunk_len = std::min<size_t>(cs, len - i * cs);
      crc32_error_t err{};
      ASSERT_EQ(bulk_crc(data.data(), len, const_cast<uint32_t *>(sums.data()), type(),
                         cs, &err),
                BULK_CRC_MISMATCH)
          << "chunk " << i;
      EXPECT_EQ(err.bad_data, data.data() + i * cs) << "chunk " << i;
      EXPECT_EQ(err.expected_crc, sums[i]) << "chunk " << i;
      EXPECT_EQ(err.got_crc, reference::stored_word(type(), data.data() + i * cs, chunk_len))
          << "chunk " << i;
    }
  }
}

// With two damaged chunks in one group, the earlier one is reported.
TEST_P(Driver, EarliestMismatchWins) {
  const int cs = 64;
  auto data = reference::random_bytes(40 * cs, 23);
  const auto sums = reference::stored_words(type(), data.data(), data.size(), cs);
  data[13 * cs + 5] ^= 1;
  data[14 * cs + 5] ^= 1;
  crc32_error_t err{};
  ASSERT_EQ(bulk_crc(data.data(), data.size(), const_cast<uint32_t *>(sums.data()),
                     type(), cs, &err),
            BULK_CRC_MISMATCH);
  EXPECT_EQ(err.bad_data, data.data() + 13 * cs);
}

// Odd arguments under each tier: the checks ahead of any kernel, chunk sizes
// beyond the data (one word for all of it, the kernel reading exactly the
// data_len bytes allocated), and empty data with null pointers.  Guard words
// lie on both sides of the sums; the record is touched only by a mismatch.
TEST_P(Driver, OddArguments) {
  constexpr uint32_t kGuard = 0x5A5A5A5A;
  constexpr int kNoWord = -1;
  constexpr int kThis = 1;  // stands for this test's type
  const struct {
    size_t len;  // 0: data and sums are null pointers
    int type, bpc;
    int rc;  // in both modes (kNoWord: unknown type); a mismatch is tried after OK
  } cases[] = {
      {0, 3, 0, kNoWord},  // unknown type, bad size: the type's code wins
      {1, kThis, 0, -22},
      {1, kThis, -5, -22},
      {0, kThis, 0, -22},
      {0, kThis, 512, BULK_CRC_OK},
      {0, kThis, INT_MAX, BULK_CRC_OK},
      {1, kThis, 1, BULK_CRC_OK},
      {1, kThis, 2, BULK_CRC_OK},
      {63, kThis, 64, BULK_CRC_OK},
      {1000, kThis, 1001, BULK_CRC_OK},
      {4096 + 7, kThis, INT_MAX, BULK_CRC_OK},
      {100000, kThis, INT_MAX, BULK_CRC_OK},
  };
  for (const auto &c : cases) {
    const int t = c.type == kThis ? type() : c.type;
    SCOPED_TRACE(testing::Message() << "length " << c.len << ", type " << t << ", bytes per checksum "
                                    << c.bpc);
    // Exactly c.len bytes, so that a read past them is caught.
    auto data = reference::random_bytes(c.len, static_cast<uint32_t>(c.len));
    const uint8_t *p = c.len ? data.data() : nullptr;
    const bool words = c.rc == BULK_CRC_OK && c.len > 0;
    uint32_t sums[3] = {kGuard, kGuard, kGuard};
    uint32_t *s = c.len ? sums + 1 : nullptr;
    const int verify_rc = c.rc == kNoWord ? BULK_CRC_BAD_TYPE : c.rc;
    const int compute_rc = c.rc == kNoWord ? -22 : c.rc;

    crc32_error_t err{1, 2, nullptr};
    EXPECT_EQ(bulk_crc(p, c.len, s, t, c.bpc, nullptr), compute_rc);
    const uint32_t want = words ? reference::stored_word(t, p, c.len) : kGuard;
    EXPECT_EQ(sums[0], kGuard);
    EXPECT_EQ(sums[1], want);
    EXPECT_EQ(sums[2], kGuard);
    EXPECT_EQ(bulk_crc(p, c.len, s, t, c.bpc, &err), verify_rc);
    EXPECT_EQ(err.got_crc, 1u);
    EXPECT_EQ(err.expected_crc, 2u);
    EXPECT_EQ(err.bad_data, nullptr);
    if (!words) continue;
    data[c.len - 1] ^= 0x80;
    EXPECT_EQ(bulk_crc(p, c.len, s, t, c.bpc, &err), BULK_CRC_MISMATCH);
    EXPECT_EQ(err.bad_data, p);
    EXPECT_EQ(err.expected_crc, want);
    EXPECT_EQ(err.got_crc, reference::stored_word(t, p, c.len));
    EXPECT_EQ(sums[0], kGuard);
    EXPECT_EQ(sums[1], want);
    EXPECT_EQ(sums[2], kGuard);
  }
}

// Verify mode stops soon after a mismatch: it reads no more than the rest of
// the failing chunk's group of three, or 64 KiB past that chunk's end,
// whichever is more.  Everything beyond lies in memory that faults when
// read; the report must come back all the same.
TEST_P(Driver, VerifyReadsLittlePastAMismatch) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  constexpr size_t kPast = 64 * 1024;
  const struct {
    size_t chunk, bad;
  } cases[] = {{1, 0},     {64, 0},     {512, 0},        {512, 200},      {4096, 5},
               {5000, 0},  {40000, 1},  {40000, 3},      {(1u << 20) + 3, 0},
               {(1u << 20) + 3, 2},      {16u << 20, 0}};
  for (const auto &c : cases) {
    if (sweep::quick() && c.chunk > kPast) continue;  // emulators and valgrind: the short ones
    SCOPED_TRACE(testing::Message() << "chunk size " << c.chunk << ", bad chunk " << c.bad);
    const size_t n_chunks = c.bad + 200;  // far more than may be read
    const size_t group_end = (c.bad / 3 * 3 + 3) * c.chunk;
    const size_t readable = std::max(group_end, (c.bad + 1) * c.chunk + kPast);
    const size_t mapped = (readable + page - 1) / page * page;
    const size_t total = mapped + n_chunks * c.chunk;
    // Reserve all, then open the readable pages; the data ends its readable
    // part exactly at the first page that faults.
    void *region = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                        -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    uint8_t *base = static_cast<uint8_t *>(region);
    ASSERT_EQ(mprotect(base, mapped, PROT_READ | PROT_WRITE), 0);
    uint8_t *data = base + mapped - readable;
    for (size_t i = 0; i < readable; ++i) data[i] = static_cast<uint8_t>((i * 0x9E3779B1u) >> 13);
    std::vector<uint32_t> sums(n_chunks, 0);
    ASSERT_EQ(bulk_crc(data, c.bad * c.chunk, sums.data(), type(), static_cast<int>(c.chunk),
                       nullptr),
              BULK_CRC_OK);
    uint32_t want_bad;
    ASSERT_EQ(bulk_crc(data + c.bad * c.chunk, c.chunk, &want_bad, type(),
                       static_cast<int>(c.chunk), nullptr),
              BULK_CRC_OK);
    sums[c.bad] = ~want_bad;
    crc32_error_t err{};
    EXPECT_EQ(bulk_crc(data, n_chunks * c.chunk, sums.data(), type(), static_cast<int>(c.chunk),
                       &err),
              BULK_CRC_MISMATCH);
    EXPECT_EQ(err.bad_data, data + c.bad * c.chunk);
    EXPECT_EQ(err.got_crc, want_bad);
    EXPECT_EQ(err.expected_crc, ~want_bad);
    munmap(region, total);
  }
}

INSTANTIATE_TEST_SUITE_P(Wide, Driver, testing::ValuesIn(tiers::all()),
                         [](const auto &info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// A routine installed by a caller is called exactly as specified: through
// the slot, three chunks at a time, then the leftovers, then the partial
// chunk, whatever tier is in force.

std::vector<std::pair<size_t, int>> g_calls;  // (block size, count) per call
crc_pipelined_func_t g_inner;

void counting_routine(uint32_t *c1, uint32_t *c2, uint32_t *c3, const uint8_t *p, size_t bs,
                      int nb) {
  g_calls.emplace_back(bs, nb);
  g_inner(c1, c2, c3, p, bs, nb);
}

TEST_P(Driver, InstalledRoutineIsCalledThreeChunksAtATime) {
  const auto data = reference::random_bytes(8 * 100 + 30, 31);  // 8 whole chunks + 30 bytes
  const std::vector<std::pair<size_t, int>> expected = {{100, 3}, {100, 3}, {100, 2}, {30, 1}};
  struct type_case {
    int type;
    crc_pipelined_func_t *slot;
    crc_pipelined_func_t inner;
  };
  const type_case types[] = {
      {CRC32C_POLYNOMIAL, &pipelined_crc32c_func,
       zelkor::engine_table_routines().pipelined_crc32c_sb8},
      {CRC32_ZLIB_POLYNOMIAL, &pipelined_crc32_zlib_func,
       zelkor::engine_table_routines().pipelined_crc32_zlib_sb8},
  };
  for (const type_case &t : types) {
    g_inner = t.inner;
    tiers::slot_override installed(*t.slot, counting_routine);
    const auto want = reference::stored_words(t.type, data.data(), data.size(), 100);
    std::vector<uint32_t> sums(want.size());
    g_calls.clear();
    ASSERT_EQ(bulk_crc(data.data(), data.size(), sums.data(), t.type, 100, nullptr), BULK_CRC_OK);
    EXPECT_EQ(g_calls, expected) << "type " << t.type;
    EXPECT_EQ(sums, want);
    g_calls.clear();
    crc32_error_t err{};
    ASSERT_EQ(bulk_crc(data.data(), data.size(), sums.data(), t.type, 100, &err), BULK_CRC_OK);
    EXPECT_EQ(g_calls, expected) << "type " << t.type;
  }
}

}  // namespace
