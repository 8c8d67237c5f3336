// zelkor_crc.cc -- whole-buffer CRCs: continued over pieces, joined, and
// composed from stored chunk words (zelkor_crc.h).
#include "zelkor_crc.h"

#include <cerrno>

#include "bulk_crc32_internal.h"
#include "crc/kernel.h"
#include "crc/multiply.h"
#include "crc/tiers.h"

namespace {

// Kernels and routines may count a length in an int.
constexpr size_t kPiece = size_t{1} << 30;

bool poly_of(int checksum_type, zelkor::crc_poly &poly) {
  switch (checksum_type) {
    case CRC32C_POLYNOMIAL:
      poly = zelkor::crc_poly::crc32c;
      return true;
    case CRC32_ZLIB_POLYNOMIAL:
      poly = zelkor::crc_poly::crc32_zlib;
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int zelkor_crc_update(int checksum_type, uint32_t *crc,
                                                             const uint8_t *data, size_t len) {
  crc_pipelined_func_t crc_func;
  const zelkor::crc_kernel *kernel;
  if (!zelkor::engine_of(checksum_type, crc_func, kernel)) return BULK_CRC_BAD_TYPE;
  if (crc == nullptr || (data == nullptr && len > 0)) return -EINVAL;

  // The lone-chunk kernel of the tier in force, while the slot holds the
  // routine it stands for (as bulk_crc decides); else the slot's routine.
  const bool own = kernel->one != nullptr && crc_func == kernel->owner;
  uint32_t reg = ~*crc;
  for (size_t done = 0; done < len;) {
    const size_t piece = len - done < kPiece ? len - done : kPiece;
    if (own) {
      reg = kernel->one(reg, data + done, piece);
    } else {
      uint32_t unused2 = 0, unused3 = 0;
      crc_func(&reg, &unused2, &unused3, data + done, piece, 1);
    }
    done += piece;
  }
  *crc = ~reg;
  return 0;
}

__attribute__((visibility("default"))) int zelkor_crc_combine(int checksum_type, uint32_t crc_a,
                                                              uint32_t crc_b, uint64_t len_b,
                                                              uint32_t *crc_ab) {
  zelkor::crc_poly poly;
  if (!poly_of(checksum_type, poly)) return BULK_CRC_BAD_TYPE;
  if (crc_ab == nullptr) return -EINVAL;
  const zelkor::gf2_modulus &m = zelkor::modulus_of(poly);
  *crc_ab = zelkor::multiplier_in_force().shift(m, crc_a, len_b) ^ crc_b;
  return 0;
}

__attribute__((visibility("default"))) int zelkor_crc_compose(int checksum_type,
                                                              const uint32_t *sums,
                                                              uint64_t data_len,
                                                              int bytes_per_checksum,
                                                              uint32_t *crc) {
  zelkor::crc_poly poly;
  if (!poly_of(checksum_type, poly)) return BULK_CRC_BAD_TYPE;
  if (bytes_per_checksum < 1 || crc == nullptr || (sums == nullptr && data_len > 0))
    return -EINVAL;
  if (data_len == 0) {
    *crc = 0;
    return 0;
  }
  const uint64_t chunk = static_cast<uint64_t>(bytes_per_checksum);
  const uint64_t whole = (data_len - 1) / chunk;  // the chunks before the last
  const uint64_t last = data_len - whole * chunk;
  const auto *words = reinterpret_cast<const uint8_t *>(sums);
  const zelkor::multiplier_row &mr = zelkor::multiplier_in_force();
  const zelkor::gf2_modulus &m = zelkor::modulus_of(poly);
  const uint32_t head = mr.horner(m, 0, words, whole, chunk);
  const uint8_t *w = words + 4 * whole;
  const uint32_t tail = uint32_t{w[0]} << 24 | uint32_t{w[1]} << 16 | uint32_t{w[2]} << 8 | w[3];
  *crc = mr.shift(m, head, last) ^ tail;
  return 0;
}

__attribute__((visibility("default"))) const char *zelkor_crc_implementation(int checksum_type) {
  zelkor::crc_poly poly = zelkor::crc_poly::crc64_nvme;
  if (checksum_type != CRC64_NVME && !poly_of(checksum_type, poly)) return nullptr;
  return zelkor::tier_name(zelkor::tier_in_force(poly), zelkor::model_in_force(poly));
}

}  // extern "C"
