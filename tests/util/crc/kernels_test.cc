// kernels_test.cc -- every per-chunk kernel of both polynomials against the
// oracles: the bitwise CRC, zlib's crc32() for CRC-32 and the published
// check values.  Each kernel computes stored words (htonl(~crc)) of whole
// chunks, or of one chunk of any length; the words must not depend on
// length, chunk count, chunk size or alignment.  A kernel that this
// processor cannot run is skipped with what it lacks (under emulators and
// valgrind, most of the wide ones).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "crc_reference.h"
#include "util/bulk_crc32.h"
#include "util/crc/kernel.h"
#include "util/crc/tiers.h"

namespace {

struct kernel_case {
  std::string name;  // the kernel's entry points are <name>_chunks and <name>_one
  int type;          // CRC32C_POLYNOMIAL or CRC32_ZLIB_POLYNOMIAL
  const zelkor::tier_row *row;
  bool model;
  zelkor::crc_entries entries;
  const char *where_skipped = nullptr;  // what covers the kernel where it cannot run
};

// Every kernel of the tier table, each model after its native kernel.
std::vector<kernel_case> all_kernels() {
  std::vector<kernel_case> out;
  for (const zelkor::tier_row &r : zelkor::tier_rows()) {
    if (r.native.chunks == nullptr) continue;
    const bool c = r.poly == zelkor::crc_poly::crc32c;
    const std::string name = std::string(c ? "crc32c_" : "crc32_zlib_") + r.name;
    const int type = c ? CRC32C_POLYNOMIAL : CRC32_ZLIB_POLYNOMIAL;
    const bool modelled = r.model.chunks != nullptr;
    out.push_back({name, type, &r, false, r.native,
                   modelled ? "its model row runs the same algorithm here" : nullptr});
    if (modelled) out.push_back({name + "_model", type, &r, true, r.model});
  }
  return out;
}

bool runs_here(const kernel_case &k) {
  const zelkor::cpu_features f = zelkor::read_cpu_features();
  return k.model ? zelkor::model_runs_here(*k.row, f) : zelkor::runs_here(*k.row, f);
}

void PrintTo(const kernel_case &k, std::ostream *os) { *os << k.name; }

class Kernel : public testing::TestWithParam<kernel_case> {
 protected:
  void SetUp() override {
    if (!runs_here(GetParam()))
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

  // The lone-chunk kernel's stored word, from the register's start.
  uint32_t one_word(const uint8_t *p, size_t n) const {
    return zelkor::stored_word(GetParam().entries.one(zelkor::kRegisterInit, p, n));
  }

  // The chunk kernel's words; a guard word behind them must survive.
  std::vector<uint32_t> chunks(const uint8_t *p, size_t chunk, size_t n_chunks) const {
    constexpr uint32_t kGuard = 0x5A5A5A5A;
    std::vector<uint32_t> w(n_chunks + 1, kGuard);
    GetParam().entries.chunks(p, chunk, n_chunks, w.data());
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
  const uint32_t one = one_word(digits, sizeof digits);
  EXPECT_EQ(std::memcmp(&one, expected, 4), 0);
  const uint32_t word = chunks(digits, sizeof digits, 1)[0];
  EXPECT_EQ(std::memcmp(&word, expected, 4), 0);
}

// A lone chunk at every length through the short, lockstep and long paths,
// then around the rounds of the stream kernels (3 to 16 streams of up to
// 4 KiB, the rounds of shorter streams after them) and from the length where
// a chunk is read as one stream, there from a running register too.
TEST_P(Kernel, OneChunkOfEveryLength) {
  constexpr size_t kLong = (size_t{2} << 20) + 300;
  const auto data = reference::random_bytes(kLong + 3, 11);
  const uint8_t *p = data.data() + 3;  // off any natural alignment
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 1100; n += sweep::step(1100)) lengths.push_back(n);
  for (size_t n : {1023, 1024, 1025, 3 * 4096 - 1, 3 * 4096, 3 * 4096 + 1, 3 * 4096 + 8 * 3 + 5,
                   6 * 4096 + 13, 12 * 4096 - 8, 12 * 4096, 12 * 4096 + 95, 12 * 4096 + 96,
                   16 * 64 - 1, 16 * 64, 16 * 1024 + 64 * 15 + 7, 16 * 4096 - 1, 16 * 4096,
                   24 * 4096 + 97, 64 << 10, 1 << 20, (1 << 20) + 13})
    lengths.push_back(n);
  for (size_t n : lengths) ASSERT_EQ(one_word(p, n), want(p, n)) << "length " << n;
  const uint32_t poly = reference::poly_of(type());
  for (size_t n : {kLong - 301, kLong - 300, kLong - 237, kLong})
    ASSERT_EQ(one_word(p, n), want(p, n)) << "length " << n;
  const uint32_t reg = 0x9E3779B9u;
  ASSERT_EQ(GetParam().entries.one(reg, p, kLong), reference::bitwise(poly, reg, p, kLong))
      << "from a running register";
}

// The lone-chunk entry continues any register: from random registers
// against the bitwise oracle, and over a buffer cut at every kind of point
// (a CRC over data that arrives in pieces equals the CRC of the whole).
TEST_P(Kernel, ContinuesARunningRegister) {
  const auto data = reference::random_bytes(3 * 4096 * 12 + 200, 17);
  const uint8_t *p = data.data() + 1;
  const size_t n = data.size() - 1;
  const uint32_t poly = reference::poly_of(type());
  const auto one = GetParam().entries.one;
  uint32_t reg = 0x12345678;
  for (size_t len : {0, 1, 3, 4, 15, 16, 17, 63, 64, 65, 127, 128, 200, 1024, 4100, 40000}) {
    reg = reg * 2654435761u + 1;
    ASSERT_EQ(one(reg, p, len), reference::bitwise(poly, reg, p, len)) << "length " << len;
  }
  const uint32_t whole = one(zelkor::kRegisterInit, p, n);
  ASSERT_EQ(zelkor::stored_word(whole), want(p, n));
  for (size_t cut : {size_t{0}, size_t{1}, size_t{7}, size_t{64}, size_t{1000}, size_t{4096 * 3},
                     n - 65, n - 1, n}) {
    const uint32_t head = one(zelkor::kRegisterInit, p, cut);
    ASSERT_EQ(one(head, p + cut, n - cut), whole) << "cut at " << cut;
  }
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
      ASSERT_EQ(one_word(base + align, cs + 5), one) << "alignment " << align;
    }
  }
}

// A kernel may read around a chunk only within the data it was handed: the
// data begin right after a page that faults when read and end right before
// another, so that a read outside them stops the test.  (Chunks at the
// start of a call, and lone chunks, are where a first window must not look
// before its bytes.)
TEST_P(Kernel, ReadsNothingOutsideTheData) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  constexpr size_t kSpan = 3 * 4096;  // readable bytes between the guards
  const size_t total = kSpan + 2 * page;
  void *region = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(region, MAP_FAILED);
  uint8_t *const data = static_cast<uint8_t *>(region) + page;
  ASSERT_EQ(mprotect(data, kSpan, PROT_READ | PROT_WRITE), 0);
  const auto bytes = reference::random_bytes(kSpan, 19);
  std::memcpy(data, bytes.data(), kSpan);
  const uint8_t *const first = data, *const end = data + kSpan;
  std::vector<size_t> sizes;
  for (size_t cs = 1; cs <= 70; cs += sweep::step(70)) sizes.push_back(cs);
  for (size_t cs : {100, 127, 129, 255, 1000, 1023, 1025, 4095}) sizes.push_back(cs);
  for (size_t cs : sizes) {
    for (size_t n : {1, 2, 3, 5}) {
      if (n * cs > kSpan) continue;
      for (const uint8_t *p : {first, end - n * cs})
        ASSERT_EQ(chunks(p, cs, n), want_words(p, cs, n)) << "chunk size " << cs << ", count " << n;
    }
    ASSERT_EQ(one_word(first, cs), want(first, cs)) << "length " << cs;
    ASSERT_EQ(one_word(end - cs, cs), want(end - cs, cs)) << "length " << cs;
  }
  munmap(region, total);
}

INSTANTIATE_TEST_SUITE_P(Crc, Kernel, testing::ValuesIn(all_kernels()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
