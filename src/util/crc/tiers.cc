// tiers.cc -- installing a row of the tier table, at load time and for tests.
//
// The only module that knows both the kernels and the slot routines they
// stand for: a CRC32C kernel runs only while the CRC32C slot holds the
// hardware routine (the words are the same, the kernel is faster), a CRC-32
// kernel only while its slot holds the table routine.
#include "tiers.h"

#include <cstring>

#include "kernel.h"
#include "known_answer.h"
#include "multiply.h"

#if defined(__x86_64__)
#include "x86/tier_table.h"
#elif defined(__aarch64__)
#include "aarch64/tier_table.h"
#else
// Neither: no kernels and no hardware routine; the slots' routines serve.
namespace zelkor::tier_table {
inline constexpr tier_row kRows[] = {ZELKOR_SLOT_ROUTINE_ROWS};
constexpr const tier_row &choose(crc_poly poly, const cpu_features &) {
  return kRows[static_cast<size_t>(poly)];
}
inline cpu_features read_cpu_features() { return {}; }
}  // namespace zelkor::tier_table
#endif

namespace zelkor {

#if !defined(__x86_64__) && !defined(__aarch64__)
crc_pipelined_func_t engine_hardware_routine() { return nullptr; }
using tier_table::read_cpu_features;
#endif

constinit crc_kernel crc32c_kernel{};
constinit crc_kernel crc32_zlib_kernel{};
constinit crc64_one_fn crc64_nvme_kernel = crc64_nvme::table_one;

namespace {

static_assert([] {
  for (const tier_row &r : tier_table::kRows)
    if (r.group == 0 || kKernelGroupMultiple % r.group != 0) return false;
  return true;
}(), "every row's group divides the batches that callers hand over");

// The slot routine rows come first, in polynomial order, then CRC-64's
// table row; each polynomial's first row is the one it starts with.
static_assert(tier_table::kRows[0].native.chunks == nullptr &&
              tier_table::kRows[0].poly == crc_poly::crc32c &&
              tier_table::kRows[1].native.chunks == nullptr &&
              tier_table::kRows[1].poly == crc_poly::crc32_zlib &&
              tier_table::kRows[2].native.one64 == crc64_nvme::table_one &&
              tier_table::kRows[2].poly == crc_poly::crc64_nvme);

// A 64-bit row has only its 64-bit entry, a 32-bit row never one.
static_assert([] {
  for (const tier_row &r : tier_table::kRows) {
    const bool wide = r.poly == crc_poly::crc64_nvme;
    for (const crc_entries &e : {r.native, r.model})
      if (wide ? e.chunks != nullptr || e.one != nullptr : e.one64 != nullptr) return false;
  }
  return true;
}());

struct in_force {
  const tier_row *row;
  bool model;
};
constinit in_force g_in_force[kPolys] = {{&tier_table::kRows[0], false},
                                         {&tier_table::kRows[1], false},
                                         {&tier_table::kRows[2], false}};
constinit cpu_features g_features{};

size_t index(crc_poly poly) { return static_cast<size_t>(poly); }

crc_kernel &kernel_record(crc_poly poly) {
  return poly == crc_poly::crc32c ? crc32c_kernel : crc32_zlib_kernel;
}

// The slot routine that a polynomial's kernels stand for.
crc_pipelined_func_t owner(crc_poly poly) {
  return poly == crc_poly::crc32c ? engine_hardware_routine()
                                  : engine_table_routines().pipelined_crc32_zlib_sb8;
}

void install(const tier_row &row, bool model) {
  g_in_force[index(row.poly)] = {&row, model};
  const crc_entries &e = model ? row.model : row.native;
  if (row.poly == crc_poly::crc64_nvme) {
    crc64_nvme_kernel = e.one64;
    return;
  }
  kernel_record(row.poly) = {e.chunks != nullptr ? owner(row.poly) : nullptr, e.chunks, e.one,
                             row.group};
}

}  // namespace

std::span<const tier_row> tier_rows() { return tier_table::kRows; }

const tier_row *find_tier(crc_poly poly, const char *name) {
  for (const tier_row &r : tier_table::kRows)
    if (r.poly == poly && std::strcmp(r.name, name) == 0) return &r;
  return nullptr;
}

const tier_row &choose_tier(crc_poly poly, const cpu_features &f) {
  return tier_table::choose(poly, f);
}

void select_tiers_at_load() {
  g_features = read_cpu_features();
  install(agreeing_tier(choose_tier(crc_poly::crc32c, g_features), g_features), false);
  install(agreeing_tier(choose_tier(crc_poly::crc32_zlib, g_features), g_features), false);
  install(agreeing_tier(choose_tier(crc_poly::crc64_nvme, g_features), g_features), false);
  select_multiplier(g_features);
}

const tier_row &tier_in_force(crc_poly poly) { return *g_in_force[index(poly)].row; }
bool model_in_force(crc_poly poly) { return g_in_force[index(poly)].model; }

bool force_tier(const tier_row &row, bool model) {
  if (!(model ? model_runs_here(row, g_features) : runs_here(row, g_features))) return false;
  install(row, model);
  return true;
}

}  // namespace zelkor
