// bulk_crc under every kernel tier that this processor runs, forced in turn
// through the test hook: the words and reports must be exactly those of an
// independent oracle (zlib itself for CRC-32, the bitwise definition for
// CRC32C); verify mode must stop soon after a mismatch; and whichever
// routine the slot holds, the words are the same, and one that a caller
// installed is called as always.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
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

constexpr uint32_t kGuard = 0xA5A5A5A5;

uint32_t oracle_word(int type, const uint8_t *p, size_t n) {
  if (type == CRC32_ZLIB_POLYNOMIAL)
    return htonl(static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n))));
  return reference::stored_word(type, p, n);
}

std::vector<uint32_t> oracle_words(int type, const uint8_t *p, size_t n, size_t chunk) {
  std::vector<uint32_t> words;
  for (size_t off = 0; off < n; off += chunk)
    words.push_back(oracle_word(type, p + off, std::min(chunk, n - off)));
  return words;
}

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

// Compute and verify at every chunk size up to 70 and some longer ones, at
// offsets 0, 1 and 5 from an aligned start, over lengths that leave 0, 1 or
// 2 whole chunks past the last group of three, each with and without a
// partial chunk, up to past the verify batch.
TEST_P(Driver, WordsAndVerify) {
  constexpr size_t kMaxLen = 151 * 512 + 5;
  const auto data = reference::random_bytes(kMaxLen + 5, 21);
  std::vector<size_t> sizes = {3, 17, 64, 100, 255, 256, 512, 513, 1024, 1100};
  for (size_t cs = 1; cs <= 70; cs += sweep::step(70)) sizes.push_back(cs);
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  for (size_t cs : sizes)
    for (size_t len : {size_t{0}, size_t{1}, cs - 1, cs, 2 * cs, 3 * cs + 1, 4 * cs,
                       5 * cs + cs / 2, 7 * cs + 1, 13 * cs + 1, 72 * cs, 73 * cs + cs / 2,
                       150 * cs + 2})
      for (size_t off : {0, 1, 5}) {
        len = std::min(len, kMaxLen);
        const uint8_t *p = data.data() + off;
        const auto want = oracle_words(type(), p, len, cs);
        std::vector<uint32_t> sums(want.size() + 1, kGuard);
        ASSERT_EQ(bulk_crc(p, len, sums.data(), type(), static_cast<int>(cs), nullptr),
                  BULK_CRC_OK);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), sums.begin()))
            << "chunk size " << cs << ", length " << len << ", offset " << off;
        ASSERT_EQ(sums.back(), kGuard) << "a word past the last chunk was written";
        crc32_error_t err{1, 2, nullptr};
        ASSERT_EQ(bulk_crc(p, len, sums.data(), type(), static_cast<int>(cs), &err),
                  BULK_CRC_OK)
            << "chunk size " << cs << ", length " << len << ", offset " << off;
        EXPECT_EQ(err.got_crc, 1u);  // untouched on success
        EXPECT_EQ(err.expected_crc, 2u);
        EXPECT_EQ(err.bad_data, nullptr);
      }
}

// The digits' published check values, stored big-endian, whatever chunk size
// holds all nine.
TEST_P(Driver, DigitsGiveTheirCheckValue) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const uint8_t crc32c[4] = {0xE3, 0x06, 0x92, 0x83}, crc32[4] = {0xCB, 0xF4, 0x39, 0x26};
  for (int bpc : {9, 10, 512, INT_MAX}) {
    uint32_t sums[2] = {0, kGuard};
    ASSERT_EQ(bulk_crc(digits, 9, sums, type(), bpc, nullptr), BULK_CRC_OK);
    EXPECT_EQ(std::memcmp(sums, type() == CRC32C_POLYNOMIAL ? crc32c : crc32, 4), 0)
        << "bytes per checksum " << bpc;
    EXPECT_EQ(sums[1], kGuard);
  }
}

// A word per byte, for bytes at both ends of the range and across its middle.
TEST_P(Driver, OneByteChunksGiveOneWordPerByte) {
  const uint8_t data[] = {0x00, 0xFF, 0x31, 0x80, 0x7F};
  uint32_t sums[6];
  std::fill(std::begin(sums), std::end(sums), kGuard);
  ASSERT_EQ(bulk_crc(data, 5, sums, type(), 1, nullptr), BULK_CRC_OK);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(sums[i], oracle_word(type(), data + i, 1)) << i;
  EXPECT_EQ(sums[5], kGuard);
}

// A damaged byte in each chunk in turn: inside a wide group, at a group's
// edges, past a verify batch, in the leftover chunks and in the partial one.
TEST_P(Driver, MismatchAtEveryPosition) {
  for (int cs : {8, 512}) {
    const size_t n_whole = 80, len = n_whole * cs + cs / 2;
    const auto clean = reference::random_bytes(len, 22);
    const auto sums = oracle_words(type(), clean.data(), len, cs);
    for (size_t i = 0; i < sums.size(); i += (i < 30 ? 1 : sweep::step(8))) {
      auto data = clean;
      const size_t off = i * cs + (i * 7) % std::min<size_t>(cs, len - i * cs);
      data[off] ^= 0x40;
      const size_t chunk_len = std::min<size_t>(cs, len - i * cs);
      auto stored = sums;
      crc32_error_t err{};
      ASSERT_EQ(bulk_crc(data.data(), len, stored.data(), type(), cs, &err), BULK_CRC_MISMATCH)
          << "chunk " << i;
      EXPECT_EQ(stored, sums) << "verify mode wrote a word, chunk " << i;
      EXPECT_EQ(err.bad_data, data.data() + i * cs) << "chunk " << i;
      EXPECT_EQ(err.expected_crc, sums[i]) << "chunk " << i;
      EXPECT_EQ(err.got_crc, oracle_word(type(), data.data() + i * cs, chunk_len))
          << "chunk " << i;
    }
  }
}

// Of two damaged chunks the earlier is reported, with both its words: two
// in one group, or a damaged stored word before damaged data.
TEST_P(Driver, EarliestMismatchWins) {
  const int cs = 64;
  const auto clean = reference::random_bytes(40 * cs, 23);
  const auto sums = oracle_words(type(), clean.data(), clean.size(), cs);
  const struct {
    std::vector<size_t> data_chunks;
    size_t word;  // SIZE_MAX: no stored word damaged
    size_t first;
  } cases[] = {{{13, 14}, SIZE_MAX, 13}, {{7}, 2, 2}};
  for (const auto &c : cases) {
    auto data = clean;
    auto stored = sums;
    for (size_t chunk : c.data_chunks) data[chunk * cs + 5] ^= 1;
    if (c.word != SIZE_MAX) stored[c.word] ^= 1;
    crc32_error_t err{};
    ASSERT_EQ(bulk_crc(data.data(), data.size(), stored.data(), type(), cs, &err),
              BULK_CRC_MISMATCH);
    EXPECT_EQ(err.bad_data, data.data() + c.first * cs) << "first damaged chunk " << c.first;
    EXPECT_EQ(err.expected_crc, stored[c.first]);
    EXPECT_EQ(err.got_crc, oracle_word(type(), data.data() + c.first * cs, cs));
  }
}

// Rejected calls under each tier return their code in both modes and touch
// nothing: no word written, no record filled; made again with null data and
// sums, they read nothing either.  The type is tested first, so an unknown
// type's code wins over a bad chunk size, for empty data too.
TEST_P(Driver, RejectedCallsReturnTheirCodeAndTouchNothing) {
  const struct {
    size_t len;
    int type, bpc;
  } unknown_types[] = {{100, 0, 512},      {100, 3, 512},         {0, -1, 512},
                       {100, INT_MIN, 512}, {100, INT_MAX, INT_MAX}, {100, 0, 0},
                       {0, 3, 0}};
  const struct {
    size_t len;
    int bpc;
  } bad_sizes[] = {{1, 0},     {100, 0},       {0, 0},         {1, -5},
                   {100, -1},  {100, -512},    {100, INT_MIN}, {0, INT_MIN}};
  const auto data = reference::random_bytes(100, 1);
  const auto rejected = [&](size_t len, int t, int bpc, int verify_rc) {
    for (bool null_pointers : {false, true}) {
      SCOPED_TRACE(testing::Message() << "length " << len << ", type " << t
                                      << ", bytes per checksum " << bpc
                                      << (null_pointers ? ", null pointers" : ""));
      uint32_t sums[6];
      std::fill(std::begin(sums), std::end(sums), kGuard);
      const uint8_t *p = null_pointers ? nullptr : data.data();
      uint32_t *s = null_pointers ? nullptr : sums + 1;
      crc32_error_t err{7, 8, data.data()};
      EXPECT_EQ(bulk_crc(p, len, s, t, bpc, &err), verify_rc);
      EXPECT_EQ(bulk_crc(p, len, s, t, bpc, nullptr), -EINVAL);
      for (uint32_t w : sums) EXPECT_EQ(w, kGuard);
      EXPECT_EQ(err.got_crc, 7u);
      EXPECT_EQ(err.expected_crc, 8u);
      EXPECT_EQ(err.bad_data, data.data());
    }
  };
  for (const auto &c : unknown_types) rejected(c.len, c.type, c.bpc, BULK_CRC_BAD_TYPE);
  for (const auto &c : bad_sizes) rejected(c.len, type(), c.bpc, -EINVAL);
}

// Chunk sizes beyond the data under each tier: one word for all of it, the
// kernel reading exactly the data_len bytes allocated; and empty data with
// null pointers.  Guard words lie on both sides of the sums; the record is
// touched only by a mismatch.
TEST_P(Driver, ChunkSizesBeyondTheData) {
  const struct {
    size_t len;  // 0: data and sums are null pointers
    int bpc;
  } cases[] = {{0, 512},  {0, INT_MAX},    {1, 1},           {1, 2},
               {63, 64},  {1000, 1001},    {4096 + 7, INT_MAX}, {100000, INT_MAX}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "length " << c.len << ", bytes per checksum " << c.bpc);
    // Exactly c.len bytes, so that a read past them is caught.
    auto data = reference::random_bytes(c.len, static_cast<uint32_t>(c.len));
    const uint8_t *p = c.len ? data.data() : nullptr;
    uint32_t sums[3] = {kGuard, kGuard, kGuard};
    uint32_t *s = c.len ? sums + 1 : nullptr;
    crc32_error_t err{1, 2, nullptr};
    EXPECT_EQ(bulk_crc(p, c.len, s, type(), c.bpc, nullptr), BULK_CRC_OK);
    const uint32_t want = c.len ? oracle_word(type(), p, c.len) : kGuard;
    EXPECT_EQ(sums[0], kGuard);
    EXPECT_EQ(sums[1], want);
    EXPECT_EQ(sums[2], kGuard);
    EXPECT_EQ(bulk_crc(p, c.len, s, type(), c.bpc, &err), BULK_CRC_OK);
    EXPECT_EQ(err.got_crc, 1u);
    EXPECT_EQ(err.expected_crc, 2u);
    EXPECT_EQ(err.bad_data, nullptr);
    if (c.len == 0) continue;
    data[c.len - 1] ^= 0x80;
    EXPECT_EQ(bulk_crc(p, c.len, s, type(), c.bpc, &err), BULK_CRC_MISMATCH);
    EXPECT_EQ(err.bad_data, p);
    EXPECT_EQ(err.expected_crc, want);
    EXPECT_EQ(err.got_crc, oracle_word(type(), p, c.len));
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
// The words do not depend on which routine the slot holds: with the table
// routine there, bulk_crc runs it in place of the tier's kernel; with the
// hardware routine (where the load-time constructor found its instruction),
// the kernel that stands for it.
TEST_P(Driver, WordsAreTheSameWhicheverRoutineTheSlotHolds) {
  const zelkor::table_routines &R = zelkor::engine_table_routines();
  const bool crc32c = type() == CRC32C_POLYNOMIAL;
  crc_pipelined_func_t &slot = crc32c ? pipelined_crc32c_func : pipelined_crc32_zlib_func;
  std::vector<crc_pipelined_func_t> routines = {crc32c ? R.pipelined_crc32c_sb8
                                                       : R.pipelined_crc32_zlib_sb8};
  if (crc32c && slot == zelkor::engine_hardware_routine()) routines.push_back(slot);
  const auto data = reference::random_bytes(4096 + 77, 8);
  for (crc_pipelined_func_t routine : routines) {
    tiers::slot_override in_slot(slot, routine);
    for (int bpc : {1, 7, 512, 513}) {
      const auto want = oracle_words(type(), data.data(), data.size(), bpc);
      std::vector<uint32_t> sums(want.size());
      ASSERT_EQ(bulk_crc(data.data(), data.size(), sums.data(), type(), bpc, nullptr),
                BULK_CRC_OK);
      EXPECT_EQ(sums, want) << (routine == routines.front() ? "table" : "hardware")
                            << " routine, bytes per checksum " << bpc;
    }
  }
}

// A routine installed by a caller is called as always: through the slot,
// three chunks at a time, then the leftovers, then the partial chunk,
// whatever tier is in force.

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
    const auto want = oracle_words(t.type, data.data(), data.size(), 100);
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
