// Whole-buffer CRCs (zelkor_crc.h) against oracles nobody here wrote: zlib's
// crc32(), crc32_z() and crc32_combine64() for CRC-32, the published check
// values and iSCSI's CRC32C vectors, the bitwise definition.  Updates run
// under every kernel tier this processor runs and through a slot routine a
// caller installed; combine and compose under every multiplier.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crc_reference.h"
#include "engine_tiers.h"
#include "util/crc/multiply.h"
#include "util/zelkor_crc.h"

namespace {

using tiers::tier_case;

constexpr int kTypes[] = {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL};

// The CRC of a message, from a source other than the code under test.
uint32_t oracle(int type, const uint8_t *p, size_t n) {
  if (type == CRC32_ZLIB_POLYNOMIAL) return static_cast<uint32_t>(crc32_z(0, p, n));
  return reference::crc(type, p, n);
}

// a * b mod P one bit at a time, in the register's reflected form.
uint32_t bit_mul(uint32_t poly, uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int i = 0; i < 32; ++i) {
    if (b & (0x80000000u >> i)) r ^= a;
    a = (a >> 1) ^ ((a & 1) ? poly : 0);
  }
  return r;
}

// The CRC of a message whose CRC is crc followed by n zero bytes: the
// register (~crc) times x^(8n), by square-and-multiply.
uint32_t append_zeros(int type, uint32_t crc, uint64_t n) {
  const uint32_t poly = reference::poly_of(type);
  uint32_t reg = ~crc;
  uint32_t base = 0x00800000u;  // x^8
  for (; n != 0; n >>= 1, base = bit_mul(poly, base, base))
    if (n & 1) reg = bit_mul(poly, reg, base);
  return ~reg;
}

uint32_t update(int type, uint32_t crc, const uint8_t *p, size_t n) {
  EXPECT_EQ(zelkor_crc_update(type, &crc, p, n), 0);
  return crc;
}

TEST(ZelkorCrc, CheckValuesAndIscsiVectors) {
  std::vector<uint8_t> zeros(32, 0), ones(32, 0xFF), up(32), down(32);
  for (int i = 0; i < 32; ++i)
    up[i] = static_cast<uint8_t>(i), down[i] = static_cast<uint8_t>(31 - i);
  const auto digits = reinterpret_cast<const uint8_t *>("123456789");
  const struct {
    int type;
    const uint8_t *p;
    size_t n;
    uint32_t want;
  } cases[] = {
      {CRC32C_POLYNOMIAL, digits, 9, 0xE3069283u},
      {CRC32_ZLIB_POLYNOMIAL, digits, 9, 0xCBF43926u},
      {CRC32C_POLYNOMIAL, digits, 0, 0},
      {CRC32_ZLIB_POLYNOMIAL, nullptr, 0, 0},
      {CRC32C_POLYNOMIAL, zeros.data(), 32, 0x8A9136AAu},
      {CRC32C_POLYNOMIAL, ones.data(), 32, 0x62A8AB43u},
      {CRC32C_POLYNOMIAL, up.data(), 32, 0x46DD794Eu},
      {CRC32C_POLYNOMIAL, down.data(), 32, 0x113FDB5Cu},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(update(c.type, 0, c.p, c.n), c.want) << c.type << " " << c.n;
    // One word per buffer composes to the same value.
    uint32_t word = 0, crc = 1;
    if (c.n > 0) {
      ASSERT_EQ(bulk_crc(c.p, c.n, &word, c.type, 512, nullptr), 0);
    }
    ASSERT_EQ(zelkor_crc_compose(c.type, &word, c.n, 512, &crc), 0);
    EXPECT_EQ(crc, c.want);
  }
}

TEST(ZelkorCrc, BadInputsChangeNothing) {
  const uint8_t byte = 7;
  uint32_t word = 0;
  for (int type : {0, 3, 99, -1}) {
    uint32_t crc = 0x12345678u;
    EXPECT_EQ(zelkor_crc_update(type, &crc, &byte, 1), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(zelkor_crc_update(type, nullptr, nullptr, 1), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(zelkor_crc_combine(type, 1, 2, 3, &crc), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(zelkor_crc_combine(type, 1, 2, 3, nullptr), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(zelkor_crc_compose(type, &word, 1, 512, &crc), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(zelkor_crc_compose(type, nullptr, 1, 0, nullptr), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(crc, 0x12345678u);
  }
  for (int type : kTypes) {
    uint32_t crc = 0x12345678u;
    EXPECT_EQ(zelkor_crc_update(type, nullptr, &byte, 1), -EINVAL);
    EXPECT_EQ(zelkor_crc_update(type, &crc, nullptr, 1), -EINVAL);
    EXPECT_EQ(zelkor_crc_combine(type, 1, 2, 3, nullptr), -EINVAL);
    for (int bpc : {0, -1, -512})
      EXPECT_EQ(zelkor_crc_compose(type, &word, 1, bpc, &crc), -EINVAL) << bpc;
    EXPECT_EQ(zelkor_crc_compose(type, &word, 1, 512, nullptr), -EINVAL);
    EXPECT_EQ(zelkor_crc_compose(type, nullptr, 1, 512, &crc), -EINVAL);
    EXPECT_EQ(crc, 0x12345678u);
    // Null with nothing to read is no error.
    EXPECT_EQ(zelkor_crc_update(type, &crc, nullptr, 0), 0);
    EXPECT_EQ(crc, 0x12345678u);
    EXPECT_EQ(zelkor_crc_compose(type, nullptr, 0, 512, &crc), 0);
    EXPECT_EQ(crc, 0u);
  }
}

// --- update, under every tier ------------------------------------------------

class Update : public testing::TestWithParam<tier_case> {
 protected:
  void SetUp() override {
    if (!tiers::force(GetParam()))
      GTEST_SKIP() << GetParam().label << " needs processor features this one lacks";
  }
  int type() const { return GetParam().type; }
  tiers::restore_on_exit restore_;
};

// Lengths around every kernel's thresholds, one-shot and in random pieces
// (pieces of 0 bytes included), from any alignment.
TEST_P(Update, OneShotAndPiecesEqualTheOracle) {
  const std::vector<uint8_t> buf = reference::random_bytes(300000, 21);
  std::mt19937 rng(GetParam().type * 7 + 1);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 1100; n += sweep::step(1100)) lengths.push_back(n);
  for (size_t n : {4095u, 4096u, 16384u, 65537u, 299990u}) lengths.push_back(n);
  for (size_t n : lengths) {
    const uint8_t *p = buf.data() + n % 7;
    const uint32_t want = oracle(type(), p, n);
    ASSERT_EQ(update(type(), 0, p, n), want) << n;
    uint32_t crc = 0;
    for (size_t done = 0; done < n;) {
      const size_t piece = std::min<size_t>(n - done, rng() % 3 == 0 ? rng() % 8 : rng() % 5000);
      crc = update(type(), crc, p + done, piece);
      done += piece;
    }
    ASSERT_EQ(crc, want) << n << " in pieces";
  }
}

std::vector<tier_case> all_tiers() { return tiers::all(); }
INSTANTIATE_TEST_SUITE_P(EveryTier, Update, testing::ValuesIn(all_tiers()),
                         [](const auto &info) { return info.param.label; });

// A routine that a caller put into the slot is called in place of the
// kernel, one block at a time, and never with a length an int cannot hold.
size_t g_calls, g_longest, g_total;
void counting_routine(uint32_t *crc1, uint32_t *, uint32_t *, const uint8_t *, size_t block_size,
                      int num_blocks) {
  ++g_calls;
  g_longest = std::max(g_longest, block_size);
  g_total += block_size * static_cast<size_t>(num_blocks);
  *crc1 += 1;
}

TEST(ZelkorCrcSlot, CallersRoutineGetsPiecesBelowTwoGiB) {
  // A large mapping of zero pages that nobody writes costs no memory.
  const size_t n = (size_t{5} << 30) + 3;
  void *map = mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  {
    tiers::slot_override s(pipelined_crc32c_func, counting_routine);
    g_calls = g_longest = g_total = 0;
    uint32_t crc = 0;
    ASSERT_EQ(zelkor_crc_update(CRC32C_POLYNOMIAL, &crc, static_cast<uint8_t *>(map), n), 0);
    EXPECT_EQ(g_total, n);
    EXPECT_LT(g_longest, size_t{1} << 31);
    EXPECT_EQ(crc, ~(~0u + static_cast<uint32_t>(g_calls)));
  }
  {
    // The table routine in the CRC32C slot: the same values as the kernels.
    const std::vector<uint8_t> buf = reference::random_bytes(10000, 5);
    tiers::slot_override s(pipelined_crc32c_func,
                           zelkor::engine_table_routines().pipelined_crc32c_sb8);
    EXPECT_EQ(update(CRC32C_POLYNOMIAL, 0, buf.data(), buf.size()),
              reference::crc(CRC32C_POLYNOMIAL, buf.data(), buf.size()));
  }
  munmap(map, n);
}

TEST(ZelkorCrcLong, BeyondFourGiBOnTheKernelInForce) {
  if (sweep::quick()) GTEST_SKIP() << "5 GiB are too slow to read here";
  const size_t n = (size_t{5} << 30) + 3;
  void *map = mmap(nullptr, n, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  const auto *p = static_cast<const uint8_t *>(map);
  EXPECT_EQ(update(CRC32_ZLIB_POLYNOMIAL, 0, p, n), static_cast<uint32_t>(crc32_z(0, p, n)));
  for (int type : kTypes) EXPECT_EQ(update(type, 0, p, n), append_zeros(type, 0, n)) << type;
  munmap(map, n);
}

// --- combine and compose, under every multiplier ------------------------------

class Multiplier : public testing::TestWithParam<const zelkor::multiplier_row *> {
 protected:
  void SetUp() override {
    if (!zelkor::force_multiplier(*GetParam()))
      GTEST_SKIP() << GetParam()->name << " needs processor features this one lacks";
  }
  void TearDown() override { zelkor::force_multiplier(saved_); }
  const zelkor::multiplier_row &saved_ = zelkor::multiplier_in_force();
};

uint32_t combine(int type, uint32_t a, uint32_t b, uint64_t len_b) {
  uint32_t ab = 0;
  EXPECT_EQ(zelkor_crc_combine(type, a, b, len_b, &ab), 0);
  return ab;
}

TEST_P(Multiplier, CombineAtEverySplitEqualsTheWhole) {
  const std::vector<uint8_t> buf = reference::random_bytes(2000, 3);
  std::mt19937 rng(9);
  for (int type : kTypes) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{17}, size_t{2000}}) {
      const uint32_t whole = oracle(type, buf.data(), n);
      for (size_t split = 0; split <= n; split += n < 20 ? 1 : 1 + rng() % 97) {
        const uint32_t a = oracle(type, buf.data(), split);
        const uint32_t b = oracle(type, buf.data() + split, n - split);
        ASSERT_EQ(combine(type, a, b, n - split), whole) << type << " " << n << " " << split;
      }
    }
    EXPECT_EQ(combine(type, 0xDEADBEEFu, 0, 0), 0xDEADBEEFu);
  }
}

// Lengths that no buffer here could hold: against zeros appended by the
// test's own arithmetic (checked first against real zero bytes), and for
// CRC-32 against zlib.
TEST_P(Multiplier, CombineAnyLength) {
  const std::vector<uint8_t> zeros(70000, 0);
  for (int type : kTypes)
    for (size_t n :
         {size_t{0}, size_t{1}, size_t{255}, size_t{256}, size_t{65536 + 7}, size_t{70000}})
      ASSERT_EQ(append_zeros(type, 0x1234567u, n),
                update(type, 0x1234567u, zeros.data(), n)) << "the oracle itself, " << n;
  std::mt19937_64 rng(4);
  std::vector<uint64_t> lengths = {uint64_t{1} << 32, (uint64_t{1} << 32) + 1,
                                   (uint64_t{1} << 40) + 12345, uint64_t{1} << 63, ~uint64_t{0}};
  for (int i = 0; i < 50; ++i) lengths.push_back(rng() >> (rng() % 64));
  for (int type : kTypes) {
    for (uint64_t n : lengths) {
      const uint32_t a = static_cast<uint32_t>(rng());
      ASSERT_EQ(combine(type, a, append_zeros(type, 0, n), n), append_zeros(type, a, n))
          << type << " " << n;
      const uint32_t b = static_cast<uint32_t>(rng());
      if (type == CRC32_ZLIB_POLYNOMIAL && n < (uint64_t{1} << 63)) {
        ASSERT_EQ(combine(type, a, b, n),
                  static_cast<uint32_t>(crc32_combine64(a, b, static_cast<z_off64_t>(n))))
            << n;
      }
    }
  }
}

// Words in pages of their own, the last word right before a page that
// faults; `offset` moves them off alignment.
struct guarded_words {
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t span;
  uint8_t *base;
  guarded_words(const std::vector<uint32_t> &words, size_t offset) {
    const size_t bytes = 4 * words.size() + offset;
    span = (bytes + page - 1) / page * page + page;
    base = static_cast<uint8_t *>(
        mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(base, MAP_FAILED);
    EXPECT_EQ(mprotect(base + span - page, page, PROT_NONE), 0);
    if (!words.empty()) std::memcpy(end() - 4 * words.size(), words.data(), 4 * words.size());
  }
  ~guarded_words() { munmap(base, span); }
  guarded_words(const guarded_words &) = delete;
  guarded_words &operator=(const guarded_words &) = delete;
  uint8_t *end() const { return base + span - page; }  // the faulting page
  const uint32_t *first(size_t n) const {
    return reinterpret_cast<const uint32_t *>(end() - 4 * n);
  }
};

TEST_P(Multiplier, ComposeEqualsTheCrcOfTheWhole) {
  const bool quick = sweep::quick();
  const std::vector<uint8_t> data = reference::random_bytes(300 * 4096 + 1, 8);
  for (int bpc : {1, 3, 511, 512, 4096, 65536}) {
    const size_t c = static_cast<size_t>(bpc);
    // Word counts below and above the products' blocks (two chains of 32
    // words from 128), each with the last chunk whole, one byte, or one
    // byte short.
    std::vector<size_t> lengths;
    for (size_t n : {1, 2, 31, 129, 300}) {
      if (n * c > data.size() || (quick && n * c > 600000)) continue;
      lengths.push_back(n * c);
      lengths.push_back((n - 1) * c + 1);
      if (c > 1) lengths.push_back(n * c - 1);
    }
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    for (int type : kTypes) {
      // One pass of the oracle over the longest prefix, read at each length.
      uint32_t crc = 0;
      size_t at = 0;
      for (size_t len : lengths) {
        crc = type == CRC32_ZLIB_POLYNOMIAL
                  ? static_cast<uint32_t>(crc32_z(crc, data.data() + at, len - at))
                  : ~reference::bitwise(reference::kCrc32cPoly, ~crc, data.data() + at, len - at);
        at = len;
        std::vector<uint32_t> words((len + c - 1) / c);
        ASSERT_EQ(bulk_crc(data.data(), len, words.data(), type, bpc, nullptr), 0);
        for (size_t offset : {0, 1, 3}) {
          guarded_words g(words, offset);
          uint32_t got = 0;
          ASSERT_EQ(zelkor_crc_compose(type, g.first(words.size()), len, bpc, &got), 0);
          ASSERT_EQ(got, crc) << "type " << type << ", " << bpc << "-byte chunks, " << len
                              << " bytes, offset " << offset;
        }
      }
    }
  }
  // No data, no word read: the pointer may lie on the faulting page.
  guarded_words g({}, 0);
  uint32_t got = 1;
  EXPECT_EQ(zelkor_crc_compose(CRC32C_POLYNOMIAL, reinterpret_cast<const uint32_t *>(g.end()), 0,
                               512, &got),
            0);
  EXPECT_EQ(got, 0u);
}

std::vector<const zelkor::multiplier_row *> all_multipliers() {
  std::vector<const zelkor::multiplier_row *> out;
  for (const zelkor::multiplier_row &r : zelkor::multiplier_rows()) out.push_back(&r);
  return out;
}
INSTANTIATE_TEST_SUITE_P(EveryMultiplier, Multiplier, testing::ValuesIn(all_multipliers()),
                         [](const auto &info) { return std::string(info.param->name); });

}  // namespace
