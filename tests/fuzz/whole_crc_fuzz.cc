// whole_crc_fuzz.cc -- one CRC of the same data four ways, which must all be
// the bitwise reference's: zelkor_crc_update in one call, the same in
// pieces, the pieces' CRCs joined by zelkor_crc_combine, and bulk_crc's
// stored words of the data composed by zelkor_crc_compose (from an aligned
// copy and from an odd address).  For CRC-64/NVME, whose tiers are drawn
// too, the first three ways against its bitwise reference.
//
//   [0]      the kernel tier (of those this processor runs, any type)
//   [1]      the multiplier (of those this processor runs)
//   [2..3]   chunk size for the stored words, 1 to 65536
//   [4]      seed of the piece lengths
//   [5..]    the data
// Words are allocated to their exact length (and ASan watches the bytes
// around them), so a read past the last word is caught; the data likewise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crc_reference.h"
#include "engine_tiers.h"
#include "util/crc/multiply.h"
#include "util/zelkor_crc.h"

namespace {

void check(bool ok, const char *what, uint64_t got, uint64_t want) {
  if (ok) return;
  std::fprintf(stderr, "whole_crc_fuzz.cc: %s: got %#llx, want %#llx\n", what,
               static_cast<unsigned long long>(got), static_cast<unsigned long long>(want));
  std::fflush(stderr);
  std::abort();
}

const std::vector<tiers::tier_case> &tier_cases() {
  static const std::vector<tiers::tier_case> v = [] {
    tiers::restore_on_exit restore;
    std::vector<tiers::tier_case> out;
    for (int type : {CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL, CRC64_NVME})
      for (const tiers::tier_case &t : tiers::runnable(type)) out.push_back(t);
    return out;
  }();
  return v;
}

// The 32-bit functions and the 64-bit ones, by the register's width.
int update_of(int type, uint32_t *crc, const uint8_t *p, size_t n) {
  return zelkor_crc_update(type, crc, p, n);
}
int update_of(int type, uint64_t *crc, const uint8_t *p, size_t n) {
  return zelkor_crc64_update(type, crc, p, n);
}
int combine_of(int type, uint32_t a, uint32_t b, uint64_t len_b, uint32_t *ab) {
  return zelkor_crc_combine(type, a, b, len_b, ab);
}
int combine_of(int type, uint64_t a, uint64_t b, uint64_t len_b, uint64_t *ab) {
  return zelkor_crc64_combine(type, a, b, len_b, ab);
}

// The ways that every type has: one call, pieces, pieces combined.
template <class Crc>
void check_update(int type, const std::vector<uint8_t> &data, uint32_t seed, Crc want) {
  const size_t n = data.size();
  Crc one = 0;
  check(update_of(type, &one, data.data(), n) == 0, "update", 0, 0);
  check(one == want, "one-shot update", one, want);
  Crc streamed = 0, joined = 0;
  for (size_t at = 0; at < n;) {
    seed = seed * 1103515245u + 12345u;
    const size_t piece = std::min<size_t>(n - at, (seed >> 16) % (seed & 1 ? 9 : 700));
    Crc own = 0;
    update_of(type, &streamed, data.data() + at, piece);
    update_of(type, &own, data.data() + at, piece);
    combine_of(type, joined, own, piece, &joined);
    at += piece;
  }
  check(streamed == want, "update in pieces", streamed, want);
  check(joined == want, "pieces combined", joined, want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
  if (size < 5) return 0;
  const tiers::tier_case &tier = tier_cases()[in[0] % tier_cases().size()];
  const auto rows = zelkor::multiplier_rows();
  const zelkor::multiplier_row &mult = rows[in[1] % rows.size()];
  const int chunk = 1 + ((in[2] << 8 | in[3]) % 65536);
  uint32_t seed = in[4];
  const std::vector<uint8_t> data(in + 5, in + size);
  const size_t n = data.size();
  const int type = tier.type;

  tiers::restore_on_exit restore;
  const zelkor::multiplier_row &saved = zelkor::multiplier_in_force();
  if (!tiers::force(tier) || !zelkor::force_multiplier(mult)) {
    zelkor::force_multiplier(saved);
    return 0;
  }
  if (type == CRC64_NVME) {
    check_update(type, data, seed, reference::crc64_nvme(data.data(), n));
    zelkor::force_multiplier(saved);
    return 0;
  }
  const uint32_t want = reference::crc(type, data.data(), n);
  check_update(type, data, seed, want);

  const size_t n_words = (n + chunk - 1) / static_cast<size_t>(chunk);
  std::vector<uint32_t> words(n_words);
  if (n > 0) bulk_crc(data.data(), n, words.data(), type, chunk, nullptr);
  std::vector<uint8_t> odd(4 * n_words + 1);
  if (n_words > 0) std::memcpy(odd.data() + 1, words.data(), 4 * n_words);
  for (const uint32_t *w : {static_cast<const uint32_t *>(words.data()),
                            reinterpret_cast<const uint32_t *>(odd.data() + 1)}) {
    uint32_t composed = 1;
    check(zelkor_crc_compose(type, n > 0 ? w : nullptr, n, chunk, &composed) == 0, "compose", 0,
          0);
    check(composed == want, "composed", composed, want);
  }
  zelkor::force_multiplier(saved);
  return 0;
}
