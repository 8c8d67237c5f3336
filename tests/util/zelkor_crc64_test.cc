// CRC-64/NVME (zelkor_crc.h) against oracles nobody here wrote: the
// published check value and vectors made by Debian's python3-crcmod
// (fixtures/crc64_nvme_vectors.txt, with the script that made it), and a
// bitwise definition written here; under every tier of the table (and
// every model), over the kernels' lengths, alignments and tails and in
// pieces; combining against the one-shot value, and lengths past 2^32
// against zeros appended by the test's own arithmetic.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crc_reference.h"
#include "engine_tiers.h"
#include "util/zelkor_crc.h"

namespace {

constexpr uint64_t kPoly = reference::kCrc64NvmePoly;
using reference::crc64_nvme;

uint64_t update(uint64_t crc, const uint8_t *p, size_t n) {
  EXPECT_EQ(zelkor_crc64_update(CRC64_NVME, &crc, p, n), 0);
  return crc;
}
uint64_t combine(uint64_t a, uint64_t b, uint64_t len_b) {
  uint64_t ab = 0;
  EXPECT_EQ(zelkor_crc64_combine(CRC64_NVME, a, b, len_b, &ab), 0);
  return ab;
}

struct vector_case {
  std::vector<uint8_t> data;
  uint64_t crc;
};

std::vector<vector_case> fixture() {
  std::ifstream in(ZELKOR_CRC64_VECTORS);
  EXPECT_TRUE(in.good()) << ZELKOR_CRC64_VECTORS;
  std::vector<vector_case> out;
  std::string hex, crc;
  while (in >> hex >> crc) {
    vector_case c;
    for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
      c.data.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    c.crc = std::stoull(crc, nullptr, 16);
    out.push_back(c);
  }
  return out;
}

class Crc64Tier : public testing::TestWithParam<tiers::tier_case> {
 protected:
  void SetUp() override {
    if (!tiers::force(GetParam()))
      GTEST_SKIP() << GetParam().label << " needs processor features this one lacks"
                   << (tiers::has_model(GetParam()) ? "; its model row runs the same algorithm"
                                                    : "");
  }
  tiers::restore_on_exit restore_;
};

TEST_P(Crc64Tier, VectorsOfAnIndependentImplementation) {
  const std::vector<vector_case> cases = fixture();
  ASSERT_GE(cases.size(), 20u);
  EXPECT_EQ(cases[0].crc, 0xAE8B14860A799888u);  // "123456789"
  for (const vector_case &c : cases) {
    // From an odd address too, and in two pieces at every split.
    std::vector<uint8_t> odd(c.data.size() + 1);
    std::copy(c.data.begin(), c.data.end(), odd.begin() + 1);
    EXPECT_EQ(update(0, c.data.data(), c.data.size()), c.crc) << c.data.size();
    EXPECT_EQ(update(0, odd.data() + 1, c.data.size()), c.crc) << c.data.size();
    EXPECT_EQ(crc64_nvme(c.data.data(), c.data.size()), c.crc) << "the test's own reference";
    for (size_t split = 0; split <= c.data.size(); split += 1 + c.data.size() / 40) {
      const uint64_t a = update(0, c.data.data(), split);
      ASSERT_EQ(update(a, c.data.data() + split, c.data.size() - split), c.crc) << split;
      ASSERT_EQ(combine(a, update(0, c.data.data() + split, c.data.size() - split),
                        c.data.size() - split),
                c.crc)
          << split;
    }
  }
}

// Bytes that end where an unreadable page begins, so that a kernel that
// reads past its input (a tail's wide load) faults.
struct guarded_bytes {
  size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t span;
  uint8_t *base;
  explicit guarded_bytes(size_t n) {
    span = (n + page - 1) / page * page + page;
    base = static_cast<uint8_t *>(
        mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(base, MAP_FAILED);
    EXPECT_EQ(mprotect(base + span - page, page, PROT_NONE), 0);
  }
  ~guarded_bytes() { munmap(base, span); }
  guarded_bytes(const guarded_bytes &) = delete;
  guarded_bytes &operator=(const guarded_bytes &) = delete;
  uint8_t *end() const { return base + span - page; }
};

// Every length up to a few windows of every width, at several alignments,
// with the input's last byte before an unreadable page and its first byte
// after one that must not be read either; longer lengths around the
// accumulators' rounds; and each in random pieces.
TEST_P(Crc64Tier, LengthsAlignmentsAndPiecesEqualTheBitwiseDefinition) {
  const std::vector<uint8_t> buf = reference::random_bytes(300000 + 16, 64);
  guarded_bytes guard(300000 + 64);
  std::mt19937 rng(5);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 1100; n += sweep::step(1100)) lengths.push_back(n);
  for (size_t n : {2047u, 4096u, 4097u, 16383u, 65537u, 299990u}) lengths.push_back(n);
  for (size_t n : lengths) {
    for (size_t misalign : {0u, 1u, 7u, 13u}) {
      uint8_t *p = guard.end() - n;
      std::memcpy(p, buf.data() + misalign, n);
      const uint64_t want = crc64_nvme(p, n);
      ASSERT_EQ(update(0, p, n), want) << n << " at " << misalign;
      // Continued from a running register, as the second piece of a stream.
      ASSERT_EQ(update(0x0123456789ABCDEFu, p, n),
                ~reference::bitwise64(~uint64_t{0x0123456789ABCDEFu}, p, n))
          << n << " continued";
    }
    const uint8_t *p = buf.data() + n % 5;
    const uint64_t want = crc64_nvme(p, n);
    uint64_t crc = 0;
    for (size_t done = 0; done < n;) {
      const size_t piece = std::min<size_t>(n - done, rng() % 3 == 0 ? rng() % 20 : rng() % 5000);
      crc = update(crc, p + done, piece);
      done += piece;
    }
    ASSERT_EQ(crc, want) << n << " in pieces";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryTier, Crc64Tier, testing::ValuesIn(tiers::all64()),
                         [](const auto &info) { return info.param.label; });

// CRC of a message whose CRC is crc, then n zero bytes: the register times
// x^(8n), by square-and-multiply, one bit at a time.
uint64_t bit_mul(uint64_t a, uint64_t b) {
  uint64_t r = 0;
  for (int i = 0; i < 64; ++i) {
    if (b & (uint64_t{1} << (63 - i))) r ^= a;
    a = (a >> 1) ^ ((a & 1) ? kPoly : 0);
  }
  return r;
}
uint64_t append_zeros(uint64_t crc, uint64_t n) {
  uint64_t reg = ~crc, base = uint64_t{1} << 55;  // x^8
  for (; n != 0; n >>= 1, base = bit_mul(base, base))
    if (n & 1) reg = bit_mul(reg, base);
  return ~reg;
}

TEST(Crc64Nvme, CombineAnyLength) {
  const std::vector<uint8_t> zeros(70000, 0);
  for (size_t n : {size_t{0}, size_t{1}, size_t{255}, size_t{256}, size_t{70000}})
    ASSERT_EQ(append_zeros(0x123456789ABCDEFu, n), update(0x123456789ABCDEFu, zeros.data(), n))
        << "the oracle itself, " << n;
  std::mt19937_64 rng(3);
  std::vector<uint64_t> lengths = {0, uint64_t{1} << 32, (uint64_t{1} << 32) + 1, ~uint64_t{0}};
  for (int i = 0; i < 30; ++i) lengths.push_back(rng() >> (rng() % 64));
  for (uint64_t n : lengths) {
    const uint64_t a = rng();
    ASSERT_EQ(combine(a, append_zeros(0, n), n), append_zeros(a, n)) << n;
  }
  EXPECT_EQ(combine(0xDEADBEEFu, 0, 0), 0xDEADBEEFu);
}

TEST(Crc64Nvme, BadInputsChangeNothing) {
  const uint8_t byte = 7;
  for (int type : {0, CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL, 99, -1}) {
    uint64_t crc = 42;
    EXPECT_EQ(zelkor_crc64_update(type, &crc, &byte, 1), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(zelkor_crc64_update(type, nullptr, nullptr, 1), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(zelkor_crc64_combine(type, 1, 2, 3, &crc), BULK_CRC_BAD_TYPE) << type;
    EXPECT_EQ(crc, 42u);
  }
  uint64_t crc = 42;
  EXPECT_EQ(zelkor_crc64_update(CRC64_NVME, nullptr, &byte, 1), -EINVAL);
  EXPECT_EQ(zelkor_crc64_update(CRC64_NVME, &crc, nullptr, 1), -EINVAL);
  EXPECT_EQ(zelkor_crc64_combine(CRC64_NVME, 1, 2, 3, nullptr), -EINVAL);
  EXPECT_EQ(crc, 42u);
  EXPECT_EQ(zelkor_crc64_update(CRC64_NVME, &crc, nullptr, 0), 0);
  EXPECT_EQ(crc, 42u);
  // The 32-bit functions and bulk_crc keep refusing the 64-bit type.
  uint32_t crc32 = 0, word = 0;
  EXPECT_EQ(zelkor_crc_update(CRC64_NVME, &crc32, &byte, 1), BULK_CRC_BAD_TYPE);
  EXPECT_EQ(zelkor_crc_combine(CRC64_NVME, 1, 2, 3, &crc32), BULK_CRC_BAD_TYPE);
  EXPECT_EQ(zelkor_crc_compose(CRC64_NVME, &word, 1, 1, &crc32), BULK_CRC_BAD_TYPE);
  EXPECT_EQ(bulk_crc(&byte, 1, &word, CRC64_NVME, 512, nullptr), -EINVAL);
}

}  // namespace
