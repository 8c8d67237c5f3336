// engine_tiers.h -- every row of the tier table, for tests that run the bulk
// driver under each in turn (every tier, concurrency, soak, fuzzing), and a
// dispatch slot swapped for a while.
//
// Forcing a tier or swapping a slot writes state that bulk_crc reads without
// synchronisation, as the load-time constructor does: callers force before
// any thread that calls bulk_crc starts, and restore after the last has been
// joined.
#ifndef ZELKOR_TESTS_ENGINE_TIERS_H
#define ZELKOR_TESTS_ENGINE_TIERS_H

#include <ostream>
#include <string>
#include <vector>

#include "util/bulk_crc32.h"
#include "util/bulk_crc32_internal.h"
#include "util/crc/tiers.h"
#include "util/zelkor_crc.h"

namespace tiers {

inline int type_of(zelkor::crc_poly poly) {
  switch (poly) {
    case zelkor::crc_poly::crc32c: return CRC32C_POLYNOMIAL;
    case zelkor::crc_poly::crc32_zlib: return CRC32_ZLIB_POLYNOMIAL;
    case zelkor::crc_poly::crc64_nvme: break;
  }
  return CRC64_NVME;
}
inline zelkor::crc_poly poly_of(int type) {
  switch (type) {
    case CRC32C_POLYNOMIAL: return zelkor::crc_poly::crc32c;
    case CRC32_ZLIB_POLYNOMIAL: return zelkor::crc_poly::crc32_zlib;
  }
  return zelkor::crc_poly::crc64_nvme;
}

struct tier_case {
  std::string label;  // <polynomial>_<row>[_model]
  int type;           // CRC32C_POLYNOMIAL, CRC32_ZLIB_POLYNOMIAL or CRC64_NVME
  const zelkor::tier_row *row;
  bool model = false;  // the row's model on 128-bit operations (crc/x86/v512.h)
};

// GoogleTest names a parameter by its label.
inline void PrintTo(const tier_case &c, std::ostream *os) { *os << c.label; }

// The rows of the 32-bit polynomials (wide: of CRC-64/NVME), each model
// after its native row.
inline std::vector<tier_case> rows_of_width(bool wide) {
  std::vector<tier_case> out;
  for (const zelkor::tier_row &r : zelkor::tier_rows()) {
    if ((r.poly == zelkor::crc_poly::crc64_nvme) != wide) continue;
    const char *poly = wide ? "crc64_" : r.poly == zelkor::crc_poly::crc32c ? "crc32c_" : "crc32_";
    const std::string label = poly + std::string(r.name);
    out.push_back({label, type_of(r.poly), &r});
    if (zelkor::has_model(r)) out.push_back({label + "_model", type_of(r.poly), &r, true});
  }
  return out;
}

// Every row of the table that bulk_crc runs (the 32-bit ones).
inline std::vector<tier_case> all() { return rows_of_width(false); }

// Every CRC-64/NVME row.
inline std::vector<tier_case> all64() { return rows_of_width(true); }

// Whether the tier is a native kernel with a model row (which runs wherever
// the native one cannot).
inline bool has_model(const tier_case &c) { return !c.model && zelkor::has_model(*c.row); }

// Installs the tier if this processor runs it; false (and nothing changed) if not.
inline bool force(const tier_case &c) { return zelkor::force_tier(*c.row, c.model); }

// The tiers of one type that run here, the one in force at load first.
inline std::vector<tier_case> runnable(int type) {
  const zelkor::tier_row *in_force = &zelkor::tier_in_force(poly_of(type));
  std::vector<tier_case> out;
  // The load-time choice is never a model.
  const auto chosen = [&](const tier_case &c) { return c.row == in_force && !c.model; };
  const std::vector<tier_case> every = type == CRC64_NVME ? all64() : all();
  for (const tier_case &c : every)
    if (c.type == type && chosen(c)) out.push_back(c);
  for (const tier_case &c : every) {
    if (c.type != type || chosen(c)) continue;
    if (force(c)) out.push_back(c);
  }
  force(out.front());  // probing forced the others: put back the one in force
  return out;
}

// Puts every type's tier back as it was when it was made.
struct restore_on_exit {
  const zelkor::tier_row &c = zelkor::tier_in_force(zelkor::crc_poly::crc32c);
  const zelkor::tier_row &z = zelkor::tier_in_force(zelkor::crc_poly::crc32_zlib);
  const zelkor::tier_row &n = zelkor::tier_in_force(zelkor::crc_poly::crc64_nvme);
  bool c_model = zelkor::model_in_force(zelkor::crc_poly::crc32c);
  bool z_model = zelkor::model_in_force(zelkor::crc_poly::crc32_zlib);
  bool n_model = zelkor::model_in_force(zelkor::crc_poly::crc64_nvme);
  restore_on_exit() = default;
  restore_on_exit(const restore_on_exit &) = delete;
  restore_on_exit &operator=(const restore_on_exit &) = delete;
  ~restore_on_exit() {
    zelkor::force_tier(c, c_model);
    zelkor::force_tier(z, z_model);
    zelkor::force_tier(n, n_model);
  }
};

// Puts a routine in a dispatch slot and the one it held back on exit, so
// that a failing check cannot leave the slot changed for the tests after it.
class slot_override {
 public:
  slot_override(crc_pipelined_func_t &slot, crc_pipelined_func_t with) : slot_(slot), saved_(slot) {
    slot_ = with;
  }
  slot_override(const slot_override &) = delete;
  slot_override &operator=(const slot_override &) = delete;
  ~slot_override() { slot_ = saved_; }

 private:
  crc_pipelined_func_t &slot_;
  crc_pipelined_func_t saved_;
};

}  // namespace tiers

#endif  // ZELKOR_TESTS_ENGINE_TIERS_H
