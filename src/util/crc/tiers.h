// tiers.h -- which kernel each checksum type runs, chosen once at load time.
//
// A tier is one row of its architecture's table (x86/tier_table.h,
// aarch64/tier_table.h): a kernel together with what it needs of the
// processor.  Each 32-bit polynomial has a `slot_routine` row, no kernel at
// all: the driver calls the type's slot routine three chunks at a time.
// CRC-64/NVME has no slot and no stored words: its rows hold a 64-bit
// running register only (crc_entries::one64), the tables' row first.  The
// choice is made by the hardware module's constructor, from the features
// read then; tests may force another row that this processor runs.
#ifndef ZELKOR_UTIL_CRC_TIERS_H
#define ZELKOR_UTIL_CRC_TIERS_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "cpu_features.h"
#include "crc64_nvme.h"
#include "kernel.h"

namespace zelkor {

enum class crc_poly : uint8_t { crc32c, crc32_zlib, crc64_nvme };
inline constexpr size_t kPolys = 3;
inline constexpr size_t kPolys32 = 2;  // those with stored words, bulk_crc's

using feature_test = bool (*)(const cpu_features &);

// One tier.  Rows are written with designated initializers, so that a field
// added later (an entry of another register width, say) leaves the rows
// that do without it as they are.
struct tier_row {
  crc_poly poly;
  const char *name;   // short name, unique for its polynomial
  const char *title;  // what tier_name prints: the short name, then what runs
  const char *model_title;  // the same for the row's model
  feature_test needs;
  crc_entries native;  // all null: the slot routine
  // The same words on 128-bit operations, where the native kernel is built
  // on wider ones (x86/v512.h), and what the model needs; null where none.
  crc_entries model = {};
  feature_test model_needs = nullptr;
  size_t group = 3;  // chunks that the kernel's loop walks at a time
};

// The titles of a row and of its model: its short name, then what it runs.
#define ZELKOR_TIER_TITLE(short_name, what)              \
  .name = short_name, .title = short_name " (" what ")", \
  .model_title = short_name "_model (" what ", modelled on 128-bit operations)"

// The rows of every architecture that mean "no kernel", and CRC-64's table
// path, which every architecture runs.
#define ZELKOR_SLOT_ROUTINE_ROWS                                                    \
  {.poly = crc_poly::crc32c,                                                        \
   ZELKOR_TIER_TITLE("slot_routine", "the slot's routine, 3 chunks at a time"),     \
   .needs = [](const cpu_features &) { return true; }, .native = {}},               \
  {.poly = crc_poly::crc32_zlib,                                                    \
   ZELKOR_TIER_TITLE("slot_routine", "the slot's routine, 3 chunks at a time"),     \
   .needs = [](const cpu_features &) { return true; }, .native = {}},               \
  {.poly = crc_poly::crc64_nvme, ZELKOR_TIER_TITLE("table", "8 tables, 8 bytes a step"), \
   .needs = [](const cpu_features &) { return true; },                             \
   .native = {.chunks = nullptr, .one = nullptr, .one64 = crc64_nvme::table_one}}

// A row's entries: a kernel's <kernel>_chunks and <kernel>_one; a 64-bit
// kernel's <kernel>_one.
#define ZELKOR_ENTRIES(kernel) {kernel##_chunks, kernel##_one}
#define ZELKOR_ENTRIES64(kernel) {.chunks = nullptr, .one = nullptr, .one64 = kernel##_one}

// The row of that polynomial and name among `rows`, found by the compiler:
// a name that no row has stops the build.
void no_row_of_that_name();  // not constexpr: calling it is no constant expression
consteval const tier_row &row_named(std::span<const tier_row> rows, crc_poly poly,
                                    std::string_view name) {
  for (const tier_row &r : rows)
    if (r.poly == poly && r.name == name) return r;
  no_row_of_that_name();
  return rows[0];
}

// This architecture's rows, slot routines included.
std::span<const tier_row> tier_rows();

// The row of that polynomial and short name, or null.
const tier_row *find_tier(crc_poly poly, const char *name);

// Whether the row has a kernel of its own (not a slot routine's row), and
// a model of it.
inline bool has_kernel(const crc_entries &e) { return e.chunks != nullptr || e.one64 != nullptr; }
inline bool has_kernel(const tier_row &row) { return has_kernel(row.native); }
inline bool has_model(const tier_row &row) { return has_kernel(row.model); }

inline const char *tier_name(const tier_row &row, bool model = false) {
  return model ? row.model_title : row.title;
}

// Whether a processor and OS with these features can run the row's native
// kernel, or its model.
inline bool runs_here(const tier_row &row, const cpu_features &f) { return row.needs(f); }
inline bool model_runs_here(const tier_row &row, const cpu_features &f) {
  return has_model(row) && row.model_needs(f);
}

// The row for a processor with these features (a pure function of them).
const tier_row &choose_tier(crc_poly poly, const cpu_features &f);

// Reads the features and installs the three choices, each only if it gives the
// known answers, else the nearest row below it that does
// (known_answer.h); then the multiplier the same way.  Called once, by the
// load-time constructor, after it has set the CRC32C slot.
void select_tiers_at_load();

// Test hooks.  The row in force, and whether as its model; force_tier
// installs a row (its model, with `model`) if this processor runs it and
// says whether it did.  Forcing writes what bulk_crc reads without
// synchronisation: never while another thread may be inside.
const tier_row &tier_in_force(crc_poly poly);
bool model_in_force(crc_poly poly);
bool force_tier(const tier_row &row, bool model = false);

}  // namespace zelkor

#endif  // ZELKOR_UTIL_CRC_TIERS_H
