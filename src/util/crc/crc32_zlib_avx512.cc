// crc32_zlib_avx512.cc -- the CRC-32 (zlib) kernel of crc32_zlib_avx512_body.h,
// compiled natively for AVX-512 and as its 128-bit model.
#include "crc32_zlib_avx512.h"

#include "crc32_zlib_fold.h"
#include "prefetch.h"
#include "v512.h"

namespace zelkor {

namespace {

namespace native_copy {
using namespace v512::native;
#define ZELKOR_V512 ZELKOR_V512_NATIVE_OP
#include "crc32_zlib_avx512_body.h"
#undef ZELKOR_V512
}  // namespace native_copy

namespace model_copy {
using namespace v512::model;
#define ZELKOR_V512 ZELKOR_V512_MODEL_OP
#include "crc32_zlib_avx512_body.h"
#undef ZELKOR_V512
}  // namespace model_copy

}  // namespace

__attribute__((target(ZELKOR_V512_NATIVE_TARGET))) void crc32_zlib_vpclmul_avx512_chunks(
    const uint8_t *data, size_t chunk_size, size_t n_chunks, uint32_t *words) {
  native_copy::chunks(data, chunk_size, n_chunks, words);
}

__attribute__((target(ZELKOR_V512_NATIVE_TARGET))) uint32_t crc32_zlib_vpclmul_avx512_one(
    const uint8_t *data, size_t len) {
  return native_copy::one(data, len);
}

__attribute__((target(ZELKOR_V512_MODEL_TARGET))) void crc32_zlib_vpclmul_avx512_model_chunks(
    const uint8_t *data, size_t chunk_size, size_t n_chunks, uint32_t *words) {
  model_copy::chunks(data, chunk_size, n_chunks, words);
}

__attribute__((target(ZELKOR_V512_MODEL_TARGET))) uint32_t crc32_zlib_vpclmul_avx512_model_one(
    const uint8_t *data, size_t len) {
  return model_copy::one(data, len);
}

}  // namespace zelkor
