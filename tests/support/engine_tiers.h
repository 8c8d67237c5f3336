// engine_tiers.h -- every kernel tier of both checksum types, for tests that
// run the bulk driver under each in turn (concurrency, soak, fuzzing).
//
// Forcing a tier writes state that bulk_crc reads without synchronisation,
// as the load-time constructor does: callers force before any thread that
// calls bulk_crc starts, and restore after the last has been joined.
#ifndef ZELKOR_TESTS_ENGINE_TIERS_H
#define ZELKOR_TESTS_ENGINE_TIERS_H

#include <ostream>
#include <vector>

#include "util/bulk_crc32.h"
#include "util/crc/tiers.h"

namespace tiers {

struct tier_case {
  const char *label;
  int type;  // CRC32C_POLYNOMIAL or CRC32_ZLIB_POLYNOMIAL
  int tier;  // a crc32c_tier or a crc32_tier, by type
  bool model = false;  // the tier's model on 128-bit operations (crc/v512.h)
};

inline constexpr tier_case kAll[] = {
#if defined(__aarch64__)
    {"crc32c_armv8_crc_x3", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::armv8_crc_x3)},
    {"crc32c_armv8_pmull", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::armv8_pmull)},
    {"crc32_armv8_crc_x3", CRC32_ZLIB_POLYNOMIAL, int(zelkor::crc32_zlib_tier::armv8_crc_x3)},
    {"crc32_armv8_pmull", CRC32_ZLIB_POLYNOMIAL, int(zelkor::crc32_zlib_tier::armv8_pmull)},
#endif
    {"crc32c_specified", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::specified)},
    {"crc32c_x3", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::sse42_x3)},
    {"crc32c_x12", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::sse42_x12)},
    {"crc32c_hybrid_avx2", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::hybrid_avx2)},
    {"crc32c_hybrid_avx512", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::hybrid_avx512)},
    {"crc32c_hybrid_avx512_model", CRC32C_POLYNOMIAL, int(zelkor::crc32c_tier::hybrid_avx512),
     true},
    {"crc32_specified", CRC32_ZLIB_POLYNOMIAL, int(zelkor::crc32_zlib_tier::specified)},
    {"crc32_pclmul", CRC32_ZLIB_POLYNOMIAL, int(zelkor::crc32_zlib_tier::pclmul)},
    {"crc32_vpclmul_avx2", CRC32_ZLIB_POLYNOMIAL, int(zelkor::crc32_zlib_tier::vpclmul_avx2)},
    {"crc32_vpclmul_avx512", CRC32_ZLIB_POLYNOMIAL, int(zelkor::crc32_zlib_tier::vpclmul_avx512)},
    {"crc32_vpclmul_avx512_model", CRC32_ZLIB_POLYNOMIAL,
     int(zelkor::crc32_zlib_tier::vpclmul_avx512), true},
};

// GoogleTest names a parameter by its label.
inline void PrintTo(const tier_case &c, std::ostream *os) { *os << c.label; }

// Installs the tier if this processor runs it; false (and nothing changed) if not.
inline bool force(const tier_case &c) {
  if (c.type == CRC32C_POLYNOMIAL) {
    const auto tier = static_cast<zelkor::crc32c_tier>(c.tier);
    return c.model ? zelkor::force_tier_model(tier) : zelkor::force_tier(tier);
  }
  const auto tier = static_cast<zelkor::crc32_zlib_tier>(c.tier);
  return c.model ? zelkor::force_tier_model(tier) : zelkor::force_tier(tier);
}

// Whether the tier also has a model row (which runs wherever its native one
// cannot).
inline bool has_model(const tier_case &c) {
  for (const tier_case &m : kAll)
    if (m.model && m.type == c.type && m.tier == c.tier) return true;
  return false;
}

// The tiers of one type that run here, the one in force at load first.
inline std::vector<tier_case> runnable(int type) {
  const int in_force = type == CRC32C_POLYNOMIAL ? int(zelkor::crc32c_tier_in_force())
                                                 : int(zelkor::crc32_zlib_tier_in_force());
  std::vector<tier_case> out;
  // The load-time choice is never a model.
  const auto chosen = [&](const tier_case &c) { return c.tier == in_force && !c.model; };
  for (const tier_case &c : kAll)
    if (c.type == type && chosen(c)) out.push_back(c);
  for (const tier_case &c : kAll) {
    if (c.type != type || chosen(c)) continue;
    if (force(c)) out.push_back(c);
  }
  force(out.front());  // probing forced the others: put back the one in force
  return out;
}

// Puts both types' tiers back as they were when it was made.
struct restore_on_exit {
  zelkor::crc32c_tier c = zelkor::crc32c_tier_in_force();
  zelkor::crc32_zlib_tier z = zelkor::crc32_zlib_tier_in_force();
  bool z_model = zelkor::crc32_zlib_model_in_force();
  bool c_model = zelkor::crc32c_model_in_force();
  restore_on_exit() = default;
  restore_on_exit(const restore_on_exit &) = delete;
  restore_on_exit &operator=(const restore_on_exit &) = delete;
  ~restore_on_exit() {
    if (c_model)
      zelkor::force_tier_model(c);
    else
      zelkor::force_tier(c);
    if (z_model)
      zelkor::force_tier_model(z);
    else
      zelkor::force_tier(z);
  }
};

}  // namespace tiers

#endif  // ZELKOR_TESTS_ENGINE_TIERS_H
