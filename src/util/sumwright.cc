// sumwright.cc -- self-check and benchmark of the bulk checksum engine.
//
// Twelve compute-then-verify checks over a fixed byte pattern, then one
// million compute-and-verify passes per checksum type over 16 KiB.  The first
// failure ends the run; its result becomes the exit status.
//
// Each check reports a fixed line number and expression text (its name in
// the program's reports), so they are written out rather than taken from
// __LINE__ or the preprocessor.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "bulk_crc32.h"

namespace {

// Prints the failure line when result is nonzero and hands the result back.
int zeroCheck(int result, int line, const char *text) {
  if (result != 0)
    fprintf(stderr, "TEST_ERROR: failed on line %d with return code %d: got nonzero from %s\n",
            line, result, text);
  return result;
}

#define ZERO_CHECK(line, text, call)                  \
  do {                                                \
    const int rc_ = zeroCheck((call), (line), (text)); \
    if (rc_ != 0) return rc_;                         \
  } while (0)

const char kComputeText[] = "bulk_crc(data, dataLen, sums, crcType, bytesPerChecksum, NULL)";
const char kVerifyText[] =
    "bulk_crc(data, dataLen, sums, crcType, bytesPerChecksum, &errorData)";

uint8_t *patternBuffer(int dataLen) {
  uint8_t *data = static_cast<uint8_t *>(malloc(static_cast<size_t>(dataLen)));
  for (int i = 0; i < dataLen; ++i) data[i] = static_cast<uint8_t>(i % 16 + 1);
  return data;
}

uint32_t *sumsArray(int dataLen, int bytesPerChecksum) {
  const int numSums = (dataLen + bytesPerChecksum - 1) / bytesPerChecksum;
  return static_cast<uint32_t *>(calloc(static_cast<size_t>(numSums), sizeof(uint32_t)));
}

// A compute pass, then, if it succeeded, a verify pass over the words it
// stored; each call's report names its own line.
int computeThenVerify(const uint8_t *data, int dataLen, uint32_t *sums, int crcType,
                      int bytesPerChecksum, int computeLine, int verifyLine) {
  crc32_error_t errorData;
  const int rc = zeroCheck(
      bulk_crc(data, static_cast<size_t>(dataLen), sums, crcType, bytesPerChecksum, NULL),
      computeLine, kComputeText);
  if (rc != 0) return rc;
  return zeroCheck(bulk_crc(data, static_cast<size_t>(dataLen), sums, crcType,
                            bytesPerChecksum, &errorData),
                   verifyLine, kVerifyText);
}

int testBulkVerifyCrc(int dataLen, int crcType, int bytesPerChecksum) {
  uint8_t *data = patternBuffer(dataLen);
  uint32_t *sums = sumsArray(dataLen, bytesPerChecksum);
  const int rc = computeThenVerify(data, dataLen, sums, crcType, bytesPerChecksum, 53, 55);
  free(data);
  free(sums);
  return rc;
}

int timeBulkCrc(int dataLen, int crcType, int bytesPerChecksum, int iterations) {
  uint8_t *data = patternBuffer(dataLen);
  uint32_t *sums = sumsArray(dataLen, bytesPerChecksum);
  int rc = 0;
  const clock_t start = clock();
  for (int i = 0; i < iterations && rc == 0; ++i)
    rc = computeThenVerify(data, dataLen, sums, crcType, bytesPerChecksum, 79, 81);
  const clock_t fini = clock();
  if (rc == 0) {
    printf("CRC %d bytes @ %d bytes per checksum X %d iterations = %g\n", dataLen,
           bytesPerChecksum, iterations, static_cast<double>(fini - start) / 1000000.0);
    // Out before the success line on stderr, also when stdout is a pipe.
    fflush(stdout);
  }
  free(data);
  free(sums);
  return rc;
}

int runChecks() {
  ZERO_CHECK(95, "testBulkVerifyCrc(4096, CRC32C_POLYNOMIAL, 512)",
             testBulkVerifyCrc(4096, CRC32C_POLYNOMIAL, 512));
  ZERO_CHECK(96, "testBulkVerifyCrc(4096, CRC32_ZLIB_POLYNOMIAL, 512)",
             testBulkVerifyCrc(4096, CRC32_ZLIB_POLYNOMIAL, 512));
  ZERO_CHECK(97, "testBulkVerifyCrc(256, CRC32C_POLYNOMIAL, 1)",
             testBulkVerifyCrc(256, CRC32C_POLYNOMIAL, 1));
  ZERO_CHECK(98, "testBulkVerifyCrc(256, CRC32_ZLIB_POLYNOMIAL, 1)",
             testBulkVerifyCrc(256, CRC32_ZLIB_POLYNOMIAL, 1));
  ZERO_CHECK(99, "testBulkVerifyCrc(1, CRC32C_POLYNOMIAL, 1)",
             testBulkVerifyCrc(1, CRC32C_POLYNOMIAL, 1));
  ZERO_CHECK(100, "testBulkVerifyCrc(1, CRC32_ZLIB_POLYNOMIAL, 1)",
             testBulkVerifyCrc(1, CRC32_ZLIB_POLYNOMIAL, 1));
  ZERO_CHECK(101, "testBulkVerifyCrc(2, CRC32C_POLYNOMIAL, 1)",
             testBulkVerifyCrc(2, CRC32C_POLYNOMIAL, 1));
  ZERO_CHECK(102, "testBulkVerifyCrc(17, CRC32C_POLYNOMIAL, 1)",
             testBulkVerifyCrc(17, CRC32C_POLYNOMIAL, 1));
  ZERO_CHECK(103, "testBulkVerifyCrc(17, CRC32C_POLYNOMIAL, 2)",
             testBulkVerifyCrc(17, CRC32C_POLYNOMIAL, 2));
  ZERO_CHECK(104, "testBulkVerifyCrc(17, CRC32_ZLIB_POLYNOMIAL, 2)",
             testBulkVerifyCrc(17, CRC32_ZLIB_POLYNOMIAL, 2));
  ZERO_CHECK(105, "testBulkVerifyCrc(17, CRC32C_POLYNOMIAL, 4)",
             testBulkVerifyCrc(17, CRC32C_POLYNOMIAL, 4));
  ZERO_CHECK(106, "testBulkVerifyCrc(17, CRC32_ZLIB_POLYNOMIAL, 4)",
             testBulkVerifyCrc(17, CRC32_ZLIB_POLYNOMIAL, 4));
  ZERO_CHECK(108, "timeBulkCrc(16 * 1024, CRC32C_POLYNOMIAL, 512, 1000000)",
             timeBulkCrc(16 * 1024, CRC32C_POLYNOMIAL, 512, 1000000));
  ZERO_CHECK(109, "timeBulkCrc(16 * 1024, CRC32_ZLIB_POLYNOMIAL, 512, 1000000)",
             timeBulkCrc(16 * 1024, CRC32_ZLIB_POLYNOMIAL, 512, 1000000));
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  (void)argc;
  const int result = runChecks();
  if (result != 0) return result;
  fprintf(stderr, "%s: SUCCESS.\n", argv[0]);
  return 0;
}
