// bulk_crc32_wide.cc -- CRC32C on many chains, and the load-time choice.
//
// The CRC32 instruction has a latency of three cycles.  One unit (Intel, AMD
// Zen 1-4) needs three independent chains to issue every cycle; Zen 5 has
// three units and needs nine or more.  Whole chunks run in lockstep, one
// chain each, with the chunk size a compile-time constant for the common
// sizes, so that every load has a constant displacement.  Where the vector
// unit has 256-bit carry-less multiplication, it folds further chunks of the
// same group at the same time (the hybrid kernel).  A lone chunk (a leftover
// one, the partial one) is cut into as many streams as there are chains; each
// stream starts from a zero register and the streams are joined by carry-less
// multiplication:
//
//   reg(A || B) = reg(A) * x^(8|B|) mod P  XOR  reg0(B)
//
// Only the kernels are compiled for SSE4.2, PCLMULQDQ (and AVX2 with
// VPCLMULQDQ for the hybrid), each through its own target attribute; the
// feature reading runs on any x86-64.
#include "bulk_crc32_wide.h"

#include "bulk_crc32_clmul.h"

#include <arpa/inet.h>
#include <cpuid.h>
#include <immintrin.h>

#include <array>

namespace zelkor {

namespace {

// ---------------------------------------------------------------------------
// Shift constants.  In the reflected representation bit i of a register is
// the coefficient of x^(31-i).  The carry-less product of two such values,
// fed to CRC32 as a 64-bit word from a zero register, gives a * b * x^33 mod
// P; so advancing a register over n zero bytes is one multiplication by
// K(n) = x^(8n - 33) mod P and one CRC32.

constexpr uint32_t kPoly = 0x82F63B78u;

constexpr uint32_t times_x(uint32_t a) { return (a >> 1) ^ ((a & 1) ? kPoly : 0); }

// a * b mod P, Horner's rule over b's coefficients from x^31 down.
constexpr uint32_t mul_mod(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int i = 0; i < 32; ++i) {
    r = times_x(r);
    if ((b >> i) & 1) r ^= a;
  }
  return r;
}

// The longest stream of a round, and the most chains of any kernel.
constexpr size_t kRoundStream = 4096;
constexpr int kMaxChains = 12;
constexpr size_t kShiftEntries = kMaxChains * kRoundStream / 8 + 1;

// kShift[m] = x^(64m - 33) mod P: the constant that shifts over 8m bytes.
constexpr std::array<uint32_t, kShiftEntries> make_shift_table() {
  std::array<uint32_t, kShiftEntries> t{};
  uint32_t x31 = 0x80000000u;  // x^0
  for (int i = 0; i < 31; ++i) x31 = times_x(x31);  // x^31 = x^(64*1 - 33)
  uint32_t x64 = 0x80000000u;
  for (int i = 0; i < 64; ++i) x64 = times_x(x64);
  t[1] = x31;
  for (size_t m = 2; m < kShiftEntries; ++m) t[m] = mul_mod(t[m - 1], x64);
  return t;
}
constexpr auto kShift = make_shift_table();
static_assert(mul_mod(0x80000000u, 0x12345678u) == 0x12345678u, "x^0 is the unit");

#define ZELKOR_CRC_TARGET __attribute__((target("sse4.2,pclmul")))

ZELKOR_CRC_TARGET inline __m128i clmul(uint32_t a, uint32_t k) {
  return _mm_clmulepi64_si128(_mm_cvtsi32_si128(static_cast<int>(a)),
                              _mm_cvtsi32_si128(static_cast<int>(k)), 0);
}

ZELKOR_CRC_TARGET inline uint32_t crc_word(uint32_t c, const uint8_t *p) {
  return static_cast<uint32_t>(_mm_crc32_u64(c, load_le64(p)));
}

// One chain over n bytes.
ZELKOR_CRC_TARGET inline uint32_t crc_serial(uint32_t c, const uint8_t *p, size_t n) {
  for (; n >= 8; n -= 8, p += 8) c = crc_word(c, p);
  for (; n > 0; --n, ++p) c = _mm_crc32_u8(c, *p);
  return c;
}

inline uint32_t stored(uint32_t reg) { return htonl(~reg); }

// Data that does not fit the caches is fetched ahead by software: several
// chunks walked side by side are too many streams for the hardware
// prefetcher, which then leaves every line to a demand miss.  In cache the
// extra instructions only cost, so calls over less than kPrefetchMin bytes
// do without.  A prefetch past the buffer's end is harmless (it never
// faults); the address is formed as an integer, not as a pointer past it.
constexpr size_t kPrefetchMin = 4u << 20;
constexpr size_t kPrefetchAhead = 2;  // in groups (or rounds) of the loop

// Fetches `bytes` bytes from `ahead` bytes after p.
inline void prefetch_range(const uint8_t *p, size_t ahead, size_t bytes) {
  const uintptr_t from = reinterpret_cast<uintptr_t>(p) + ahead;
  for (size_t off = 0; off < bytes; off += 64)
    __builtin_prefetch(reinterpret_cast<const void *>(from + off), 0, 3);
}

// N streams of `len` bytes each, back to back from p, in lockstep; LEN == 0
// means the length is only known at run time.  c[] holds the registers.
template <int N, size_t LEN>
ZELKOR_CRC_TARGET inline void lockstep(uint32_t (&c)[N], const uint8_t *p, size_t len) {
  if constexpr (LEN != 0) len = LEN;
  uint64_t r[N];
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) r[k] = c[k];
  const size_t words = len / 8;
  for (size_t i = 0; i < words; ++i, p += 8) {
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) r[k] = _mm_crc32_u64(r[k], load_le64(p + k * len));
  }
  for (size_t i = len % 8; i > 0; --i, ++p) {
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) r[k] = _mm_crc32_u8(static_cast<uint32_t>(r[k]), p[k * len]);
  }
#pragma GCC unroll 16
  for (int k = 0; k < N; ++k) c[k] = static_cast<uint32_t>(r[k]);
}

// Joins the registers of N back-to-back streams of b bytes each (every one
// started from zero) onto acc, the register over everything before them:
// acc moves past all N streams, stream k past the N-1-k after it.  The
// products are summed before the one CRC32 that reduces them.
template <int N>
ZELKOR_CRC_TARGET inline uint32_t join_streams(uint32_t acc, const uint32_t (&c)[N], size_t b) {
  __m128i t = clmul(acc, kShift[N * b / 8]);
#pragma GCC unroll 16
  for (int k = 0; k < N - 1; ++k) t = _mm_xor_si128(t, clmul(c[k], kShift[(N - 1 - k) * b / 8]));
  return static_cast<uint32_t>(_mm_crc32_u64(0, static_cast<uint64_t>(_mm_cvtsi128_si64(t)))) ^
         c[N - 1];
}

// Register of the message over one buffer, on N streams, continuing from acc
// (all ones: the start of a message).
template <int N>
ZELKOR_CRC_TARGET uint32_t one_register(const uint8_t *p, size_t len, uint32_t acc = 0xFFFFFFFFu) {
  const bool prefetch = len >= kPrefetchMin;
  while (len >= N * 8) {
    const size_t b = len >= N * kRoundStream ? kRoundStream : len / (N * 8) * 8;
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * b, N * b);
    uint32_t c[N] = {};
    if (b == kRoundStream)
      lockstep<N, kRoundStream>(c, p, b);
    else
      lockstep<N, 0>(c, p, b);
    acc = join_streams<N>(acc, c, b);
    p += N * b;
    len -= N * b;
  }
  return crc_serial(acc, p, len);
}

// Whole chunks: groups of N in lockstep, the rest (fewer than N) one by one
// on all N streams.
template <int N, size_t CS>
ZELKOR_CRC_TARGET void chunks_n(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if constexpr (CS != 0) cs = CS;
  const bool prefetch = n * cs >= kPrefetchMin;
  for (; n >= N; n -= N, p += N * cs, words += N) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * cs, N * cs);
    uint32_t c[N];
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) c[k] = 0xFFFFFFFFu;
    lockstep<N, CS>(c, p, cs);
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) words[k] = stored(c[k]);
  }
  for (; n > 0; --n, p += cs) *words++ = stored(one_register<N>(p, cs));
}

template <int N>
ZELKOR_CRC_TARGET void chunks_dispatch(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  switch (cs) {
    case 64: return chunks_n<N, 64>(p, cs, n, words);
    case 128: return chunks_n<N, 128>(p, cs, n, words);
    case 256: return chunks_n<N, 256>(p, cs, n, words);
    case 512: return chunks_n<N, 512>(p, cs, n, words);
    case 1024: return chunks_n<N, 1024>(p, cs, n, words);
    case 2048: return chunks_n<N, 2048>(p, cs, n, words);
    case 4096: return chunks_n<N, 4096>(p, cs, n, words);
    default: return chunks_n<N, 0>(p, cs, n, words);
  }
}

// ---------------------------------------------------------------------------
// Hybrid: CRC32 chains on some chunks of a group while the vector unit folds
// the others with 256-bit carry-less multiplication; the two run on separate
// execution units, so their rates add.
//
// A 128-bit lane holds 16 message bytes, bit m the coefficient of x^(127-m).
// Moving a lane D bytes further down the message multiplies it by x^(8D);
// with its two 64-bit halves multiplied by x^(8D+31) and x^(8D-33) mod P (the
// carry-less product adds one power of x, the 64-bit layout another 32), the
// sum of the products is congruent to it and is added into the lane D bytes
// on.  The last 16 bytes left are reduced by two CRC32 steps from zero.

#define ZELKOR_HYBRID_TARGET __attribute__((target("sse4.2,pclmul,avx2,vpclmulqdq")))

constexpr uint32_t x_pow(size_t n) {  // x^n mod P
  uint32_t r = 0x80000000u;
  for (size_t i = 0; i < n; ++i) r = times_x(r);
  return r;
}
// The two multipliers of a lane's halves for a distance of D bytes.
template <size_t D>
struct fold_k {
  static constexpr long long lo = x_pow(8 * D + 31), hi = x_pow(8 * D - 33);
};

template <size_t D>
ZELKOR_HYBRID_TARGET inline __m256i fold_k256() {
  return _mm256_setr_epi64x(fold_k<D>::lo, fold_k<D>::hi, fold_k<D>::lo, fold_k<D>::hi);
}

ZELKOR_HYBRID_TARGET inline __m256i load256(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// a moved on by the distance of k, plus the data found there.
ZELKOR_HYBRID_TARGET inline __m256i fold256(__m256i a, __m256i k, __m256i data) {
  return _mm256_xor_si256(
      _mm256_xor_si256(_mm256_clmulepi64_epi128(a, k, 0x00), _mm256_clmulepi64_epi128(a, k, 0x11)),
      data);
}

// The register of a chunk whose last 64 folded bytes are a0 || a1.
ZELKOR_HYBRID_TARGET inline uint32_t fold_finish(__m256i a0, __m256i a1) {
  a1 = fold256(a0, fold_k256<32>(), a1);
  const __m128i k16 = _mm_set_epi64x(fold_k<16>::hi, fold_k<16>::lo);
  const __m128i l0 = _mm256_castsi256_si128(a1), l1 = _mm256_extracti128_si256(a1, 1);
  const __m128i v = _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(l0, k16, 0x00), _mm_clmulepi64_si128(l0, k16, 0x11)), l1);
  const uint64_t r = _mm_crc32_u64(0, static_cast<uint64_t>(_mm_cvtsi128_si64(v)));
  return static_cast<uint32_t>(
      _mm_crc32_u64(r, static_cast<uint64_t>(_mm_extract_epi64(v, 1))));
}

// K blocks on CRC32 chains, then M folded blocks, all of cs >= 64 bytes,
// walked 64 bytes at a time in one loop.  The registers start from all ones
// (whole chunks) or from zero (streams of one chunk, joined afterwards).
template <int K, int M, size_t CS, bool kPreset>
ZELKOR_HYBRID_TARGET inline void hybrid_registers(const uint8_t *p, size_t cs,
                                                  uint32_t (&regs)[K + M]) {
  if constexpr (CS != 0) cs = CS;
  const size_t windows = cs / 64, rest = cs % 64;
  const uint8_t *f = p + K * cs;
  const __m256i k64 = fold_k256<64>();
  uint64_t c[K];
  __m256i a0[M], a1[M];
#pragma GCC unroll 16
  for (int k = 0; k < K; ++k) c[k] = kPreset ? 0xFFFFFFFFu : 0;
  // A preset register is the same as its bits added into the first bytes.
  const __m256i init = _mm256_setr_epi64x(kPreset ? 0xFFFFFFFFll : 0, 0, 0, 0);
#pragma GCC unroll 16
  for (int m = 0; m < M; ++m) {
    a0[m] = _mm256_xor_si256(load256(f + m * cs), init);
    a1[m] = load256(f + m * cs + 32);
  }
#pragma GCC unroll 8
  for (int w = 0; w < 8; ++w)
#pragma GCC unroll 16
    for (int k = 0; k < K; ++k) c[k] = _mm_crc32_u64(c[k], load_le64(p + k * cs + 8 * w));
  for (size_t i = 1; i < windows; ++i) {
    const size_t off = 64 * i;
#pragma GCC unroll 16
    for (int m = 0; m < M; ++m) {
      a0[m] = fold256(a0[m], k64, load256(f + m * cs + off));
      a1[m] = fold256(a1[m], k64, load256(f + m * cs + off + 32));
    }
#pragma GCC unroll 8
    for (int w = 0; w < 8; ++w)
#pragma GCC unroll 16
      for (int k = 0; k < K; ++k) c[k] = _mm_crc32_u64(c[k], load_le64(p + k * cs + off + 8 * w));
  }
  const size_t done = 64 * windows;
#pragma GCC unroll 16
  for (int k = 0; k < K; ++k)
    regs[k] = crc_serial(static_cast<uint32_t>(c[k]), p + k * cs + done, rest);
#pragma GCC unroll 16
  for (int m = 0; m < M; ++m) regs[K + m] = crc_serial(fold_finish(a0[m], a1[m]), f + m * cs + done, rest);
}

template <int K, int M, size_t CS>
ZELKOR_HYBRID_TARGET inline void hybrid_group(const uint8_t *p, size_t cs, uint32_t *words) {
  uint32_t regs[K + M];
  hybrid_registers<K, M, CS, true>(p, cs, regs);
#pragma GCC unroll 16
  for (int k = 0; k < K + M; ++k) words[k] = stored(regs[k]);
}

// One long chunk: rounds of 3 streams on CRC32 chains and 3 folded, joined
// as in one_register; what is left goes there.
ZELKOR_HYBRID_TARGET inline uint32_t hybrid_one_register(const uint8_t *p, size_t len) {
  constexpr int N = 6;
  uint32_t acc = 0xFFFFFFFFu;
  const bool prefetch = len >= kPrefetchMin;
  while (len >= N * 64) {
    const size_t b = len >= N * kRoundStream ? kRoundStream : len / (N * 64) * 64;
    if (prefetch) prefetch_range(p, kPrefetchAhead * N * b, N * b);
    uint32_t c[N];
    if (b == kRoundStream)
      hybrid_registers<3, 3, kRoundStream, false>(p, b, c);
    else
      hybrid_registers<3, 3, 0, false>(p, b, c);
    acc = join_streams<N>(acc, c, b);
    p += N * b;
    len -= N * b;
  }
  return one_register<3>(p, len, acc);
}

template <int K, int M, size_t CS>
ZELKOR_HYBRID_TARGET void hybrid_chunks_n(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  if constexpr (CS != 0) cs = CS;
  const bool prefetch = n * cs >= kPrefetchMin;
  for (; n >= K + M; n -= K + M, p += (K + M) * cs, words += K + M) {
    if (prefetch) prefetch_range(p, kPrefetchAhead * (K + M) * cs, (K + M) * cs);
    hybrid_group<K, M, CS>(p, cs, words);
  }
  // The last few chunks: a smaller mix; two chunks go faster both folded
  // than with one of them on a lone chain.
  static_assert(K + M == 6, "the leftover mixes below assume groups of six");
  switch (n) {
    case 5: return hybrid_group<3, 2, CS>(p, cs, words);
    case 4: return hybrid_group<2, 2, CS>(p, cs, words);
    case 3: return hybrid_group<2, 1, CS>(p, cs, words);
    case 2: return hybrid_group<0, 2, CS>(p, cs, words);
    case 1: *words = stored(hybrid_one_register(p, cs)); return;
  }
}

// Chunks below 64 bytes leave nothing to fold.
template <int K, int M>
ZELKOR_HYBRID_TARGET void hybrid_dispatch(const uint8_t *p, size_t cs, size_t n, uint32_t *words) {
  switch (cs) {
    case 128: return hybrid_chunks_n<K, M, 128>(p, cs, n, words);
    case 256: return hybrid_chunks_n<K, M, 256>(p, cs, n, words);
    case 512: return hybrid_chunks_n<K, M, 512>(p, cs, n, words);
    case 1024: return hybrid_chunks_n<K, M, 1024>(p, cs, n, words);
    case 2048: return hybrid_chunks_n<K, M, 2048>(p, cs, n, words);
    case 4096: return hybrid_chunks_n<K, M, 4096>(p, cs, n, words);
    default:
      if (cs < 64) return chunks_dispatch<3>(p, cs, n, words);
      return hybrid_chunks_n<K, M, 0>(p, cs, n, words);
  }
}

// ---------------------------------------------------------------------------
// Selection state: module-private, written at load time (or by the test hook).

constinit cpu_features g_features{};
constinit crc32c_tier g_crc32c_tier = crc32c_tier::specified;
constinit crc32_tier g_crc32_tier = crc32_tier::specified;
constinit unsigned g_clmul_tiers = 0;

bool tier_runs_here(crc32c_tier t, const cpu_features &f) {
  switch (t) {
    case crc32c_tier::specified: return true;
    case crc32c_tier::crc32_x3:
    case crc32c_tier::crc32_x12: return f.sse42 && f.pclmul;
    case crc32c_tier::hybrid_avx2:
      return f.sse42 && f.pclmul && f.avx2 && f.vpclmulqdq && f.ymm_state;
  }
  return false;
}

void install(crc32c_tier t) {
  g_crc32c_tier = t;
  switch (t) {
    case crc32c_tier::specified:
      wide_crc32c_kernel = wide_kernel{};
      break;
    case crc32c_tier::crc32_x3:
      wide_crc32c_kernel = {engine_hardware_routine(), crc32c_x3_chunks, crc32c_x3_one};
      break;
    case crc32c_tier::crc32_x12:
      wide_crc32c_kernel = {engine_hardware_routine(), crc32c_x12_chunks, crc32c_x12_one};
      break;
    case crc32c_tier::hybrid_avx2:
      wide_crc32c_kernel = {engine_hardware_routine(), crc32c_hybrid_avx2_chunks,
                            crc32c_hybrid_avx2_one};
      break;
  }
}

inline void cpuid_count(uint32_t leaf, uint32_t sub, uint32_t (&r)[4]) {
  __cpuid_count(leaf, sub, r[0], r[1], r[2], r[3]);
}

}  // namespace

// ---------------------------------------------------------------------------
// Kernels.

ZELKOR_CRC_TARGET void crc32c_x3_chunks(const uint8_t *data, size_t chunk_size, size_t n_chunks,
                                        uint32_t *words) {
  chunks_dispatch<3>(data, chunk_size, n_chunks, words);
}
ZELKOR_CRC_TARGET uint32_t crc32c_x3_one(const uint8_t *data, size_t len) {
  return stored(one_register<3>(data, len));
}
ZELKOR_CRC_TARGET void crc32c_x12_chunks(const uint8_t *data, size_t chunk_size,
                                         size_t n_chunks, uint32_t *words) {
  chunks_dispatch<12>(data, chunk_size, n_chunks, words);
}
ZELKOR_CRC_TARGET uint32_t crc32c_x12_one(const uint8_t *data, size_t len) {
  return stored(one_register<12>(data, len));
}
ZELKOR_HYBRID_TARGET void crc32c_hybrid_avx2_chunks(const uint8_t *data, size_t chunk_size,
                                                    size_t n_chunks, uint32_t *words) {
  hybrid_dispatch<3, 3>(data, chunk_size, n_chunks, words);
}
ZELKOR_HYBRID_TARGET uint32_t crc32c_hybrid_avx2_one(const uint8_t *data, size_t len) {
  return stored(hybrid_one_register(data, len));
}

// ---------------------------------------------------------------------------
// Features and the choice.

cpu_features read_cpu_features() {
  cpu_features f{};
  uint32_t r[4];
  cpuid_count(0, 0, r);
  const uint32_t max_leaf = r[0];
  // Vendor string is EBX, EDX, ECX.
  f.amd = (r[1] == 0x68747541 && r[3] == 0x69746E65 && r[2] == 0x444D4163) ||  // AuthenticAMD
          (r[1] == 0x6F677948 && r[3] == 0x6E65476E && r[2] == 0x656E6975);    // HygonGenuine
  if (max_leaf < 1) return f;
  cpuid_count(1, 0, r);
  const uint32_t base_family = (r[0] >> 8) & 0xF, base_model = (r[0] >> 4) & 0xF;
  f.family = base_family == 0xF ? base_family + ((r[0] >> 20) & 0xFF) : base_family;
  f.model = (base_family == 0x6 || base_family == 0xF) ? base_model | (((r[0] >> 16) & 0xF) << 4)
                                                      : base_model;
  const uint32_t ecx1 = r[2];
  f.ssse3 = ecx1 & (1u << 9);
  f.sse41 = ecx1 & (1u << 19);
  f.sse42 = ecx1 & (1u << 20);
  f.pclmul = ecx1 & (1u << 1);
  const bool osxsave = ecx1 & (1u << 27);
  const bool avx = ecx1 & (1u << 28);
  if (max_leaf >= 7) {
    cpuid_count(7, 0, r);
    f.avx2 = r[1] & (1u << 5);
    f.avx512f = r[1] & (1u << 16);
    f.avx512bw = r[1] & (1u << 30);
    f.avx512vl = r[1] & (1u << 31);
    f.vpclmulqdq = r[2] & (1u << 10);
  }
  // XGETBV faults unless the OS has set CR4.OSXSAVE, which CPUID reports.
  if (osxsave && avx) {
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    f.ymm_state = (lo & 0x6) == 0x6;     // SSE and AVX state
    f.zmm_state = (lo & 0xE6) == 0xE6;   // plus opmask and both ZMM halves
  }
  return f;
}

// A table of processor families: what each needs to keep its units busy.
// - Zen 5 (AMD family 0x1A) issues about three CRC32 per cycle and wants 9+
//   chains: 12 chains.
// - Every other processor (Intel since Nehalem, Zen 1-4: AMD family 0x17,
//   0x19) issues one CRC32 per cycle, and three chains saturate it.  Where
//   it also has 256-bit VPCLMULQDQ with the YMM state enabled (Zen 3 and 4,
//   Intel since Ice Lake), three more chunks are folded on the vector unit
//   beside the three chains; measured on Zen 3 this is about 1.4x the chains
//   alone at 512-byte chunks.
// The kernels join streams by carry-less multiplication, so all need
// PCLMULQDQ; without it the specified routine stays in charge.
crc32c_tier choose_crc32c_tier(const cpu_features &f) {
  if (!f.sse42 || !f.pclmul) return crc32c_tier::specified;
  if (f.amd && f.family >= 0x1A) return crc32c_tier::crc32_x12;
  if (tier_runs_here(crc32c_tier::hybrid_avx2, f)) return crc32c_tier::hybrid_avx2;
  return crc32c_tier::crc32_x3;
}

namespace {

// CRC-32 has no instruction of its own: the widest carry-less fold the
// processor runs, else the tables.
crc32_tier best_crc32_tier(unsigned clmul_tiers) {
  if (clmul_tiers & CLMUL_TIER_VPCLMUL_AVX2) return crc32_tier::vpclmul_avx2;
  if (clmul_tiers & CLMUL_TIER_PCLMUL) return crc32_tier::pclmul;
  return crc32_tier::specified;
}

void install_crc32(crc32_tier t) {
  g_crc32_tier = t;
  const crc_pipelined_func_t tables = engine_table_routines().pipelined_crc32_zlib_sb8;
  switch (t) {
    case crc32_tier::specified:
      wide_crc32_kernel = wide_kernel{};
      break;
    case crc32_tier::pclmul:
      wide_crc32_kernel = {tables, crc32_zlib_chunks_pclmul, crc32_zlib_one_pclmul};
      break;
    case crc32_tier::vpclmul_avx2:
      wide_crc32_kernel = {tables, crc32_zlib_chunks_vpclmul_avx2, crc32_zlib_one_vpclmul_avx2};
      break;
  }
}

}  // namespace

void wide_select_at_load() {
  g_features = read_cpu_features();
  install(choose_crc32c_tier(g_features));
  g_clmul_tiers = crc32_clmul_tiers(g_features);
  install_crc32(best_crc32_tier(g_clmul_tiers));
}

crc32c_tier wide_crc32c_tier() { return g_crc32c_tier; }

bool wide_force_crc32c_tier(crc32c_tier tier) {
  if (!tier_runs_here(tier, g_features)) return false;
  install(tier);
  return true;
}

crc32_tier wide_crc32_tier() { return g_crc32_tier; }

bool wide_force_crc32_tier(crc32_tier tier) {
  if (static_cast<int>(tier) > static_cast<int>(best_crc32_tier(g_clmul_tiers))) return false;
  install_crc32(tier);
  return true;
}

}  // namespace zelkor
