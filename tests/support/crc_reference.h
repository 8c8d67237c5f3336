// crc_reference.h -- the tests' oracle: a bitwise CRC straight from the
// polynomial, plus helpers shared by the engine tests.
#ifndef ZELKOR_TESTS_CRC_REFERENCE_H
#define ZELKOR_TESTS_CRC_REFERENCE_H

#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace reference {

constexpr uint32_t kCrc32cPoly = 0x82F63B78;  // Castagnoli, reflected
constexpr uint32_t kCrc32Poly = 0xEDB88320;   // zlib / IEEE 802.3, reflected

// Advances a running register one bit at a time; no init, no inversion.
inline uint32_t bitwise(uint32_t poly, uint32_t reg, const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int b = 0; b < 8; ++b) reg = (reg >> 1) ^ ((reg & 1) ? poly : 0);
  }
  return reg;
}

inline uint32_t poly_of(int checksum_type) { return checksum_type == 1 ? kCrc32cPoly : kCrc32Poly; }

// The full CRC of a message (register from all ones, inverted at the end).
inline uint32_t crc(int checksum_type, const uint8_t *p, size_t n) {
  return ~bitwise(poly_of(checksum_type), 0xFFFFFFFFu, p, n);
}

// The stored form of a chunk's CRC: its bytes in memory are big-endian.
inline uint32_t stored_word(int checksum_type, const uint8_t *p, size_t n) {
  return htonl(crc(checksum_type, p, n));
}

// All stored words of a buffer cut into chunks.
inline std::vector<uint32_t> stored_words(int checksum_type, const uint8_t *p, size_t n,
                                          size_t chunk) {
  std::vector<uint32_t> words;
  for (size_t off = 0; off < n; off += chunk)
    words.push_back(stored_word(checksum_type, p + off, n - off < chunk ? n - off : chunk));
  return words;
}

// CRC-64/NVME: 0xAD93D23594C93659 reflected, register from all ones,
// inverted at the end.
constexpr uint64_t kCrc64NvmePoly = 0x9A6C9329AC4BC9B5u;
inline uint64_t bitwise64(uint64_t reg, const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int b = 0; b < 8; ++b) reg = (reg >> 1) ^ ((reg & 1) ? kCrc64NvmePoly : 0);
  }
  return reg;
}
inline uint64_t crc64_nvme(const uint8_t *p, size_t n) { return ~bitwise64(~uint64_t{0}, p, n); }

inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto &b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace reference

namespace sweep {

// ZELKOR_SWEEP=quick samples the sweeps (emulators, sanitizers, valgrind);
// anything else, or unset, runs them whole.
inline bool quick() {
  const char *v = std::getenv("ZELKOR_SWEEP");
  return v != nullptr && std::strcmp(v, "quick") == 0;
}

// Step through a range: every value normally, a sample when quick.
inline size_t step(size_t full_count) { return quick() ? (full_count / 8 + 1) : 1; }

}  // namespace sweep

#endif  // ZELKOR_TESTS_CRC_REFERENCE_H
