// bulk_crc32_soak_test.cc -- verify passes over a large buffer with random damage.
//
// Round after round, under each kernel tier of both types in turn (the ones
// in force at load first), the buffer is checksummed and the words checked
// against an independent oracle; then many bytes of the data and many stored
// words are damaged at random and verify is walked across the whole buffer,
// restarting after each report: every report must name exactly the next
// damaged chunk, with both words and the pointer, and no damaged chunk may
// be passed over.
//
// Knobs (environment): ZELKOR_SOAK=long turns the defaults from 20 s over
// 1 GiB (the CI form) to 30 minutes over 4 GiB, past every 32-bit count;
// ZELKOR_SOAK_SECONDS sets the time after which no new round starts (one
// round of each type always runs), ZELKOR_SOAK_BYTES the buffer size, with
// an optional K, M or G; ZELKOR_SOAK_SEED replays a run (each prints its seed).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine_tiers.h"
#include "util/bulk_crc32.h"
#include "util/bulk_crc32_internal.h"

namespace {

constexpr uint32_t kGuard = 0xA5A5A5A5;

bool long_form() {
  const char *v = std::getenv("ZELKOR_SOAK");
  return v != nullptr && std::strcmp(v, "long") == 0;
}

double knob_seconds() {
  const char *v = std::getenv("ZELKOR_SOAK_SECONDS");
  return v ? std::strtod(v, nullptr) : long_form() ? 1800.0 : 20.0;
}

size_t knob_bytes() {
  const char *v = std::getenv("ZELKOR_SOAK_BYTES");
  if (v == nullptr) return (long_form() ? size_t{4} : size_t{1}) << 30;
  char *end = nullptr;
  size_t n = std::strtoull(v, &end, 10);
  switch (*end) {
    case 'G': case 'g': n <<= 10; [[fallthrough]];
    case 'M': case 'm': n <<= 10; [[fallthrough]];
    case 'K': case 'k': n <<= 10;
  }
  return n;
}

uint64_t knob_seed() {
  const char *v = std::getenv("ZELKOR_SOAK_SEED");
  if (v) return std::strtoull(v, nullptr, 0);
  std::random_device rd;
  return (uint64_t{rd()} << 32) | rd();
}

// The oracle: zlib for CRC-32; for CRC32C the engine's slice-by-8 table
// routine, which shares no code with the kernels or the hardware routine
// and is itself held to the bitwise definition by the table tests.
uint32_t oracle_word(int type, const uint8_t *p, size_t n) {
  if (type == CRC32_ZLIB_POLYNOMIAL) return htonl(static_cast<uint32_t>(crc32_z(0, p, n)));
  return htonl(~zelkor::engine_table_routines().crc32c_sb8(0xFFFFFFFFu, p, n));
}

void fill_random(uint8_t *p, size_t n, uint64_t seed) {
  uint64_t x = seed;
  for (; n >= 8; n -= 8, p += 8) {  // splitmix64: fast enough for gigabytes
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    std::memcpy(p, &z, 8);
  }
  for (; n > 0; --n) *p++ = static_cast<uint8_t>(x >>= 8);
}

struct damage {
  bool in_word;  // a stored word, else a data byte
  size_t at;     // byte offset into the data, or word index
  uint32_t mask;
};

struct round_report {
  size_t damaged = 0, reports = 0;
};

// One round: compute, check, verify clean, damage, walk, undo.
void soak_round(const tiers::tier_case &tier, uint8_t *data, size_t len, size_t chunk,
                std::mt19937_64 &rng, round_report &out) {
  const int type = tier.type, bpc = static_cast<int>(chunk);
  const size_t n = (len + chunk - 1) / chunk;
  auto chunk_len = [&](size_t i) { return std::min(chunk, len - i * chunk); };
  std::vector<uint32_t> sums(n + 2, kGuard);  // a guard on each side
  uint32_t *s = sums.data() + 1;

  ASSERT_EQ(bulk_crc(data, len, s, type, bpc, nullptr), BULK_CRC_OK);
  ASSERT_EQ(sums.front(), kGuard);
  ASSERT_EQ(sums.back(), kGuard);
  for (size_t i = 0; i < n; ++i)
    ASSERT_EQ(s[i], oracle_word(type, data + i * chunk, chunk_len(i))) << "chunk " << i;
  crc32_error_t err{1, 2, nullptr};
  ASSERT_EQ(bulk_crc(data, len, s, type, bpc, &err), BULK_CRC_OK);
  ASSERT_EQ(err.got_crc, 1u);
  ASSERT_EQ(err.bad_data, nullptr);

  // Damage: a thousand places, a third of them stored words; now and then a
  // second byte in a chunk already hit.
  std::vector<damage> done;
  std::vector<size_t> hit;
  for (int k = 0; k < 1000; ++k) {
    const size_t i = (k % 8 == 7 && !hit.empty()) ? hit[rng() % hit.size()] : rng() % n;
    damage d;
    d.in_word = rng() % 3 == 0;
    d.at = d.in_word ? i : i * chunk + rng() % chunk_len(i);
    d.mask = d.in_word ? static_cast<uint32_t>(rng() | 1) : static_cast<uint32_t>(rng() % 255 + 1);
    if (d.in_word)
      s[d.at] ^= d.mask;
    else
      data[d.at] ^= static_cast<uint8_t>(d.mask);
    done.push_back(d);
    hit.push_back(i);
  }
  std::sort(hit.begin(), hit.end());
  hit.erase(std::unique(hit.begin(), hit.end()), hit.end());

  // What verify must report, in chunk order: each damaged chunk whose data
  // no longer gives its stored word.
  struct expected_report {
    size_t chunk;
    uint32_t got, stored;
  };
  std::vector<expected_report> want;
  for (size_t i : hit) {
    const uint32_t got = oracle_word(type, data + i * chunk, chunk_len(i));
    if (got != s[i]) want.push_back({i, got, s[i]});
  }

  // The walk: verify from the chunk after each report to the end.
  size_t from = 0, next = 0;
  for (;;) {
    err = crc32_error_t{1, 2, nullptr};
    const size_t off = std::min(from * chunk, len);  // past the last chunk: nothing left
    const int rc = bulk_crc(data + off, len - off, s + from, type, bpc, &err);
    if (rc == BULK_CRC_OK) break;
    ASSERT_EQ(rc, BULK_CRC_MISMATCH);
    ASSERT_LT(next, want.size()) << "a report beyond the damage";
    const expected_report &w = want[next];
    ASSERT_EQ(err.bad_data, data + w.chunk * chunk)
        << "expected chunk " << w.chunk << ", got offset " << (err.bad_data - data);
    ASSERT_EQ(err.got_crc, w.got) << "chunk " << w.chunk;
    ASSERT_EQ(err.expected_crc, w.stored) << "chunk " << w.chunk;
    from = w.chunk + 1;
    ++next;
  }
  ASSERT_EQ(next, want.size()) << "damaged chunks passed over";
  ASSERT_EQ(sums.front(), kGuard);
  ASSERT_EQ(sums.back(), kGuard);

  for (auto d = done.rbegin(); d != done.rend(); ++d) {  // the next round starts clean
    if (d->in_word)
      s[d->at] ^= d->mask;
    else
      data[d->at] ^= static_cast<uint8_t>(d->mask);
  }
  out.damaged += done.size();
  out.reports += want.size();
}

TEST(EngineSoak, VerifyPassesOverALargeBufferWithRandomDamage) {
  const double budget = knob_seconds();
  const size_t bytes = knob_bytes();
  const uint64_t seed = knob_seed();
  ASSERT_GE(bytes, 4096u) << "ZELKOR_SOAK_BYTES too small";
  std::printf("soak: %zu bytes, %.0f s, ZELKOR_SOAK_SEED=%#llx\n", bytes, budget,
              static_cast<unsigned long long>(seed));
  const auto t0 = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };

  // Exactly the bytes used plus room to shift the start by up to 63.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes + 63]);
  fill_random(buffer.get(), bytes + 63, seed);
  std::mt19937_64 rng(seed);

  // Both types' tiers in force first, then the others in turn.
  tiers::restore_on_exit restore;
  const auto c_tiers = tiers::runnable(CRC32C_POLYNOMIAL);
  const auto z_tiers = tiers::runnable(CRC32_ZLIB_POLYNOMIAL);
  std::vector<tiers::tier_case> order;
  for (size_t i = 0; i < std::max(c_tiers.size(), z_tiers.size()); ++i) {
    if (i < c_tiers.size()) order.push_back(c_tiers[i]);
    if (i < z_tiers.size()) order.push_back(z_tiers[i]);
  }
  // Chunk sizes: common ones, odd ones, large ones and one past the buffer.
  const size_t chunks[] = {512, 4096, 65536, 100, 1100, size_t{1} << 20, 17, INT_MAX};

  round_report total;
  size_t rounds = 0;
  for (; rounds < 2 || elapsed() < budget; ++rounds) {
    const tiers::tier_case &tier = order[rounds % order.size()];
    const size_t chunk = chunks[rounds % std::size(chunks)];
    const size_t offset = rng() % 64;
    const size_t len = bytes - rng() % std::min<size_t>(chunk, 4096);  // mostly a partial chunk
    ASSERT_TRUE(tiers::force(tier));
    const double start = elapsed();
    round_report r;
    soak_round(tier, buffer.get() + offset, len, chunk, rng, r);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "round " << rounds << ": " << tier.label << ", chunk " << chunk
                    << ", offset " << offset << ", length " << len << "; replay with "
                    << "ZELKOR_SOAK_SEED=" << seed << " ZELKOR_SOAK_BYTES=" << bytes;
      return;
    }
    std::printf("round %zu: %-28s chunk %-10zu offset %2zu: %zu damaged, %zu reports, %.1f s\n",
                rounds, tier.label.c_str(), chunk, offset, r.damaged, r.reports, elapsed() - start);
    total.damaged += r.damaged;
    total.reports += r.reports;
  }
  std::printf("soak: %zu rounds, %zu places damaged, %zu reports checked, %.1f s\n", rounds,
              total.damaged, total.reports, elapsed());
}

}  // namespace
