// bulk_crc_fuzz.cc -- the bulk driver in both modes against the bitwise
// reference, under a fuzz-chosen kernel tier of either type.
//
// The input's first bytes choose the case; the rest is the data (repeated a
// chosen number of times, to reach the kernels' long paths):
//   [0]      what runs: a tier of either type, the CRC32C table routine
//            installed in the slot by a caller, or the rejection of an
//            unknown type
//   [1..2]   chunk size: small, near a size the kernels have loops for,
//            up to 16 KiB, or past the data (up to INT_MAX), or below 1
//   [3]      alignment: how far the data starts past a 64-byte boundary
//   [4..7]   which data byte to damage, [8] how
//   [9]      how many times the data is repeated
//   [10..13] which stored word to damage, [14..17] how
// Every run computes, checks each word against the oracle, verifies
// clean, then verifies with a damaged data byte, with a damaged stored word,
// and with both, checking each report: the chunk, both words and the
// pointer.  The oracle over the data is a byte-at-a-time table built here
// from the polynomial: the bitwise reference takes eight dependent steps a
// byte, and over long data it made every input slow.  The table is checked
// against the bitwise reference over every length up to a few thousand
// bytes before the first input, and over the first bytes of each input.
// Data and sums are allocated to their exact length (the bytes before an
// unaligned start are poisoned under AddressSanitizer), so a read or write
// past either is caught.  Checks abort: they must hold in
// optimised builds.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crc_reference.h"
#include "engine_tiers.h"
#include "util/bulk_crc32.h"
#include "util/bulk_crc32_internal.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELKOR_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZELKOR_FUZZ_ASAN 1
#endif
#ifdef ZELKOR_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

[[noreturn]] void fail(int line, const char *what, unsigned long long got,
                       unsigned long long want) {
  std::fprintf(stderr, "bulk_crc_fuzz.cc:%d: %s: got %#llx, want %#llx\n", line, what, got, want);
  std::fflush(stderr);
  std::abort();
}
#define CHECK_EQ(got, want, what)                                                  \
  do {                                                                             \
    const auto g_ = (got);                                                         \
    const auto w_ = (want);                                                        \
    if (!(g_ == w_))                                                               \
      fail(__LINE__, what, (unsigned long long)(g_), (unsigned long long)(w_));   \
  } while (0)

// Stored words by a byte-at-a-time table of each polynomial, built from the
// bitwise reference's own single-byte steps.
struct table_oracle {
  uint32_t t[2][256];
  table_oracle() {
    for (int k = 0; k < 2; ++k)
      for (uint32_t b = 0; b < 256; ++b) {
        const uint8_t zero = 0;
        const uint32_t poly = k == 0 ? reference::kCrc32cPoly : reference::kCrc32Poly;
        t[k][b] = reference::bitwise(poly, b, &zero, 1);
      }
  }
  uint32_t word(int type, const uint8_t *p, size_t n) const {
    const uint32_t *tab = t[type == CRC32C_POLYNOMIAL ? 0 : 1];
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) reg = (reg >> 8) ^ tab[(reg ^ p[i]) & 0xFF];
    return htonl(~reg);
  }
  std::vector<uint32_t> words(int type, const uint8_t *p, size_t n, size_t chunk) const {
    std::vector<uint32_t> w;
    for (size_t off = 0; off < n; off += chunk)
      w.push_back(word(type, p + off, std::min(chunk, n - off)));
    return w;
  }
};

// The table against the bitwise reference, before it serves as the oracle.
const table_oracle &oracle() {
  static const table_oracle o = [] {
    table_oracle t;
    const auto data = reference::random_bytes(4200, 5);
    for (int type : {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL})
      for (size_t n = 0; n <= data.size(); n += n < 300 ? 1 : 97)
        if (t.word(type, data.data(), n) != reference::stored_word(type, data.data(), n)) {
          std::fprintf(stderr, "bulk_crc_fuzz.cc: table oracle differs at length %zu\n", n);
          std::abort();
        }
    return t;
  }();
  return o;
}

// Choices read off the front of the input; past its end they are 0.
struct reader {
  const uint8_t *p;
  size_t n;
  uint32_t take(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      v = v << 8 | (n ? *p : 0);
      if (n) ++p, --n;
    }
    return v;
  }
};

// What [0] selects among: the tiers this processor runs, then the table
// routine in the CRC32C slot, then an unknown type.
struct fuzz_case {
  tiers::tier_case tier;
  bool tables_in_slot;
  bool unknown_type;
};

const std::vector<fuzz_case> &cases() {
  static const std::vector<fuzz_case> all = [] {
    std::vector<fuzz_case> v;
    tiers::restore_on_exit restore;
    for (int type : {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL})
      for (const tiers::tier_case &t : tiers::runnable(type)) v.push_back({t, false, false});
    v.push_back({tiers::all().front(), true, false});
    v.push_back({tiers::all().front(), false, true});
    return v;
  }();
  return all;
}

// Chunk size from 16 bits: the top two choose the range.
int chunk_size(uint32_t c, size_t len) {
  const uint32_t low = c & 0x3FFF;
  switch (c >> 14) {
    case 0: return 1 + static_cast<int>(low % 80);
    case 1: {  // half of them exact
      static constexpr int kLoops[] = {64, 128, 256, 512, 1024, 2048, 4096};
      static constexpr int kDelta[] = {0, 0, 0, 0, -2, -1, 1, 2};
      return kLoops[low % 7] + kDelta[(low >> 3) & 7];
    }
    case 2: return 1 + static_cast<int>(low);
    default:
      switch (low % 6) {
        case 0: return INT_MAX;
        case 1: return static_cast<int>(len + 1 + (low >> 3) % 100);
        case 2: return len > 0 ? static_cast<int>(len) : 1;
        case 3: return 0;
        case 4: return -1 - static_cast<int>(low >> 3);
        default: return INT_MIN;
      }
  }
}

// A buffer of exactly `len` bytes starting `offset` bytes past a 64-byte
// boundary, nothing readable after it and (under ASan) nothing before it.
struct exact_buffer {
  uint8_t *block = nullptr;
  uint8_t *data = nullptr;
  size_t offset;
  exact_buffer(size_t len, size_t off) : offset(off) {
    void *p = nullptr;
    if (posix_memalign(&p, 64, len + off ? len + off : 1) != 0) std::abort();
    block = static_cast<uint8_t *>(p);
    data = block + off;
#ifdef ZELKOR_FUZZ_ASAN
    ASAN_POISON_MEMORY_REGION(block, off);
#endif
  }
  ~exact_buffer() {
#ifdef ZELKOR_FUZZ_ASAN
    ASAN_UNPOISON_MEMORY_REGION(block, offset);
#endif
    std::free(block);
  }
  exact_buffer(const exact_buffer &) = delete;
  exact_buffer &operator=(const exact_buffer &) = delete;
};

// Verifies and checks the report against the reference: the first chunk
// among `suspects` (sorted) whose data no longer gives its stored word.
void verify_and_check(const uint8_t *data, size_t len, const uint32_t *sums, int type,
                      int bpc, const std::vector<size_t> &suspects) {
  const size_t chunk = static_cast<size_t>(bpc);
  crc32_error_t err{0x11111111u, 0x22222222u, nullptr};
  const int rc = bulk_crc(data, len, const_cast<uint32_t *>(sums), type, bpc, &err);
  for (size_t i : suspects) {
    const uint32_t got = oracle().word(type, data + i * chunk, std::min(chunk, len - i * chunk));
    if (got == sums[i]) continue;
    CHECK_EQ(rc, BULK_CRC_MISMATCH, "verify result");
    CHECK_EQ(err.bad_data - data, static_cast<ptrdiff_t>(i * chunk), "reported chunk offset");
    CHECK_EQ(err.got_crc, got, "reported computed word");
    CHECK_EQ(err.expected_crc, sums[i], "reported stored word");
    return;
  }
  CHECK_EQ(rc, BULK_CRC_OK, "verify result");
  CHECK_EQ(err.got_crc, 0x11111111u, "record written on success");
  CHECK_EQ(err.expected_crc, 0x22222222u, "record written on success");
  CHECK_EQ(err.bad_data, nullptr, "record written on success");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size) {
  constexpr size_t kMaxLen = 128 * 1024;
  reader in{input, size};
  const fuzz_case &fc = cases()[in.take(1) % cases().size()];
  const uint32_t chunk_choice = in.take(2);
  const size_t offset = in.take(1) % 64;
  const uint32_t damage_at = in.take(4);
  const uint32_t mask_choice = in.take(1);
  const uint8_t damage_mask = mask_choice ? static_cast<uint8_t>(mask_choice) : 0x80;  // never 0
  const uint32_t repeat_choice = in.take(1);
  const uint32_t word_at = in.take(4);
  const uint32_t word_mask = in.take(4) | 1;  // never 0: a damaged word always differs
  const size_t repeat = (repeat_choice & 0xF) == 0xF ? 1 + (repeat_choice >> 4) * 4 : 1;
  const size_t len = std::min(in.n * repeat, kMaxLen);

  exact_buffer buf(len, offset);
  for (size_t i = 0; i < len; ++i) buf.data[i] = in.p[i % in.n];
  const uint8_t *data = len ? buf.data : nullptr;
  // An unknown type: 0, negative, or from 3 up.
  const int half = static_cast<int>(chunk_choice >> 1);
  const int type = !fc.unknown_type ? fc.tier.type : (chunk_choice & 1) ? -half : 3 + half;
  const int bpc = chunk_size(chunk_choice, len);

  tiers::restore_on_exit restore;
  const crc_pipelined_func_t tables = zelkor::engine_table_routines().pipelined_crc32c_sb8;
  tiers::slot_override slot(pipelined_crc32c_func,
                            fc.tables_in_slot ? tables : pipelined_crc32c_func);
  // The list holds only tiers that run here.
  if (!fc.tables_in_slot && !tiers::force(fc.tier)) std::abort();

  if (fc.unknown_type || bpc < 1) {
    // Rejected: both codes, nothing written, nothing filled.  Each word of
    // a stand-in sums array must survive.
    uint32_t sums[4] = {1, 2, 3, 4};
    crc32_error_t err{5, 6, nullptr};
    const int verify_rc = fc.unknown_type ? BULK_CRC_BAD_TYPE : -22;
    CHECK_EQ(bulk_crc(data, len, sums, type, bpc, &err), verify_rc, "rejected verify");
    CHECK_EQ(bulk_crc(data, len, sums, type, bpc, nullptr), -22, "rejected compute");
    for (uint32_t i = 0; i < 4; ++i) CHECK_EQ(sums[i], i + 1, "sums written by a rejected call");
    CHECK_EQ(err.got_crc + err.expected_crc, 11u, "record written by a rejected call");
    CHECK_EQ(err.bad_data, nullptr, "record written by a rejected call");
    return 0;
  }

  const size_t chunk = static_cast<size_t>(bpc);
  const size_t n = len == 0 ? 0 : (len - 1) / chunk + 1;
  const auto want = oracle().words(type, data, len, chunk);
  CHECK_EQ(want.size(), n, "oracle word count");
  const size_t head = std::min<size_t>(len, 512);
  CHECK_EQ(oracle().word(type, data, head), reference::stored_word(type, data, head),
           "table oracle against bitwise");
  // Exactly n words; none at all for empty data.
  uint32_t *sums = n ? static_cast<uint32_t *>(std::malloc(n * sizeof(uint32_t))) : nullptr;
  CHECK_EQ(bulk_crc(data, len, sums, type, bpc, nullptr), BULK_CRC_OK, "compute");
  for (size_t i = 0; i < n; ++i) CHECK_EQ(sums[i], want[i], "computed word");
  verify_and_check(data, len, sums, type, bpc, {});

  if (n > 0) {
    const size_t at = damage_at % len, di = at / chunk;
    const size_t wi = word_at % n;
    buf.data[at] ^= damage_mask;
    verify_and_check(data, len, sums, type, bpc, {di});
    sums[wi] ^= word_mask;
    const std::vector<size_t> both = di <= wi ? std::vector<size_t>{di, wi} : std::vector<size_t>{wi, di};
    verify_and_check(data, len, sums, type, bpc, both);
    buf.data[at] ^= damage_mask;
    verify_and_check(data, len, sums, type, bpc, {wi});
    sums[wi] ^= word_mask;
    verify_and_check(data, len, sums, type, bpc, {});
  }
  std::free(sums);
  return 0;
}
