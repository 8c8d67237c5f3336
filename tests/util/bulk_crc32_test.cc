// The bulk driver in both modes, against zlib (CRC-32) and the bitwise oracle (CRC32C).
#include <errno.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>

#include "bulk_crc32.h"
#include "bulk_crc32_internal.h"
#include "crc_reference.h"
#include "engine_tiers.h"

namespace {

constexpr int kTypes[] = {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL};
constexpr uint32_t kGuard = 0xA5A5A5A5;

// The real oracle for CRC-32 is zlib itself; CRC32C has the bitwise definition.
uint32_t oracle_word(int type, const uint8_t *p, size_t n) {
  if (type == CRC32_ZLIB_POLYNOMIAL)
    return htonl(static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n))));
  return reference::stored_word(type, p, n);
}

std::vector<uint32_t> oracle_words(int type, const uint8_t *p, size_t n, size_t chunk) {
  std::vector<uint32_t> w;
  for (size_t off = 0; off < n; off += chunk) w.push_back(oracle_word(type, p + off, std::min(chunk, n - off)));
  return w;
}

const uint8_t *bytes(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

TEST(BulkCrc, DigitsAreStoredAsBigEndianCheckValues) {
  const struct {
    int type;
    uint8_t stored[4];
  } cases[] = {{CRC32C_POLYNOMIAL, {0xE3, 0x06, 0x92, 0x83}},
               {CRC32_ZLIB_POLYNOMIAL, {0xCB, 0xF4, 0x39, 0x26}}};
  for (const auto &c : cases)
    for (int bpc : {9, 10, 512, INT_MAX}) {
      uint32_t sums[2] = {0, kGuard};
      ASSERT_EQ(bulk_crc(bytes("123456789"), 9, sums, c.type, bpc, nullptr), BULK_CRC_OK);
      EXPECT_EQ(std::memcmp(sums, c.stored, 4), 0) << "type " << c.type << " bpc " << bpc;
      EXPECT_EQ(sums[1], kGuard);
    }
}

// Compute mode writes exactly ceil(len / chunk) words equal to the oracle's,
// and verify mode accepts them without touching the record.  Lengths cover a
// group of three, one or two leftover chunks and a partial chunk.
TEST(BulkCrc, BothModesAgreeWithTheOracleAtEverySizeAndAlignment) {
  const auto data = reference::random_bytes(8 * 1100 + 64, 21);
  std::vector<size_t> chunks;
  for (size_t c = 1; c <= 70; c += sweep::step(70)) chunks.push_back(c);
  for (size_t c : {100, 255, 256, 512, 513, 1024, 1100}) chunks.push_back(c);
  for (int type : kTypes)
    for (size_t chunk : chunks)
      for (size_t len : {size_t{0}, chunk - 1, chunk, 2 * chunk, 3 * chunk + 1, 4 * chunk,
                         5 * chunk + chunk / 2, 7 * chunk + 1})
        for (size_t off : {0, 1, 5}) {
          const uint8_t *p = data.data() + off;
          const auto want = oracle_words(type, p, len, chunk);
          std::vector<uint32_t> sums(want.size() + 1, kGuard);
          ASSERT_EQ(bulk_crc(p, len, sums.data(), type, static_cast<int>(chunk), nullptr),
                    BULK_CRC_OK);
          ASSERT_EQ(std::vector<uint32_t>(sums.begin(), sums.end() - 1), want)
              << "type " << type << " chunk " << chunk << " len " << len << " off " << off;
          ASSERT_EQ(sums.back(), kGuard);
          crc32_error_t err{1, 2, nullptr};
          ASSERT_EQ(bulk_crc(p, len, sums.data(), type, static_cast<int>(chunk), &err),
                    BULK_CRC_OK);
          ASSERT_EQ(err.got_crc, 1u);
          ASSERT_EQ(err.expected_crc, 2u);
          ASSERT_EQ(err.bad_data, nullptr);
        }
}

// One damaged byte in chunk i is reported at chunk i, wherever i falls: in
// each place of a group of three, in the leftover chunks, in the partial one.
TEST(BulkCrc, MismatchNamesTheDamagedChunkWithBothWords) {
  constexpr size_t kChunk = 16, kLen = 8 * kChunk + 5;  // 2 groups, 2 leftovers, 1 partial
  for (int type : kTypes) {
    auto data = reference::random_bytes(kLen, 33);
    const auto sums = oracle_words(type, data.data(), kLen, kChunk);
    for (size_t i = 0; i < sums.size(); ++i) {
      const size_t at = i * kChunk + (i * 7) % std::min(kChunk, kLen - i * kChunk);
      data[at] ^= 0x40;
      auto stored = sums;
      crc32_error_t err{};
      ASSERT_EQ(bulk_crc(data.data(), kLen, stored.data(), type, kChunk, &err),
                BULK_CRC_MISMATCH);
      EXPECT_EQ(stored, sums) << "verify mode must not write";
      EXPECT_EQ(err.bad_data, data.data() + i * kChunk) << "chunk " << i;
      EXPECT_EQ(err.expected_crc, sums[i]);
      EXPECT_EQ(err.got_crc, oracle_word(type, data.data() + i * kChunk,
                                         std::min(kChunk, kLen - i * kChunk)));
      data[at] ^= 0x40;
    }
  }
}

TEST(BulkCrc, TheEarlierOfTwoDamagedChunksIsReported) {
  for (int type : kTypes) {
    auto data = reference::random_bytes(100, 34);
    auto sums = oracle_words(type, data.data(), 100, 10);
    sums[2] ^= 1;  // a damaged stored word
    data[75] ^= 1;  // and damaged data further on
    crc32_error_t err{};
    ASSERT_EQ(bulk_crc(data.data(), 100, sums.data(), type, 10, &err), BULK_CRC_MISMATCH);
    EXPECT_EQ(err.bad_data, data.data() + 20);
    EXPECT_EQ(err.expected_crc, sums[2]);
    EXPECT_EQ(err.got_crc, sums[2] ^ 1);
  }
}

TEST(BulkCrc, OneByteChunksGiveOneWordPerByte) {
  const uint8_t data[] = {0x00, 0xFF, 0x31, 0x80, 0x7F};
  for (int type : kTypes) {
    uint32_t sums[6];
    std::fill(std::begin(sums), std::end(sums), kGuard);
    ASSERT_EQ(bulk_crc(data, 5, sums, type, 1, nullptr), BULK_CRC_OK);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(sums[i], oracle_word(type, data + i, 1)) << i;
    EXPECT_EQ(sums[5], kGuard);
  }
}

// Rejected calls touch nothing: no word written, no record filled.  The type
// is tested before anything else, so its code wins over a bad chunk size and
// holds also for empty data.  Nothing is read either: each call is made once
// more with null data and sums.
TEST(BulkCrc, RejectedCallsReturnTheirCodeAndTouchNothing) {
  const struct {
    int type, bpc;
    size_t len;
    int verify_rc, compute_rc;
  } cases[] = {
      {0, 512, 100, BULK_CRC_BAD_TYPE, -EINVAL},
      {3, 512, 100, BULK_CRC_BAD_TYPE, -EINVAL},
      {-1, 512, 0, BULK_CRC_BAD_TYPE, -EINVAL},
      {INT_MIN, 512, 100, BULK_CRC_BAD_TYPE, -EINVAL},
      {INT_MAX, INT_MAX, 100, BULK_CRC_BAD_TYPE, -EINVAL},
      {0, 0, 100, BULK_CRC_BAD_TYPE, -EINVAL},
      {CRC32C_POLYNOMIAL, 0, 100, -EINVAL, -EINVAL},
      {CRC32_ZLIB_POLYNOMIAL, 0, 0, -EINVAL, -EINVAL},
      {CRC32C_POLYNOMIAL, -1, 100, -EINVAL, -EINVAL},
      {CRC32C_POLYNOMIAL, -512, 100, -EINVAL, -EINVAL},
      {CRC32_ZLIB_POLYNOMIAL, INT_MIN, 100, -EINVAL, -EINVAL},
      {CRC32C_POLYNOMIAL, INT_MIN, 0, -EINVAL, -EINVAL},
  };
  const auto data = reference::random_bytes(100, 1);
  for (const auto &c : cases)
    for (bool null_pointers : {false, true}) {
      SCOPED_TRACE(testing::Message() << "type " << c.type << " bpc " << c.bpc << " len " << c.len
                                      << (null_pointers ? ", null pointers" : ""));
      uint32_t sums[6] = {kGuard, kGuard, kGuard, kGuard, kGuard, kGuard};
      const uint8_t *p = null_pointers ? nullptr : data.data();
      uint32_t *s = null_pointers ? nullptr : sums + 1;
      crc32_error_t err{7, 8, data.data()};
      EXPECT_EQ(bulk_crc(p, c.len, s, c.type, c.bpc, &err), c.verify_rc);
      EXPECT_EQ(bulk_crc(p, c.len, s, c.type, c.bpc, nullptr), c.compute_rc);
      for (uint32_t w : sums) EXPECT_EQ(w, kGuard);
      EXPECT_EQ(err.got_crc, 7u);
      EXPECT_EQ(err.expected_crc, 8u);
      EXPECT_EQ(err.bad_data, data.data());
    }
}

TEST(BulkCrc, EmptyDataReadsAndWritesNothing) {
  for (int type : kTypes) {
    crc32_error_t err{7, 8, nullptr};
    EXPECT_EQ(bulk_crc(nullptr, 0, nullptr, type, 512, nullptr), BULK_CRC_OK);
    EXPECT_EQ(bulk_crc(nullptr, 0, nullptr, type, 512, &err), BULK_CRC_OK);
    EXPECT_EQ(err.got_crc, 7u);
  }
}

// Stored CRC32C words do not depend on which routine the slot holds.
TEST(BulkCrc, Crc32cWordsAreTheSameWhicheverRoutineTheSlotHolds) {
  const auto data = reference::random_bytes(4096 + 77, 8);
  std::vector<uint32_t> as_loaded(10), on_tables(10);
  for (int bpc : {1, 7, 512, 513}) {
    as_loaded.assign(data.size() / bpc + 1, 0);
    on_tables.assign(data.size() / bpc + 1, 0);
    ASSERT_EQ(bulk_crc(data.data(), data.size(), as_loaded.data(), CRC32C_POLYNOMIAL, bpc, nullptr), 0);
    {
      tiers::slot_override tables(pipelined_crc32c_func, zelkor::engine_table_routines().pipelined_crc32c_sb8);
      ASSERT_EQ(bulk_crc(data.data(), data.size(), on_tables.data(), CRC32C_POLYNOMIAL, bpc, nullptr), 0);
    }
    EXPECT_EQ(as_loaded, on_tables) << bpc;
  }
}

}  // namespace
