// The byte-stream and pipelined routines of the engine, table and hardware.
#include <gtest/gtest.h>
#if defined(__aarch64__)
#include <sys/auxv.h>
#endif

#include <string>

#include "bulk_crc32_internal.h"
#include "crc_reference.h"

namespace {

const zelkor::table_routines &R = zelkor::engine_table_routines();

const uint8_t *bytes(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

// Whether the hardware routine's instruction is there: SSE4.2's CRC32, or
// the CRC extension of ARMv8 as the kernel reports it.
bool cpu_has_crc32c_instruction() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("sse4.2");
#elif defined(__aarch64__)
  return getauxval(AT_HWCAP) & (1ul << 7);  // HWCAP_CRC32
#else
  return false;
#endif
}

// Published check values (the CRC catalogue's "123456789") and the iSCSI
// examples of RFC 3720 B.4, whose CRCs the RFC prints least significant byte first.
struct Vector {
  const char *what;
  std::vector<uint8_t> data;
  uint32_t crc32c;
};

std::vector<Vector> crc32c_vectors() {
  std::vector<uint8_t> inc(32), dec(32);
  for (int i = 0; i < 32; ++i) inc[i] = static_cast<uint8_t>(i), dec[i] = static_cast<uint8_t>(31 - i);
  const std::vector<uint8_t> pdu = {0x01, 0xc0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0x14, 0, 0, 0, 0, 0, 0x04, 0, 0, 0, 0, 0x14, 0, 0, 0, 0x18,
                                    0x28, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0};
  return {
      {"123456789", std::vector<uint8_t>(bytes("123456789"), bytes("123456789") + 9), 0xE3069283},
      {"32 zero bytes", std::vector<uint8_t>(32, 0x00), 0x8A9136AA},
      {"32 0xFF bytes", std::vector<uint8_t>(32, 0xFF), 0x62A8AB43},
      {"bytes 0..31", inc, 0x46DD794E},
      {"bytes 31..0", dec, 0x113FDB5C},
      {"iSCSI read PDU", pdu, 0xD9963A56},
  };
}

TEST(ByteStream, PublishedCheckValues) {
  for (const Vector &v : crc32c_vectors()) {
    EXPECT_EQ(~R.crc32c_sb8(0xFFFFFFFF, v.data.data(), v.data.size()), v.crc32c) << v.what;
    EXPECT_EQ(reference::crc(1, v.data.data(), v.data.size()), v.crc32c) << "oracle: " << v.what;
  }
  EXPECT_EQ(~R.crc32_zlib_sb8(0xFFFFFFFF, bytes("123456789"), 9), 0xCBF43926u);
}

// Fed whole, split at any two points, or placed at any address, the digits
// give the same check value: the word loads never depend on alignment.
TEST(ByteStream, SplitsAndAlignmentsDoNotChangeTheResult) {
  const std::string digits = "123456789";
  for (size_t i = 0; i <= 9; ++i)
    for (size_t j = i; j <= 9; ++j) {
      uint32_t c = 0xFFFFFFFF, z = 0xFFFFFFFF;
      c = R.crc32c_sb8(c, bytes(digits.data()), i);
      c = R.crc32c_sb8(c, bytes(digits.data()) + i, j - i);
      c = R.crc32c_sb8(c, bytes(digits.data()) + j, 9 - j);
      z = R.crc32_zlib_sb8(z, bytes(digits.data()), i);
      z = R.crc32_zlib_sb8(z, bytes(digits.data()) + i, j - i);
      z = R.crc32_zlib_sb8(z, bytes(digits.data()) + j, 9 - j);
      ASSERT_EQ(~c, 0xE3069283u) << i << "," << j;
      ASSERT_EQ(~z, 0xCBF43926u) << i << "," << j;
    }
  std::vector<uint8_t> buf(64 + 16);
  for (size_t off = 0; off < 16; ++off) {
    std::memcpy(buf.data() + off, digits.data(), 9);
    EXPECT_EQ(~R.crc32c_sb8(0xFFFFFFFF, buf.data() + off, 9), 0xE3069283u) << off;
    EXPECT_EQ(~R.crc32_zlib_sb8(0xFFFFFFFF, buf.data() + off, 9), 0xCBF43926u) << off;
  }
}

// Every length 0..300 (tails of 0..7 bytes, groups of 8) from random start
// registers, against the bitwise oracle.
TEST(ByteStream, EveryShortLengthFromAnyRegister) {
  const auto data = reference::random_bytes(301, 7);
  std::mt19937 rng(11);
  for (size_t n = 0; n <= 300; ++n) {
    const uint32_t start = rng();
    ASSERT_EQ(R.crc32c_sb8(start, data.data(), n),
              reference::bitwise(reference::kCrc32cPoly, start, data.data(), n)) << n;
    ASSERT_EQ(R.crc32_zlib_sb8(start, data.data(), n),
              reference::bitwise(reference::kCrc32Poly, start, data.data(), n)) << n;
  }
}

// One suite for every routine of the pipelined shape.
struct Routine {
  const char *name;
  crc_pipelined_func_t func;
  uint32_t poly;
  bool writes_all_registers;  // the hardware routine writes back all three
};

std::vector<Routine> pipelined_routines() {
  std::vector<Routine> r = {
      {"pipelined_crc32c_sb8", R.pipelined_crc32c_sb8, reference::kCrc32cPoly, false},
      {"pipelined_crc32_zlib_sb8", R.pipelined_crc32_zlib_sb8, reference::kCrc32Poly, false},
  };
  if (zelkor::engine_hardware_routine() != nullptr)
    r.push_back({"pipelined_crc32c", zelkor::engine_hardware_routine(), reference::kCrc32cPoly,
                 true});
  return r;
}

class Pipelined : public ::testing::TestWithParam<Routine> {
 protected:
  void SetUp() override {
    if (std::string(GetParam().name) == "pipelined_crc32c" && !cpu_has_crc32c_instruction())
      GTEST_SKIP() << "this processor has no CRC32C instruction";
  }
};

// Each block's register advances independently over its own block; the
// registers beyond the count keep their values.  Sizes cover byte-only
// blocks (1..7), word-only ones (multiples of 8) and mixed ones, at odd
// addresses, from random start registers.
TEST_P(Pipelined, MatchesTheOracleForEveryCountSizeAndAlignment) {
  const Routine &r = GetParam();
  const auto data = reference::random_bytes(3 * 1100 + 64, 3);
  std::mt19937 rng(5);
  std::vector<size_t> sizes;
  for (size_t s = 0; s <= 70; s += sweep::step(70)) sizes.push_back(s);
  for (size_t s : {127, 128, 129, 511, 512, 513, 1024, 1100}) sizes.push_back(s);
  for (size_t size : sizes)
    for (int count = 1; count <= 3; ++count)
      for (size_t off : {0, 1, 3, 7}) {
        const uint8_t *p = data.data() + off;
        uint32_t in[3] = {static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng())};
        uint32_t c[3] = {in[0], in[1], in[2]};
        r.func(&c[0], &c[1], &c[2], p, size, count);
        for (int k = 0; k < 3; ++k) {
          const uint32_t want =
              k < count ? reference::bitwise(r.poly, in[k], p + k * size, size) : in[k];
          ASSERT_EQ(c[k], want) << r.name << " size " << size << " count " << count << " off "
                                << off << " register " << k + 1;
        }
      }
}

TEST_P(Pipelined, EmptyBlocksLeaveEveryRegisterAsItWas) {
  uint32_t c[3] = {0x12345678, 0x9ABCDEF0, 0x0F1E2D3C};
  GetParam().func(&c[0], &c[1], &c[2], nullptr, 0, 3);
  EXPECT_EQ(c[0], 0x12345678u);
  EXPECT_EQ(c[1], 0x9ABCDEF0u);
  EXPECT_EQ(c[2], 0x0F1E2D3Cu);
}

INSTANTIATE_TEST_SUITE_P(Engine, Pipelined, ::testing::ValuesIn(pipelined_routines()),
                         [](const auto &info) { return std::string(info.param.name); });

// The table routines must not even read registers beyond the count: pointing
// them at one shared word would otherwise show a write.
TEST(PipelinedTable, RegistersBeyondTheCountAreNotTouched) {
  const auto data = reference::random_bytes(64, 9);
  for (auto func : {R.pipelined_crc32c_sb8, R.pipelined_crc32_zlib_sb8}) {
    uint32_t c1 = 1, guard = 0xDEADBEEF;
    func(&c1, &guard, &guard, data.data(), 16, 1);
    EXPECT_EQ(guard, 0xDEADBEEFu);
    uint32_t c2 = 2;
    func(&c1, &c2, &guard, data.data(), 16, 2);
    EXPECT_EQ(guard, 0xDEADBEEFu);
  }
}

}  // namespace
