// kernels_test.cc -- every per-chunk kernel of both polynomials against the
// oracles: the bitwise CRC, zlib's crc32() for CRC-32 and the published
// check values.  Each kernel computes stored words (htonl(~crc)) of whole
// chunks, or of one chunk of any length; the words must not depend on
// length, chunk count, chunk size or alignment.  A kernel that this
// processor cannot run is skipped with what it lacks (under emulators and
// valgrind, most of the wide ones).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "crc_reference.h"
#include "util/bulk_crc32.h"
#if defined(__x86_64__)
#include "util/crc/x86/crc32_zlib_avx2.h"
#include "util/crc/x86/crc32_zlib_avx512.h"
#include "util/crc/x86/crc32_zlib_pclmul.h"
#include "util/crc/x86/crc32c_avx2.h"
#include "util/crc/x86/crc32c_avx512.h"
#include "util/crc/x86/crc32c_sse42.h"
#elif defined(__aarch64__)
#include "util/crc/aarch64/crc32_zlib_armv8.h"
#include "util/crc/aarch64/crc32c_armv8.h"
#endif
#include "util/crc/kernel.h"
#include "util/crc/tiers.h"

namespace {

struct kernel_case {
  const char *name;
  int type;  // CRC32C_POLYNOMIAL or CRC32_ZLIB_POLYNOMIAL
  bool (*runs_here)(const zelkor::cpu_features &);
  zelkor::crc_chunks_fn chunks;
  zelkor::crc_one_fn one;
  const char *where_skipped = nullptr;  // what covers the kernel where it cannot run
};

template <auto kTier>
bool tier_runs_here(const zelkor::cpu_features &f) {
  return zelkor::runs_here(kTier, f);
}

using zelkor::crc32_zlib_tier;
using zelkor::crc32c_tier;

#if defined(__x86_64__)
// A CRC32C hybrid's model: the CRC32 chains, and 128-bit folds.
bool model_runs_here(const zelkor::cpu_features &f) {
  return zelkor::runs_here(crc32c_tier::sse42_x3, f) && f.sse41;
}
#endif

const kernel_case kKernels[] = {
#if defined(__x86_64__)
    {"crc32c_sse42_x3", CRC32C_POLYNOMIAL, tier_runs_here<crc32c_tier::sse42_x3>,
     zelkor::crc32c_sse42_x3_chunks, zelkor::crc32c_sse42_x3_one},
    {"crc32c_sse42_x12", CRC32C_POLYNOMIAL, tier_runs_here<crc32c_tier::sse42_x12>,
     zelkor::crc32c_sse42_x12_chunks, zelkor::crc32c_sse42_x12_one},
    {"crc32c_hybrid_avx2", CRC32C_POLYNOMIAL, tier_runs_here<crc32c_tier::hybrid_avx2>,
     zelkor::crc32c_hybrid_avx2_chunks, zelkor::crc32c_hybrid_avx2_one},
#define ZELKOR_HYBRID_ROWS(split)                                                            \
  {"crc32c_hybrid_avx512_" #split, CRC32C_POLYNOMIAL,                                        \
   tier_runs_here<crc32c_tier::hybrid_avx512>, zelkor::crc32c_hybrid_avx512_##split##_chunks, \
   zelkor::crc32c_hybrid_avx512_##split##_one, "its model row runs the same algorithm here"}, \
  {"crc32c_hybrid_avx512_" #split "_model", CRC32C_POLYNOMIAL, model_runs_here,              \
   zelkor::crc32c_hybrid_avx512_##split##_model_chunks,                                      \
   zelkor::crc32c_hybrid_avx512_##split##_model_one},
    ZELKOR_HYBRID_ROWS(3x9s12) ZELKOR_HYBRID_ROWS(3x9s3) ZELKOR_HYBRID_ROWS(3x3s3)
#undef ZELKOR_HYBRID_ROWS
    {"crc32_zlib_pclmul", CRC32_ZLIB_POLYNOMIAL, tier_runs_here<crc32_zlib_tier::pclmul>,
     zelkor::crc32_zlib_pclmul_chunks, zelkor::crc32_zlib_pclmul_one},
    {"crc32_zlib_vpclmul_avx2", CRC32_ZLIB_POLYNOMIAL,
     tier_runs_here<crc32_zlib_tier::vpclmul_avx2>, zelkor::crc32_zlib_vpclmul_avx2_chunks,
     zelkor::crc32_zlib_vpclmul_avx2_one},
    {"crc32_zlib_vpclmul_avx512", CRC32_ZLIB_POLYNOMIAL,
     tier_runs_here<crc32_zlib_tier::vpclmul_avx512>, zelkor::crc32_zlib_vpclmul_avx512_chunks,
     zelkor::crc32_zlib_vpclmul_avx512_one, "its model row runs the same algorithm here"},
    // The same algorithm on 128-bit operations: wherever the 128-bit folds run.
    {"crc32_zlib_vpclmul_avx512_model", CRC32_ZLIB_POLYNOMIAL,
     tier_runs_here<crc32_zlib_tier::pclmul>, zelkor::crc32_zlib_vpclmul_avx512_model_chunks,
     zelkor::crc32_zlib_vpclmul_avx512_model_one},
#elif defined(__aarch64__)
    {"crc32c_armv8_crc_x3", CRC32C_POLYNOMIAL, tier_runs_here<crc32c_tier::armv8_crc_x3>,
     zelkor::crc32c_armv8_crc_x3_chunks, zelkor::crc32c_armv8_crc_x3_one},
    {"crc32_zlib_armv8_crc_x3", CRC32_ZLIB_POLYNOMIAL,
     tier_runs_here<crc32_zlib_tier::armv8_crc_x3>, zelkor::crc32_zlib_armv8_crc_x3_chunks,
     zelkor::crc32_zlib_armv8_crc_x3_one},
    {"crc32c_armv8_pmull", CRC32C_POLYNOMIAL, tier_runs_here<crc32c_tier::armv8_pmull>,
     zelkor::crc32c_armv8_pmull_chunks, zelkor::crc32c_armv8_pmull_one},
    {"crc32_zlib_armv8_pmull", CRC32_ZLIB_POLYNOMIAL, tier_runs_here<crc32_zlib_tier::armv8_pmull>,
     zelkor::crc32_zlib_armv8_pmull_chunks, zelkor::crc32_zlib_armv8_pmull_one},
#endif
};

void PrintTo(const kernel_case &k, std::ostream *os) { *os << k.name; }

class Kernel : public testing::TestWithParam<kernel_case> {
 protected:
  void SetUp() override {
    if (!GetParam().runs_here(zelkor::read_cpu_features()))
      GTEST_SKIP() << GetParam().name << " needs processor features this one lacks"
                   << (GetParam().where_skipped ? "; " : "")
                   << (GetParam().where_skipped ? GetParam().where_skipped : "");
  }
  int type() const { return GetParam().type; }

  // The oracle: the bitwise CRC, and for CRC-32 zlib's as well.
  uint32_t want(const uint8_t *p, size_t n) const {
    const uint32_t word = reference::stored_word(type(), p, n);
    if (type() == CRC32_ZLIB_POLYNOMIAL) {
      EXPECT_EQ(htonl(static_cast<uint32_t>(crc32_z(0, p, n))), word) << "oracles disagree at " << n;
    }
    return word;
  }
  std::vector<uint32_t> want_words(const uint8_t *p, size_t chunk, size_t n_chunks) const {
    std::vector<uint32_t> w;
    for (size_t i = 0; i < n_chunks; ++i) w.push_back(want(p + i * chunk, chunk));
    return w;
  }

  // The chunk kernel's words; a guard word behind them must survive.
  std::vector<uint32_t> chunks(const uint8_t *p, size_t chunk, size_t n_chunks) const {
    constexpr uint32_t kGuard = 0x5A5A5A5A;
    std::vector<uint32_t> w(n_chunks + 1, kGuard);
    GetParam().chunks(p, chunk, n_chunks, w.data());
    EXPECT_EQ(w.back(), kGuard) << "word written past chunk " << n_chunks << " of " << chunk
                                << " bytes";
    w.pop_back();
    return w;
  }
};

TEST_P(Kernel, PublishedCheckValue) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const uint8_t crc32c[4] = {0xE3, 0x06, 0x92, 0x83}, crc32[4] = {0xCB, 0xF4, 0x39, 0x26};
  const uint8_t *expected = type() == CRC32C_POLYNOMIAL ? crc32c : crc32;
  const uint32_t one = GetParam().one(digits, sizeof digits);
  EXPECT_EQ(std::memcmp(&one, expected, 4), 0);
  const uint32_t word = chunks(digits, sizeof digits, 1)[0];
  EXPECT_EQ(std::memcmp(&word, expected, 4), 0);
}

// A lone chunk at every length through the short, lockstep and long paths,
// then around the rounds of the stream kernels (3 or 12 streams of 4 KiB)
// and long ones.
TEST_P(Kernel, OneChunkOfEveryLength) {
  const auto data = reference::random_bytes((1u << 20) + 13 + 3, 11);
  const uint8_t *p = data.data() + 3;  // off any natural alignment
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 1100; n += sweep::step(1100)) lengths.push_back(n);
  for (size_t n : {1023, 1024, 1025, 3 * 4096 - 1, 3 * 4096, 3 * 4096 + 1, 3 * 4096 + 8 * 3 + 5,
                   6 * 4096 + 13, 12 * 4096 - 8, 12 * 4096, 12 * 4096 + 95, 12 * 4096 + 96,
                   24 * 4096 + 97, 64 << 10, 1 << 20, (1 << 20) + 13})
    lengths.push_back(n);
  for (size_t n : lengths) ASSERT_EQ(GetParam().one(p, n), want(p, n)) << "length " << n;
}

// Chunk sizes 0..70 one by one and a sample up to ~1100, with every count up
// to two groups and a leftover of the widest kernel.
TEST_P(Kernel, ChunksOfEverySizeAndCount) {
  constexpr size_t kMaxCount = 2 * zelkor::kKernelGroupMultiple + 1;
  std::vector<size_t> sizes;
  for (size_t cs = 0; cs <= 70; cs += sweep::step(70)) sizes.push_back(cs);
  for (size_t cs = 71; cs <= 1100; cs += 7 * sweep::step(8)) sizes.push_back(cs);
  for (size_t cs : {128, 256, 512, 1024}) sizes.push_back(cs);
  for (size_t cs : sizes) {
    const auto data = reference::random_bytes(cs * kMaxCount + 1, static_cast<uint32_t>(cs));
    const uint8_t *p = data.data() + 1;
    const auto all = want_words(p, cs, kMaxCount);
    for (size_t n = 0; n <= kMaxCount; n += (cs > 70 ? sweep::step(kMaxCount) : 1)) {
      const auto got = chunks(p, cs, n);
      for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(got[i], all[i]) << "chunk size " << cs << ", count " << n << ", chunk " << i;
    }
  }
}

// Long chunks, at the sizes with their own loops and around them.
TEST_P(Kernel, LongChunks) {
  const auto data = reference::random_bytes(5 << 16, 13);
  for (size_t cs : {2048, 4095, 4096, 4097, 12 * 1024 + 7, 16384, 64 << 10}) {
    const size_t n = std::min<size_t>(data.size() / cs, 13);
    EXPECT_EQ(chunks(data.data(), cs, n), want_words(data.data(), cs, n)) << "chunk size " << cs;
  }
  EXPECT_EQ(chunks(data.data(), (1 << 18) + 5, 1), want_words(data.data(), (1 << 18) + 5, 1));
}

// Words depend on the bytes only, never on where they lie.
TEST_P(Kernel, EveryAlignment) {
  const auto src = reference::random_bytes(4 * 1100, 14);
  std::vector<uint8_t> buf(src.size() + 64 + 64);
  uint8_t *base = buf.data() + (64 - reinterpret_cast<uintptr_t>(buf.data()) % 64);
  for (size_t cs : {5, 9, 16, 64, 100, 512, 1100}) {
    const size_t n = src.size() / cs;
    const auto all = want_words(src.data(), cs, n);
    const uint32_t one = want(src.data(), cs + 5);
    for (size_t align = 0; align < 64; align += sweep::step(64)) {
      std::memcpy(base + align, src.data(), src.size());
      ASSERT_EQ(chunks(base + align, cs, n), all) << "chunk size " << cs << ", alignment " << align;
      ASSERT_EQ(GetParam().one(base + align, cs + 5), one) << "alignment " << align;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Crc, Kernel, testing::ValuesIn(kKernels),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
