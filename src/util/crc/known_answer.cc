// known_answer.cc -- the fixed input, the answers the compiler computes for
// it bit by bit, and the checks of known_answer.h.
#include "known_answer.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "../bulk_crc32_internal.h"
#include "gf2.h"
#include "kernel.h"

namespace zelkor {

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "stored words are swapped to compare");

// 136 chunks of 64 bytes (enough words for the multipliers' blocks), 17 of
// 512 (a group of every kernel and one more), one lone chunk (long enough
// for the lone-chunk rounds of every kernel), split once for the running
// register; and a short partial chunk.
constexpr size_t kInput = 17 * 512;
constexpr size_t kSmall = 64, kSmallChunks = kInput / kSmall;
constexpr size_t kLarge = 512, kLargeChunks = kInput / kLarge;
constexpr size_t kPartial = 300, kSplit = 1000;

constexpr std::array<uint8_t, kInput> make_input() {
  std::array<uint8_t, kInput> a{};
  uint64_t s = 0x5EEDu;
  for (uint8_t &b : a) {
    s = s * 6364136223846793005u + 1442695040888963407u;
    b = static_cast<uint8_t>(s >> 56);
  }
  return a;
}
constexpr std::array<uint8_t, kInput> kData = make_input();

constexpr uint8_t kDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
constexpr const uint8_t *kDigitsFor64 = kDigits;

struct answers {
  std::array<uint32_t, kSmallChunks> small;  // stored words
  std::array<uint32_t, kLargeChunks> large;
  uint32_t whole, partial;          // registers over all the input, over kPartial bytes
  uint32_t head_crc, tail_crc;      // CRCs of the input before and after kSplit
};

// The register after data[0, n) from all ones, by a byte table that the
// compiler builds bit by bit from the polynomial.
struct bitwise_table {
  std::array<uint32_t, 256> t{};
  constexpr explicit bitwise_table(uint32_t p) {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t r = b;
      for (int k = 0; k < 8; ++k) r = (r >> 1) ^ ((r & 1) ? p : 0);
      t[b] = r;
    }
  }
  constexpr uint32_t reg(const uint8_t *data, size_t n) const {
    uint32_t r = kRegisterInit;
    for (size_t i = 0; i < n; ++i) r = (r >> 8) ^ t[(r ^ data[i]) & 0xFF];
    return r;
  }
};

constexpr answers answers_for(uint32_t p) {
  const bitwise_table t(p);
  const uint8_t *d = kData.data();
  answers a{};
  for (size_t i = 0; i < kSmallChunks; ++i)
    a.small[i] = __builtin_bswap32(~t.reg(d + i * kSmall, kSmall));
  for (size_t i = 0; i < kLargeChunks; ++i)
    a.large[i] = __builtin_bswap32(~t.reg(d + i * kLarge, kLarge));
  a.whole = t.reg(d, kInput);
  a.partial = t.reg(d, kPartial);
  a.head_crc = ~t.reg(d, kSplit);
  a.tail_crc = ~t.reg(d + kSplit, kInput - kSplit);
  return a;
}

constexpr answers kAnswers[kPolys32] = {answers_for(gf2::kCrc32c),
                                        answers_for(gf2::kCrc32Zlib)};

// CRC-64/NVME's registers, bit by bit: over all the input, over kPartial
// bytes from an odd address, over a few bytes, and over the input after
// kSplit continued from the register before it.
constexpr uint64_t reg64(uint64_t r, const uint8_t *data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    r ^= data[i];
    for (int k = 0; k < 8; ++k) r = gf2::times_x(gf2::kCrc64Nvme, r);
  }
  return r;
}
constexpr size_t kFew = 7;
struct answers64 {
  uint64_t whole, partial, few;
};
constexpr answers64 kAnswers64 = {reg64(~uint64_t{0}, kData.data(), kInput),
                                  reg64(~uint64_t{0}, kData.data() + 1, kPartial),
                                  reg64(~uint64_t{0}, kData.data(), kFew)};
static_assert(~reg64(~uint64_t{0}, kDigitsFor64, 9) == 0xAE8B14860A799888u,
              "the published check value");

static_assert(~bitwise_table(gf2::kCrc32c).reg(kDigits, 9) == 0xE3069283u &&
                  ~bitwise_table(gf2::kCrc32Zlib).reg(kDigits, 9) == 0xCBF43926u,
              "the answers' table gives the published check values");

constinit const void *g_disagreeing = nullptr;

bool same(const uint32_t *got, const uint32_t *want, size_t n) {
  uint32_t diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= got[i] ^ want[i];
  return diff == 0;
}

}  // namespace

bool known_answers_hold(const tier_row &row, bool model) {
  const crc_entries &e = model ? row.model : row.native;
  if (e.one64 != nullptr) {
    const uint8_t *d = kData.data();
    uint64_t whole = e.one64(~uint64_t{0}, d, kInput);
    if (g_disagreeing == &row) whole ^= 1;
    return whole == kAnswers64.whole &&
           e.one64(~uint64_t{0}, d + 1, kPartial) == kAnswers64.partial &&
           e.one64(~uint64_t{0}, d, kFew) == kAnswers64.few &&
           e.one64(e.one64(~uint64_t{0}, d, kSplit), d + kSplit, kInput - kSplit) ==
               kAnswers64.whole;
  }
  if (e.chunks == nullptr) return true;
  const answers &a = kAnswers[static_cast<size_t>(row.poly)];
  const uint8_t *d = kData.data();
  uint32_t words[kSmallChunks];
  e.chunks(d, kSmall, kSmallChunks, words);
  if (g_disagreeing == &row) words[kSmallChunks / 2] ^= 1;
  if (!same(words, a.small.data(), kSmallChunks)) return false;
  const size_t n = row.group + 1 < kLargeChunks ? row.group + 1 : kLargeChunks;
  e.chunks(d, kLarge, n, words);
  if (!same(words, a.large.data(), n)) return false;
  return e.one(kRegisterInit, d, kInput) == a.whole &&
         e.one(kRegisterInit, d, kPartial) == a.partial &&
         e.one(e.one(kRegisterInit, d, kSplit), d + kSplit, kInput - kSplit) == a.whole;
}

bool known_answers_hold(const multiplier_row &row) {
  for (size_t p = 0; p < kPolys32; ++p) {
    const answers &a = kAnswers[p];
    const gf2_modulus &m = modulus_of(static_cast<crc_poly>(p));
    // The stored words of the 64-byte chunks composed, as compose does.
    const auto *w = reinterpret_cast<const uint8_t *>(a.small.data());
    uint32_t head = row.horner(m, 0, w, kSmallChunks - 1, kSmall);
    if (g_disagreeing == &row) head ^= 1;
    const uint32_t composed = row.shift(m, head, kSmall) ^ __builtin_bswap32(a.small.back());
    const uint32_t joined = row.shift(m, a.head_crc, kInput - kSplit) ^ a.tail_crc;
    if (composed != ~a.whole || joined != ~a.whole) return false;
  }
  return true;
}

const tier_row &agreeing_tier(const tier_row &chosen, const cpu_features &f) {
  if (known_answers_hold(chosen, false)) return chosen;
  const std::span<const tier_row> rows = tier_rows();
  const tier_row *floor = &chosen;  // the polynomial's first row: its slot routine or tables
  for (size_t i = static_cast<size_t>(&chosen - rows.data()); i-- > 0;) {
    const tier_row &r = rows[i];
    if (r.poly != chosen.poly) continue;
    floor = &r;
    if (has_kernel(r) && runs_here(r, f) && known_answers_hold(r, false)) return r;
  }
  return *floor;
}

const multiplier_row &agreeing_multiplier(const multiplier_row &chosen, const cpu_features &f) {
  const std::span<const multiplier_row> rows = multiplier_rows();
  for (size_t i = static_cast<size_t>(&chosen - rows.data()) + 1; i-- > 1;) {
    const multiplier_row &r = rows[i];
    if (!r.model && r.needs(f) && known_answers_hold(r)) return r;
  }
  return rows[0];  // portable code, the last resort
}

void disagree_for_test(const void *row) { g_disagreeing = row; }

}  // namespace zelkor
