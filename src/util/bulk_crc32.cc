// bulk_crc32.cc -- table-driven CRC32C and CRC-32, and the bulk checksum driver.
//
// The table routines use slice-by-8: eight bytes per step, one lookup per
// byte in eight tables, so the register is touched once per eight bytes.
#include "bulk_crc32.h"

#include <errno.h>

#include "bulk_crc32_internal.h"
#include "crc32_zlib_polynomial_tables.h"
#include "crc32c_tables.h"
#include "crc/kernel.h"
#include "crc/prefetch.h"

namespace {

using zelkor::load_le32;
using zelkor::sb8::table_t;

struct sb8_set {
  const table_t &t0, &t1, &t2, &t3, &t4, &t5, &t6, &t7;
};
constexpr sb8_set kCrc32c{CRC32C_T8_0, CRC32C_T8_1, CRC32C_T8_2, CRC32C_T8_3,
                          CRC32C_T8_4, CRC32C_T8_5, CRC32C_T8_6, CRC32C_T8_7};
constexpr sb8_set kCrc32{CRC32_T8_0, CRC32_T8_1, CRC32_T8_2, CRC32_T8_3,
                         CRC32_T8_4, CRC32_T8_5, CRC32_T8_6, CRC32_T8_7};

inline uint32_t sb8(const sb8_set &t, uint32_t crc, const uint8_t *buf, size_t length) {
  for (size_t groups = length / 8; groups > 0; --groups, buf += 8) {
    const uint32_t x = crc ^ load_le32(buf);
    const uint32_t hi = load_le32(buf + 4);  // bytes 4..7 are not mixed with the register
    crc = t.t7[x & 0xFF] ^ t.t6[(x >> 8) & 0xFF] ^ t.t5[(x >> 16) & 0xFF] ^ t.t4[x >> 24] ^
          t.t3[hi & 0xFF] ^ t.t2[(hi >> 8) & 0xFF] ^ t.t1[(hi >> 16) & 0xFF] ^ t.t0[hi >> 24];
  }
  for (size_t tail = length % 8; tail > 0; --tail, ++buf)
    crc = (crc >> 8) ^ t.t0[(crc ^ *buf) & 0xFF];
  return crc;
}

uint32_t crc32c_sb8(uint32_t crc, const uint8_t *buf, size_t length) {
  return sb8(kCrc32c, crc, buf, length);
}

uint32_t crc32_zlib_sb8(uint32_t crc, const uint8_t *buf, size_t length) {
  return sb8(kCrc32, crc, buf, length);
}

// The table path has no interleaving to gain: the blocks run one after
// another.  Each routine checks its own count, so that a report names it.
inline void sb8_blocks(const sb8_set &t, uint32_t *crc1, uint32_t *crc2, uint32_t *crc3,
                       const uint8_t *p_buf, size_t block_size, int num_blocks) {
  *crc1 = sb8(t, *crc1, p_buf, block_size);
  if (num_blocks >= 2) *crc2 = sb8(t, *crc2, p_buf + block_size, block_size);
  if (num_blocks == 3) *crc3 = sb8(t, *crc3, p_buf + 2 * block_size, block_size);
}

void pipelined_crc32c_sb8(uint32_t *crc1, uint32_t *crc2, uint32_t *crc3,
                          const uint8_t *p_buf, size_t block_size, int num_blocks) {
  ZELKOR_ENGINE_ASSERT(num_blocks >= 1 && num_blocks <=3 && "invalid num_blocks");
  sb8_blocks(kCrc32c, crc1, crc2, crc3, p_buf, block_size, num_blocks);
}

void pipelined_crc32_zlib_sb8(uint32_t *crc1, uint32_t *crc2, uint32_t *crc3,
                              const uint8_t *p_buf, size_t block_size, int num_blocks) {
  ZELKOR_ENGINE_ASSERT(num_blocks >= 1 && num_blocks <=3 && "invalid num_blocks");
  sb8_blocks(kCrc32, crc1, crc2, crc3, p_buf, block_size, num_blocks);
}

using zelkor::kRegisterInit;
using zelkor::stored_word;

// Returns true when the word at *sums is (now) right.
inline bool store_or_verify(uint32_t *sums, uint32_t crc, bool is_verify) {
  if (!is_verify) {
    *sums = crc;
    return true;
  }
  return *sums == crc;
}

[[gnu::cold, gnu::noinline]] int return_crc_error(crc32_error_t *error_info, uint32_t got,
                                                  const uint32_t *sums, const uint8_t *data) {
  error_info->got_crc = got;
  error_info->expected_crc = *sums;
  error_info->bad_data = data;
  return BULK_CRC_MISMATCH;
}

// The kernel path.  Compute mode lets the kernel write straight into sums.
// Verify mode computes a batch of words into a small buffer and compares them
// in chunk order, so the report names the earliest failing chunk exactly as
// the routine path would.  A batch of short chunks is whole groups of every
// kernel; the batch is bounded in bytes as well, so that a mismatch in its
// first chunk is found after reading no more than the rest of that chunk's
// group of three (as the routine path reads) or kMaxReadPastMismatch bytes
// past its end, whichever is more: a bad chunk among long ones is reported
// at once.
constexpr size_t kBatch = 6 * zelkor::kKernelGroupMultiple;
static_assert(kBatch % zelkor::kKernelGroupMultiple == 0);
constexpr size_t kMaxReadPastMismatch = 64 * 1024;

size_t verify_batch(size_t chunk) {
  const size_t n = 1 + kMaxReadPastMismatch / chunk;
  if (n >= kBatch) return kBatch;
  if (n > zelkor::kKernelGroupMultiple) return n - n % zelkor::kKernelGroupMultiple;
  return n < 3 ? 3 : n;
}

int bulk_crc_kernel(const zelkor::crc_kernel &k, const uint8_t *data, size_t n_blocks,
                    size_t chunk, size_t remainder, uint32_t *sums, crc32_error_t *error_info) {
  if (error_info == nullptr) {
    k.chunks(data, chunk, n_blocks, sums);
    if (remainder > 0)
      sums[n_blocks] = stored_word(k.one(kRegisterInit, data + n_blocks * chunk, remainder));
    return BULK_CRC_OK;
  }
  const size_t batch = verify_batch(chunk);
  // A kernel fetches ahead only within one call, and a batch is too short
  // for that; out of the caches, the next batch is fetched while this one is
  // computed, as a compute call over all of them would.  (A prefetch never
  // faults and reads nothing into the words: the bound above still holds.)
  const bool prefetch = n_blocks * chunk >= zelkor::kPrefetchMin;
  uint32_t words[kBatch];
  while (n_blocks > 0) {
    const size_t n = n_blocks < batch ? n_blocks : batch;
    if (prefetch) {
      // A piece of whole kernel groups at a time, at least 8 KiB ahead (two
      // pieces of 12 chunks of 512 bytes, one of 16): a whole batch asked
      // for at once would overrun the loads the processor keeps in flight,
      // and fetched further ahead the lines come back too early.
      const size_t piece = k.group >= 12 ? k.group : 12;
      const size_t ahead = piece * chunk * (1 + (8191 / (piece * chunk)));
      for (size_t i = 0; i < n; i += piece) {
        const size_t g = n - i < piece ? n - i : piece;
        zelkor::prefetch_range(data + i * chunk, ahead, g * chunk);
        k.chunks(data + i * chunk, chunk, g, words + i);
      }
    } else {
      k.chunks(data, chunk, n, words);
    }
    for (size_t i = 0; i < n; ++i, ++sums, data += chunk)
      if (*sums != words[i]) return return_crc_error(error_info, words[i], sums, data);
    n_blocks -= n;
  }
  if (remainder > 0) {
    const uint32_t word = stored_word(k.one(kRegisterInit, data, remainder));
    if (*sums != word) return return_crc_error(error_info, word, sums, data);
  }
  return BULK_CRC_OK;
}

}  // namespace

extern "C" {

constinit crc_pipelined_func_t pipelined_crc32c_func = pipelined_crc32c_sb8;
constinit crc_pipelined_func_t pipelined_crc32_zlib_func = pipelined_crc32_zlib_sb8;

}  // extern "C"

extern "C" {

__attribute__((visibility("default"))) int bulk_crc(const uint8_t *data, size_t data_len,
                                                    uint32_t *sums, int checksum_type,
                                                    int bytes_per_checksum,
                                                    crc32_error_t *error_info) {
  const bool is_verify = error_info != nullptr;
  crc_pipelined_func_t crc_func;
  const zelkor::crc_kernel *kernel;
  if (!zelkor::engine_of(checksum_type, crc_func, kernel))
    return is_verify ? BULK_CRC_BAD_TYPE : -EINVAL;
  // A chunk size below 1 would divide by zero; the type is tested first so an
  // unknown type keeps its own code.
  if (bytes_per_checksum < 1) return -EINVAL;

  // Counts stay in size_t: a 32-bit count would wrap for large buffers and
  // silently skip chunks.
  const size_t chunk = static_cast<size_t>(bytes_per_checksum);
  size_t n_blocks = data_len / chunk;
  const size_t remainder = data_len % chunk;

  // The load-time constructor read the processor's features once and put
  // the fastest kernel this processor runs into each type's record, together
  // with the slot routine it stands for (crc/tiers.cc): for CRC32C from a
  // table of processor families (CRC32 chains, vector folds beside them),
  // for CRC-32 the widest carry-less fold there is.  A kernel computes
  // exactly the words its routine would, and runs only while the slot still
  // holds that routine, so a routine installed by anyone else is called as
  // always, three chunks at a time.
  if (kernel->chunks != nullptr && crc_func == kernel->owner)
    return bulk_crc_kernel(*kernel, data, n_blocks, chunk, remainder, sums, error_info);

  uint32_t crc1, crc2, crc3;

  for (; n_blocks >= 3; n_blocks -= 3) {
    crc1 = crc2 = crc3 = kRegisterInit;
    crc_func(&crc1, &crc2, &crc3, data, chunk, 3);
    const uint32_t words[3] = {stored_word(crc1), stored_word(crc2), stored_word(crc3)};
    for (uint32_t word : words) {
      if (!store_or_verify(sums, word, is_verify))
        return return_crc_error(error_info, word, sums, data);
      ++sums;
      data += chunk;
    }
  }
  if (n_blocks > 0) {
    crc1 = crc2 = crc3 = kRegisterInit;
    crc_func(&crc1, &crc2, &crc3, data, chunk, static_cast<int>(n_blocks));
    const uint32_t words[2] = {stored_word(crc1), stored_word(crc2)};
    for (size_t i = 0; i < n_blocks; ++i) {
      if (!store_or_verify(sums, words[i], is_verify))
        return return_crc_error(error_info, words[i], sums, data);
      ++sums;
      data += chunk;
    }
  }
  if (remainder > 0) {
    crc1 = crc2 = crc3 = kRegisterInit;
    crc_func(&crc1, &crc2, &crc3, data, remainder, 1);
    const uint32_t word = stored_word(crc1);
    if (!store_or_verify(sums, word, is_verify))
      return return_crc_error(error_info, word, sums, data);
  }
  return BULK_CRC_OK;
}

}  // extern "C"

namespace zelkor {

const table_routines &engine_table_routines() {
  static constexpr table_routines routines{crc32c_sb8, crc32_zlib_sb8, pipelined_crc32c_sb8,
                                           pipelined_crc32_zlib_sb8};
  return routines;
}

}  // namespace zelkor
