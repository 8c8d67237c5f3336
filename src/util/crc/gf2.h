// gf2.h -- polynomials over GF(2) modulo a CRC polynomial, at compile time.
//
// Every constant of the carry-less-multiply kernels comes from here, in one
// bit convention: the bit-reflected form that the CRC registers themselves
// use, where bit i of a 32-bit value is the coefficient of x^(31-i) (so
// 0x80000000 is 1).  A polynomial P is named by its reflected form without
// the x^32 term (0x82F63B78 for CRC32C).
#ifndef ZELKOR_UTIL_CRC_GF2_H
#define ZELKOR_UTIL_CRC_GF2_H

#include <concepts>
#include <cstddef>
#include <cstdint>

namespace zelkor::gf2 {

inline constexpr uint32_t kCrc32c = 0x82F63B78u;     // Castagnoli
inline constexpr uint32_t kCrc32Zlib = 0xEDB88320u;  // zlib / IEEE 802.3

inline constexpr uint32_t kOne = 0x80000000u;  // x^0

// A 64-bit polynomial is named the same way, bit i of a 64-bit value the
// coefficient of x^(63-i): CRC-64/NVME's, reflected from its usual form.
inline constexpr uint64_t kCrc64Nvme = 0x9A6C9329AC4BC9B5u;

// The operations below take either width, from the polynomial's type.
template <class T>
concept reg_width = std::same_as<T, uint32_t> || std::same_as<T, uint64_t>;
template <reg_width T>
inline constexpr T one_of = T{1} << (8 * sizeof(T) - 1);

template <reg_width T>
constexpr T times_x(T p, T a) {
  return (a >> 1) ^ ((a & 1) ? p : 0);
}

// a / x mod P: x is invertible because P has a constant term.
template <reg_width T>
constexpr T div_x(T p, T a) {
  return (a & one_of<T>) ? ((a ^ p) << 1) | 1 : a << 1;
}

// a * b mod P: Horner's rule over b's coefficients, the highest first.
template <reg_width T>
constexpr T mul_mod(T p, T a, T b) {
  T r = 0;
  for (size_t i = 0; i < 8 * sizeof(T); ++i) {
    r = times_x(p, r);
    if ((b >> i) & 1) r ^= a;
  }
  return r;
}

// x^n mod P for any integer n, by squaring.
template <reg_width T>
constexpr T x_pow(T p, long long n) {
  T base = n >= 0 ? times_x(p, one_of<T>) : div_x(p, one_of<T>);
  unsigned long long e = n >= 0 ? static_cast<unsigned long long>(n)
                                : static_cast<unsigned long long>(-n);
  T r = one_of<T>;
  for (; e != 0; e >>= 1, base = mul_mod(p, base, base))
    if (e & 1) r = mul_mod(p, r, base);
  return r;
}

// A 128-bit lane holds 16 message bytes, bit k the coefficient of x^(127-k);
// its 64-bit halves are laid out the same way.  A carry-less product of such
// a half with this multiplier is congruent to the half times x^t: the
// reflected x^(t-1) fills the 64 bits (a 32-bit one their upper half), and
// the product itself adds the missing x.  Products stay below bit 127, so
// two of them (one per half) and the data of the next lane add up to a
// 128-bit value again.
template <reg_width T>
constexpr uint64_t fold_multiplier(T p, long long t) {
  return uint64_t{x_pow(p, t - 1)} << (64 - 8 * sizeof(T));
}

// Joining registers instead: the carry-less product of a 32-bit register
// and this multiplier, both in the low bits, fed to a CRC step of 64 bits
// from a zero register, gives the register moved past n zero bytes.  (The
// product adds one x, the CRC step of 8 bytes another 64 - 32.)
constexpr uint32_t shift_multiplier(uint32_t p, long long n_bytes) {
  return x_pow(p, 8 * n_bytes - 33);
}

constexpr uint64_t reflect(uint64_t v, int bits) {
  uint64_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1u) << (bits - 1 - i);
  return r;
}

// Barrett reduction of 64 bits to 32: P with its x^32 term, and
// mu = floor(x^64 / P), both 33 bits and bit-reflected.
constexpr uint64_t barrett_poly(uint32_t p) { return (uint64_t{p} << 1) | 1; }
constexpr uint64_t barrett_mu(uint32_t p) {
  const uint64_t normal = (uint64_t{1} << 32) | reflect(p, 32);
  uint64_t rem = (normal & 0xFFFFFFFFu) << 32;  // x^64 - x^32 * P
  uint64_t q = uint64_t{1} << 32;
  for (int d = 63; d >= 32; --d) {
    if ((rem >> d) & 1) {
      q |= uint64_t{1} << (d - 32);
      rem ^= normal << (d - 32);
    }
  }
  return reflect(q, 33);
}

static_assert(mul_mod(kCrc32c, kOne, 0x12345678u) == 0x12345678u, "1 is the unit");
static_assert(times_x(kCrc32c, div_x(kCrc32c, 0xDEADBEEFu)) == 0xDEADBEEFu, "x / x is 1");
static_assert(x_pow(kCrc32Zlib, 40) == mul_mod(kCrc32Zlib, x_pow(kCrc32Zlib, 17),
                                               x_pow(kCrc32Zlib, 23)),
              "powers add");
static_assert(mul_mod(kCrc32c, x_pow(kCrc32c, -5), x_pow(kCrc32c, 5)) == kOne,
              "negative powers invert");
static_assert(kCrc64Nvme == reflect(0xAD93D23594C93659u, 64), "the reflected form");
static_assert(x_pow(kCrc64Nvme, 200) == mul_mod(kCrc64Nvme, x_pow(kCrc64Nvme, 77),
                                                x_pow(kCrc64Nvme, 123)) &&
                  mul_mod(kCrc64Nvme, x_pow(kCrc64Nvme, -9), x_pow(kCrc64Nvme, 9)) ==
                      one_of<uint64_t>,
              "the same rules at 64 bits");
// x^64 = P's lower terms: one step of x past x^63 reduces by P.
static_assert(times_x(kCrc64Nvme, uint64_t{1}) == kCrc64Nvme, "x * x^63 is P's remainder");

}  // namespace zelkor::gf2

#endif  // ZELKOR_UTIL_CRC_GF2_H
