// engine_clmul_test.cc -- the carry-less-multiply CRC-32 kernels, every tier,
// against zlib's crc32() and the bitwise oracle.  A tier this processor lacks
// is skipped with the reason; under an emulator without PCLMULQDQ every
// kernel test skips and only the detection runs.
#include <gtest/gtest.h>
#include <zlib.h>

#include <ostream>
#include <string>
#include <vector>

#include "crc_reference.h"
#include "util/crc/crc32_zlib_avx2.h"
#include "util/crc/crc32_zlib_pclmul.h"
#include "util/crc/tiers.h"

namespace {

constexpr int kCrc32 = 2;  // the zlib type code of the oracle

struct tier {
  const char *name;
  zelkor::crc32_zlib_tier tier;
  const char *needs;
  void (*chunks)(const uint8_t *, size_t, size_t, uint32_t *);
  uint32_t (*one)(const uint8_t *, size_t);
};

const tier kTiers[] = {
    {"pclmul", zelkor::crc32_zlib_tier::pclmul, "PCLMULQDQ and SSE4.1",
     zelkor::crc32_zlib_pclmul_chunks, zelkor::crc32_zlib_pclmul_one},
    {"vpclmul_avx2", zelkor::crc32_zlib_tier::vpclmul_avx2,
     "AVX2 and VPCLMULQDQ with YMM state enabled by the operating system",
     zelkor::crc32_zlib_vpclmul_avx2_chunks, zelkor::crc32_zlib_vpclmul_avx2_one},
};

void PrintTo(const tier &t, std::ostream *os) { *os << t.name; }

uint32_t zlib_word(const uint8_t *p, size_t n) {
  return htonl(static_cast<uint32_t>(crc32_z(0, p, n)));
}

std::vector<uint32_t> zlib_words(const uint8_t *p, size_t chunk, size_t n_chunks) {
  std::vector<uint32_t> w;
  for (size_t i = 0; i < n_chunks; ++i) w.push_back(zlib_word(p + i * chunk, chunk));
  return w;
}

class ClmulTier : public testing::TestWithParam<tier> {
 protected:
  void SetUp() override {
    if (!zelkor::runs_here(GetParam().tier, zelkor::read_cpu_features()))
      GTEST_SKIP() << "this processor lacks " << GetParam().needs;
  }

  // Runs the chunk kernel over n_chunks chunks at p and returns the words; a
  // guard word behind them must survive.
  std::vector<uint32_t> chunks(const uint8_t *p, size_t chunk, size_t n_chunks) {
    constexpr uint32_t kGuard = 0x5A5A5A5A;
    std::vector<uint32_t> w(n_chunks + 1, kGuard);
    GetParam().chunks(p, chunk, n_chunks, w.data());
    EXPECT_EQ(w.back(), kGuard) << "word written past chunk " << n_chunks;
    w.pop_back();
    return w;
  }
};

TEST_P(ClmulTier, PublishedCheckValue) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const uint8_t expected[4] = {0xCB, 0xF4, 0x39, 0x26};
  const uint32_t one = GetParam().one(digits, sizeof digits);
  EXPECT_EQ(std::memcmp(&one, expected, 4), 0);
  const uint32_t word = chunks(digits, sizeof digits, 1)[0];
  EXPECT_EQ(std::memcmp(&word, expected, 4), 0);
}

// Every length through the short, lockstep and long paths (every tail and
// every count of leftover 16-byte blocks), then large single chunks.
TEST_P(ClmulTier, OneChunkOfAnyLength) {
  const auto data = reference::random_bytes(1100 + 3, 11);
  const uint8_t *p = data.data() + 3;  // off any natural alignment
  for (size_t len = 0; len <= 1100; len += sweep::step(1100)) {
    const uint32_t want = reference::stored_word(kCrc32, p, len);
    ASSERT_EQ(GetParam().one(p, len), want) << "length " << len;
    ASSERT_EQ(zlib_word(p, len), want) << "oracles disagree at " << len;
  }
  const auto big = reference::random_bytes((1u << 20) + 13, 12);
  for (size_t len : {size_t{64} << 10, size_t{1} << 20, (size_t{1} << 20) + 13})
    EXPECT_EQ(GetParam().one(big.data(), len), zlib_word(big.data(), len)) << "length " << len;
  EXPECT_EQ(GetParam().one(big.data(), 64u << 10),
            reference::stored_word(kCrc32, big.data(), 64u << 10));
}

// Chunk sizes 0..70 and a sample up to 1100, with counts that leave every
// remainder of the four-chunk batches after zero, one and two full batches.
TEST_P(ClmulTier, ChunksOfEverySize) {
  constexpr size_t kMaxCount = 11;
  std::vector<size_t> sizes;
  for (size_t cs = 0; cs <= 70; cs += sweep::step(70)) sizes.push_back(cs);
  for (size_t cs = 71; cs <= 1100; cs += 7 * sweep::step(8)) sizes.push_back(cs);
  for (size_t cs : sizes) {
    const auto data = reference::random_bytes(cs * kMaxCount + 1, static_cast<uint32_t>(cs));
    const uint8_t *p = data.data() + 1;
    const auto want = reference::stored_words(kCrc32, p, cs * kMaxCount, cs ? cs : 1);
    ASSERT_EQ(zlib_words(p, cs, cs ? kMaxCount : 0), cs ? want : std::vector<uint32_t>{});
    for (size_t n = 0; n <= kMaxCount; ++n) {
      const auto got = chunks(p, cs, n);
      for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(got[i], cs ? want[i] : 0u) << "chunk size " << cs << ", count " << n
                                             << ", chunk " << i;
    }
  }
}

TEST_P(ClmulTier, AnyAlignment) {
  const auto data = reference::random_bytes(64 + 1029 * 5, 21);
  for (size_t cs : {5, 16, 64, 100, 512, 1029}) {
    for (size_t offset = 0; offset < 64; offset += sweep::step(64)) {
      const uint8_t *p = data.data() + offset;
      SCOPED_TRACE(testing::Message() << "chunk size " << cs << ", offset " << offset);
      ASSERT_EQ(chunks(p, cs, 5), zlib_words(p, cs, 5));
      ASSERT_EQ(GetParam().one(p, cs), zlib_word(p, cs));
    }
  }
}

TEST_P(ClmulTier, LargeChunks) {
  const auto data = reference::random_bytes(5 << 16, 31);
  EXPECT_EQ(chunks(data.data(), 64 << 10, 5), zlib_words(data.data(), 64 << 10, 5));
  EXPECT_EQ(chunks(data.data(), (1 << 18) + 5, 1), zlib_words(data.data(), (1 << 18) + 5, 1));
}

INSTANTIATE_TEST_SUITE_P(Tiers, ClmulTier, testing::ValuesIn(kTiers),
                         [](const testing::TestParamInfo<tier> &info) {
                           return std::string(info.param.name);
                         });

// The detection against libgcc's own reading of the processor (which also
// checks the operating system's YMM support).
TEST(ClmulDetection, AgreesWithTheCompilerRuntime) {
  __builtin_cpu_init();
  const zelkor::cpu_features f = zelkor::read_cpu_features();
  const bool pclmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  EXPECT_EQ(zelkor::runs_here(zelkor::crc32_zlib_tier::pclmul, f), pclmul);
  EXPECT_EQ(zelkor::runs_here(zelkor::crc32_zlib_tier::vpclmul_avx2, f),
            pclmul && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq"));
}

}  // namespace
