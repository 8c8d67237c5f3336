// chunked_checksums_test.cc -- the native side of ChunkedChecksums on the
// fake JNIEnv, with bulk_crc wrapped (-Wl,--wrap=bulk_crc): every byte
// range the module hands over is seen against the array holds live at the
// time, which proves the bound on each hold; a JVM cannot show it, since
// -Xcheck:jni copies the whole array at every critical get.  The fake plays
// both hosts: one that pins arrays (nested holds share an address) and one
// that copies them at every hold, where the arrays must go by bounded
// region copies that add up to one copy of each.  The results
// themselves are checked against the JDK's checksums in the JVM tests.  The
// same for compose's copies of an array's words: bounded, in order, none
// past the last word, and no hold at all.
#include <jni.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChunkedChecksums_internal.h"
#include "bulk_crc32.h"
#include "fake_jni_env.h"
#include "zelkor_crc.h"

extern "C" {
JNIEXPORT void JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_checksum(
    JNIEnv *env, jclass clazz, jint type, jint bytes_per_checksum, jobject data_buffer,
    jbyteArray data_array, jint data_offset, jint length, jobject sums_buffer,
    jbyteArray sums_array, jint sums_offset, jlong base_position, jboolean verify);
JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_combineCrcs(
    JNIEnv *env, jclass clazz, jint type, jlong crc_a, jlong crc_b, jlong length_b);
JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_composeBuffer(
    JNIEnv *env, jclass clazz, jint type, jint bytes_per_checksum, jlong data_length,
    jobject sums_buffer, jint offset);
JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_composeArray(
    JNIEnv *env, jclass clazz, jint type, jint bytes_per_checksum, jlong data_length,
    jbyteArray sums_array, jint offset);
int __real_bulk_crc(const uint8_t *data, size_t data_len, uint32_t *sums, int checksum_type,
                    int bytes_per_checksum, crc32_error_t *error_info);
}

namespace {

using zelkor::kComposePieceBytes;
using zelkor::kCriticalSliceBytes;
using zelkor::kRegionPieceBytes;
using zelkor::testing::FakeJniEnv;
using zelkor::testing::Outcome;

constexpr char kMismatch[] = "org/tarvik/zelkor/util/ChecksumMismatchException";
constexpr jint kCrc32c = 0;  // Type.CRC32C.ordinal()

// What the wrapped bulk_crc saw, per hold (by serial).
struct HoldUse {
  size_t data_bytes = 0;
  size_t words = 0;
};
const FakeJniEnv *g_env = nullptr;
bool g_data_in_array = false;
int g_calls = 0;
std::map<int, HoldUse> g_uses;

}  // namespace

extern "C" int __wrap_bulk_crc(const uint8_t *data, size_t data_len, uint32_t *sums,
                               int checksum_type, int bytes_per_checksum,
                               crc32_error_t *error_info) {
  ++g_calls;
  if (g_env != nullptr && bytes_per_checksum > 0) {
    bool inside = false;
    for (const FakeJniEnv::CriticalHold &h : g_env->critical_holds()) {
      HoldUse &use = g_uses[h.serial];
      use.data_bytes += data_len;
      use.words += (data_len + bytes_per_checksum - 1) / bytes_per_checksum;
      inside |= data >= h.copy && data + data_len <= h.copy + h.size;
    }
    if (g_data_in_array) {
      EXPECT_TRUE(inside) << "data outside every live hold of the array";
    }
  }
  return __real_bulk_crc(data, data_len, sums, checksum_type, bytes_per_checksum, error_info);
}

namespace {

std::vector<uint8_t> random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t &b : bytes) b = static_cast<uint8_t>(gen());
  return bytes;
}

// The stored words of data, as bytes in memory.
std::vector<uint8_t> reference_sums(const std::vector<uint8_t> &data, size_t offset, size_t length,
                                    int bpc) {
  std::vector<uint32_t> words((length + bpc - 1) / bpc);
  EXPECT_EQ(__real_bulk_crc(data.data() + offset, length, words.data(), CRC32C_POLYNOMIAL, bpc,
                            nullptr),
            0);
  std::vector<uint8_t> bytes(4 * words.size());
  if (!words.empty()) std::memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}

// One side of a call: a byte array, or a direct buffer over memory the test
// keeps (the vector), with the offset the Java side would pass.
struct Side {
  std::vector<uint8_t> memory;
  jbyteArray array = nullptr;
  jobject buffer = nullptr;
  jint offset = 0;
};

Side make_side(FakeJniEnv &env, bool direct, std::vector<uint8_t> memory, jint offset,
               const std::string &label) {
  Side side;
  side.memory = std::move(memory);
  side.offset = offset;
  if (direct)
    side.buffer = env.new_direct_buffer(side.memory.data(), label);
  else
    side.array = env.new_byte_array(side.memory, label);
  return side;
}

std::vector<uint8_t> contents(FakeJniEnv &env, const Side &side) {
  return side.array != nullptr ? env.byte_array(side.array) : side.memory;
}

void call(FakeJniEnv &env, jint type, jint bpc, const Side &data, jint length, const Side &sums,
          jlong base, bool verify) {
  g_env = &env;
  // A host that copies gets the data copied into a buffer of the module's.
  g_data_in_array = data.array != nullptr && env.pins_nested_holds();
  g_uses.clear();
  g_calls = 0;
  Java_org_tarvik_zelkor_util_ChunkedChecksums_checksum(
      &env, nullptr, type, bpc, data.buffer, data.array, data.offset, length, sums.buffer,
      sums.array, sums.offset, base, verify ? JNI_TRUE : JNI_FALSE);
  g_env = nullptr;
}

struct SliceCase {
  const char *name;
  int bpc;
  size_t length;
  bool data_direct, sums_direct;
  jint data_offset, sums_offset;  // an odd sums offset takes the unaligned path
};

const SliceCase kSliceCases[] = {
    {"data_bound_arrays", 512, 5 * kCriticalSliceBytes / 2 + 3, false, false, 1, 4},
    {"word_bound_arrays_unaligned_words", 1, kCriticalSliceBytes / 2 + 5, false, false, 0, 3},
    {"chunks_past_the_bound", static_cast<int>(3 * kCriticalSliceBytes / 2 + 1),
     4 * kCriticalSliceBytes, false, false, 0, 0},
    {"direct_data_array_words", 64, 3 * kCriticalSliceBytes, true, false, 2, 1},
    {"array_data_direct_words", 4096, 3 * kCriticalSliceBytes + 100, false, true, 0, 2},
    {"both_direct", 512, 3 * kCriticalSliceBytes, true, true, 5, 1},
};

void PrintTo(const SliceCase &c, std::ostream *os) { *os << c.name; }

// Damages the last byte of the data: its chunk, in the last slice or piece,
// is reported with its global position and both words.
void expect_last_chunk_reported(FakeJniEnv &env, const SliceCase &c, std::vector<uint8_t> bytes,
                                const std::vector<uint8_t> &want, const Side &sums) {
  const size_t words = (c.length + c.bpc - 1) / c.bpc;
  bytes.back() ^= 1;
  Side damaged = make_side(env, c.data_direct, bytes, c.data_offset, "damaged");
  env.clear_calls();
  call(env, kCrc32c, c.bpc, damaged, static_cast<jint>(c.length), sums, 1000, true);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, kMismatch);
  const size_t last = (words - 1) * c.bpc;
  std::vector<uint8_t> bad = reference_sums(bytes, c.data_offset + last, c.length - last, c.bpc);
  auto be = [](const uint8_t *p) {
    return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]);
  };
  const std::string init = std::string("NewObject ") + kMismatch + ".<init>:(JII)V(" +
                           std::to_string(1000 + last) + ", " +
                           std::to_string(be(&want[4 * (words - 1)])) + ", " +
                           std::to_string(be(bad.data())) + ")";
  EXPECT_EQ(env.count(init), 1) << ::testing::PrintToString(env.calls());
  EXPECT_TRUE(env.critical_holds().empty());
}

class SliceTest : public ::testing::TestWithParam<SliceCase> {};

// Compute, verify, then a mismatch in the last chunk: every hold within the
// bound (a longer chunk alone), the data released unchanged, the words
// copied back only by compute, nothing left held, and the mismatch's
// position global across the slices.
TEST_P(SliceTest, HoldsStayWithinTheBoundAndPositionsStayGlobal) {
  const SliceCase &c = GetParam();
  FakeJniEnv env;
  env.pin_nested_holds(true);
  const size_t words = (c.length + c.bpc - 1) / c.bpc;
  std::vector<uint8_t> bytes = random_bytes(c.data_offset + c.length, 7);
  Side data = make_side(env, c.data_direct, bytes, c.data_offset, "data");
  Side sums = make_side(env, c.sums_direct, std::vector<uint8_t>(c.sums_offset + 4 * words + 3, 0x5A),
                        c.sums_offset, "sums");
  const int refs = env.live_local_refs();
  const jint length = static_cast<jint>(c.length);

  call(env, kCrc32c, c.bpc, data, length, sums, 0, false);
  ASSERT_FALSE(env.pending());
  std::vector<uint8_t> want = reference_sums(bytes, c.data_offset, c.length, c.bpc);
  std::vector<uint8_t> got = contents(env, sums);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + c.sums_offset));
  EXPECT_EQ(got[c.sums_offset - 1 + (c.sums_offset == 0)], c.sums_offset ? 0x5A : got[0]);
  EXPECT_EQ(got[c.sums_offset + want.size()], 0x5A) << "a word past the last chunk's";
  const size_t bound_bytes = std::max<size_t>(kCriticalSliceBytes, c.bpc);
  for (const auto &[serial, use] : g_uses) {
    EXPECT_LE(use.data_bytes, bound_bytes) << "hold " << serial;
    EXPECT_LE(4 * use.words, kCriticalSliceBytes) << "hold " << serial;
  }
  EXPECT_EQ(g_uses.empty(), c.data_direct && c.sums_direct);
  EXPECT_EQ(env.count("ReleasePrimitiveArrayCritical byte[] data JNI_ABORT"),
            env.count("GetPrimitiveArrayCritical byte[] data"));
  EXPECT_EQ(env.count("ReleasePrimitiveArrayCritical byte[] sums 0"),
            env.count("GetPrimitiveArrayCritical byte[] sums"));
  EXPECT_TRUE(env.critical_holds().empty());

  env.clear_calls();
  call(env, kCrc32c, c.bpc, data, length, sums, 0, true);
  EXPECT_FALSE(env.pending());
  EXPECT_EQ(env.count("ReleasePrimitiveArrayCritical byte[] sums JNI_ABORT"),
            env.count("GetPrimitiveArrayCritical byte[] sums"));
  EXPECT_EQ(contents(env, sums), got) << "verify wrote words";

  expect_last_chunk_reported(env, c, bytes, want, sums);
  EXPECT_EQ(env.live_local_refs(), refs + 1) << "only the damaged data's reference is new";
}

INSTANTIATE_TEST_SUITE_P(Shapes, SliceTest, ::testing::ValuesIn(kSliceCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The regions of one array that calls() shows for a function, in order.
struct Region {
  size_t start, length;
};
std::vector<Region> regions(const FakeJniEnv &env, const std::string &function,
                            const std::string &label) {
  const std::string prefix = function + " byte[] " + label + " ";
  std::vector<Region> out;
  for (const std::string &call : env.calls()) {
    if (call.rfind(prefix, 0) != 0) continue;
    Region r{};
    EXPECT_EQ(std::sscanf(call.c_str() + prefix.size(), "%zu %zu", &r.start, &r.length), 2);
    out.push_back(r);
  }
  return out;
}

// Regions that run back to back from `start` over `length` bytes, none
// longer than a piece: each byte copied once, and never much at a time.
void expect_one_bounded_pass(const std::vector<Region> &rs, size_t start, size_t length,
                             const std::string &what) {
  size_t at = start;
  for (const Region &r : rs) {
    EXPECT_EQ(r.start, at) << what << ": out of order or overlapping";
    EXPECT_LE(r.length, kRegionPieceBytes) << what;
    at = r.start + r.length;
  }
  EXPECT_EQ(at, start + length) << what << ": not the whole range";
}

class RegionTest : public ::testing::TestWithParam<SliceCase> {};

// A host whose holds copy the whole array: a call of more than one slice
// probes a small array of its own, then holds none of the caller's; each
// array is read in one pass of bounded regions and the words written back
// in one, with the same words and the same mismatch as with holds (chunks
// longer than a piece continued across pieces).
TEST_P(RegionTest, CopiesAreBoundedAndAddUpToOneOfEachArray) {
  const SliceCase &c = GetParam();
  if (c.data_direct && c.sums_direct) GTEST_SKIP() << "no array, nothing held or copied";
  FakeJniEnv env;
  const size_t words = (c.length + c.bpc - 1) / c.bpc;
  std::vector<uint8_t> bytes = random_bytes(c.data_offset + c.length, 7);
  Side data = make_side(env, c.data_direct, bytes, c.data_offset, "data");
  Side sums = make_side(env, c.sums_direct, std::vector<uint8_t>(c.sums_offset + 4 * words + 3, 0x5A),
                        c.sums_offset, "sums");
  const jint length = static_cast<jint>(c.length);
  const std::vector<std::string> probe = {
      "NewByteArray 1", "GetPrimitiveArrayCritical byte[] new",
      "GetPrimitiveArrayCritical byte[] new", "ReleasePrimitiveArrayCritical byte[] new JNI_ABORT",
      "ReleasePrimitiveArrayCritical byte[] new JNI_ABORT", "DeleteLocalRef byte[] new"};

  for (bool verify : {false, true}) {
    env.clear_calls();
    call(env, kCrc32c, c.bpc, data, length, sums, 0, verify);
    const std::string mode = verify ? "verify" : "compute";
    ASSERT_FALSE(env.pending()) << mode;
    // After the addresses of direct buffers, if any.
    const auto first = std::find_if(env.calls().begin(), env.calls().end(), [](const auto &call) {
      return call.rfind("GetDirectBufferAddress", 0) != 0;
    });
    EXPECT_TRUE(std::equal(probe.begin(), probe.end(), first)) << mode;
    EXPECT_EQ(env.count("GetPrimitiveArrayCritical"), 2) << mode << ": a caller's array held";
    EXPECT_EQ(env.count("NewByteArray"), 1) << mode;
    if (!c.data_direct)
      expect_one_bounded_pass(regions(env, "GetByteArrayRegion", "data"), c.data_offset,
                              c.length, mode + " data");
    if (!c.sums_direct) {
      expect_one_bounded_pass(regions(env, verify ? "GetByteArrayRegion" : "SetByteArrayRegion",
                                      "sums"),
                              c.sums_offset, 4 * words, mode + " sums");
      EXPECT_EQ(env.count(verify ? "SetByteArrayRegion" : "GetByteArrayRegion byte[] sums"), 0)
          << mode;
    }
  }
  std::vector<uint8_t> want = reference_sums(bytes, c.data_offset, c.length, c.bpc);
  std::vector<uint8_t> got = contents(env, sums);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + c.sums_offset));
  EXPECT_EQ(got[c.sums_offset + want.size()], 0x5A) << "a word past the last chunk's";
  if (c.sums_offset > 0) {
    EXPECT_EQ(got[c.sums_offset - 1], 0x5A) << "a byte before the words";
  }
  expect_last_chunk_reported(env, c, bytes, want, sums);
  EXPECT_EQ(env.live_local_refs(), 3) << "the probe's array left behind";
}

INSTANTIATE_TEST_SUITE_P(Shapes, RegionTest, ::testing::ValuesIn(kSliceCases),
                         [](const auto &info) { return std::string(info.param.name); });

// One slice is one hold on any host: nothing to probe, nothing copied by
// region.
TEST(ChunkedChecksumsNativeTest, OneSliceIsOneHoldOnACopyingHost) {
  FakeJniEnv env;
  std::vector<uint8_t> bytes = random_bytes(kCriticalSliceBytes, 5);
  Side data = make_side(env, false, bytes, 0, "data");
  Side sums = make_side(env, false, std::vector<uint8_t>(4 * (bytes.size() / 512)), 0, "sums");
  call(env, kCrc32c, 512, data, static_cast<jint>(bytes.size()), sums, 0, false);
  EXPECT_FALSE(env.pending());
  EXPECT_EQ(env.calls(), (std::vector<std::string>{
                             "GetPrimitiveArrayCritical byte[] data",
                             "GetPrimitiveArrayCritical byte[] sums",
                             "ReleasePrimitiveArrayCritical byte[] sums 0",
                             "ReleasePrimitiveArrayCritical byte[] data JNI_ABORT"}));
  EXPECT_EQ(contents(env, sums), reference_sums(bytes, 0, bytes.size(), 512));
}

// A small call holds only the data: its words (up to 1024) are copied, read
// before the hold in verify, written after it in compute (the last JNI call,
// so nothing checks for an exception after it); a damaged chunk is still
// reported.
TEST(ChunkedChecksumsNativeTest, FewWordsAreCopiedNotHeld) {
  FakeJniEnv env;
  std::vector<uint8_t> bytes = random_bytes(4000, 9);
  const std::vector<uint8_t> want = reference_sums(bytes, 0, bytes.size(), 512);
  Side data = make_side(env, false, bytes, 0, "data");
  Side sums = make_side(env, false, std::vector<uint8_t>(want.size() + 1, 0x5A), 1, "sums");
  call(env, kCrc32c, 512, data, static_cast<jint>(bytes.size()), sums, 1, false);
  EXPECT_FALSE(env.pending());
  EXPECT_EQ(env.calls(), (std::vector<std::string>{
                             "GetPrimitiveArrayCritical byte[] data",
                             "ReleasePrimitiveArrayCritical byte[] data JNI_ABORT",
                             "SetByteArrayRegion byte[] sums 1 32"}));
  std::vector<uint8_t> got = contents(env, sums);
  EXPECT_EQ(got[0], 0x5A);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + 1));
  env.clear_calls();
  call(env, kCrc32c, 512, data, static_cast<jint>(bytes.size()), sums, 1, true);
  EXPECT_FALSE(env.pending());
  EXPECT_EQ(env.calls(), (std::vector<std::string>{
                             "GetByteArrayRegion byte[] sums 1 32", "ExceptionCheck",
                             "GetPrimitiveArrayCritical byte[] data",
                             "ReleasePrimitiveArrayCritical byte[] data JNI_ABORT"}));
}

// --- Failures of the host, on arrays of three slices: the holds of a host
// that pins, the probe, the region copies of one that copies.

struct Arrays {
  FakeJniEnv env;
  std::vector<uint8_t> bytes = random_bytes(5 * kCriticalSliceBytes / 2, 3);
  Side data = make_side(env, false, bytes, 0, "data");
  Side sums = make_side(env, false, std::vector<uint8_t>(4 * (bytes.size() / 512), 0x5A), 0, "sums");
  jint length = static_cast<jint>(bytes.size());
};

struct HoldFailure {
  const char *name;
  const char *array;  // whose GetPrimitiveArrayCritical fails
  int nth;
  Outcome outcome;
};

const HoldFailure kHoldFailures[] = {
    {"first_data_hold_with_exception", "data", 1, Outcome::kNullWithException},
    {"second_data_hold_without_exception", "data", 2, Outcome::kNullWithoutException},
    {"first_sums_hold_with_exception", "sums", 1, Outcome::kNullWithException},
    // (The third slice's 1024 words are copied, not held.)
    {"second_sums_hold_without_exception", "sums", 2, Outcome::kNullWithoutException},
};

void PrintTo(const HoldFailure &c, std::ostream *os) { *os << c.name; }

class HoldFailureTest : public ::testing::TestWithParam<HoldFailure> {};

// A hold that fails: the other array's hold of the same slice is released,
// an OutOfMemoryError is pending (the host's or ours), and nothing is
// called after it but what raises it.
TEST_P(HoldFailureTest, ReleasesTheOtherHoldAndRaises) {
  const HoldFailure &f = GetParam();
  Arrays a;
  a.env.pin_nested_holds(true);
  // GetPrimitiveArrayCritical is counted per function: the probe's two
  // first, then data and sums take turns, data first.
  const int nth = 2 + 2 * f.nth - (std::string(f.array) == "data" ? 1 : 0);
  a.env.fail("GetPrimitiveArrayCritical", nth, f.outcome);
  call(a.env, kCrc32c, 512, a.data, a.length, a.sums, 0, false);
  ASSERT_TRUE(a.env.pending());
  EXPECT_EQ(a.env.pending()->class_name, "java/lang/OutOfMemoryError");
  EXPECT_TRUE(a.env.critical_holds().empty());
  EXPECT_EQ(a.env.count("GetPrimitiveArrayCritical"), nth);
  EXPECT_EQ(a.env.count("ReleasePrimitiveArrayCritical"), nth - 1);
  EXPECT_EQ(a.env.live_local_refs(), 2);
}

// The probe fails at any step: an exception stands (the host's or an
// OutOfMemoryError), what it held is released, its array deleted, and
// nothing of the caller's is held or copied.
TEST(ChunkedChecksumsNativeTest, AProbeThatFailsRaisesAndLeavesNothing) {
  struct ProbeFailure {
    const char *function;
    int nth;
    Outcome outcome;
  };
  for (ProbeFailure f : {ProbeFailure{"NewByteArray", 1, Outcome::kNullWithException},
                         ProbeFailure{"NewByteArray", 1, Outcome::kNullWithoutException},
                         ProbeFailure{"GetPrimitiveArrayCritical", 1, Outcome::kNullWithException},
                         ProbeFailure{"GetPrimitiveArrayCritical", 2,
                                      Outcome::kNullWithoutException}}) {
    const std::string what = std::string(f.function) + " " + std::to_string(f.nth);
    Arrays a;
    a.env.fail(f.function, f.nth, f.outcome);
    call(a.env, kCrc32c, 512, a.data, a.length, a.sums, 0, false);
    ASSERT_TRUE(a.env.pending()) << what;
    EXPECT_EQ(a.env.pending()->class_name, "java/lang/OutOfMemoryError") << what;
    EXPECT_TRUE(a.env.critical_holds().empty()) << what;
    EXPECT_EQ(a.env.count("GetPrimitiveArrayCritical byte[] data") +
                  a.env.count("GetPrimitiveArrayCritical byte[] sums") +
                  a.env.count("GetByteArrayRegion") + a.env.count("SetByteArrayRegion"),
              0)
        << what;
    EXPECT_EQ(a.env.live_local_refs(), 2) << what;
    EXPECT_EQ(g_calls, 0) << what;
  }
}

// A region copy that raises on a copying host: its exception stands, the
// call ends at its check, and nothing is left held or allocated (valgrind's
// run sees the buffer).
TEST(ChunkedChecksumsNativeTest, ARegionCopyThatRaisesEndsTheCall) {
  struct RegionFailure {
    const char *function;
    int nth;
    bool verify;
  };
  for (RegionFailure f : {RegionFailure{"GetByteArrayRegion", 1, false},
                          RegionFailure{"GetByteArrayRegion", 3, false},
                          RegionFailure{"GetByteArrayRegion", 1, true},
                          RegionFailure{"GetByteArrayRegion", 4, true},
                          RegionFailure{"SetByteArrayRegion", 2, false}}) {
    const std::string what = std::string(f.function) + " " + std::to_string(f.nth) +
                             (f.verify ? " verify" : " compute");
    Arrays a;
    if (f.verify) call(a.env, kCrc32c, 512, a.data, a.length, a.sums, 0, false);
    ASSERT_FALSE(a.env.pending());
    a.env.clear_calls();
    a.env.fail(f.function, f.nth, Outcome::kNullWithException);
    call(a.env, kCrc32c, 512, a.data, a.length, a.sums, 0, f.verify);
    ASSERT_TRUE(a.env.pending()) << what;
    EXPECT_EQ(a.env.pending()->class_name, "java/lang/ArrayIndexOutOfBoundsException") << what;
    EXPECT_EQ(a.env.count(f.function), f.nth) << what;
    EXPECT_EQ(a.env.calls().back(), "ExceptionCheck") << what;
    EXPECT_TRUE(a.env.critical_holds().empty()) << what;
    EXPECT_EQ(a.env.live_local_refs(), 2) << what;
  }
}

INSTANTIATE_TEST_SUITE_P(EachHold, HoldFailureTest, ::testing::ValuesIn(kHoldFailures),
                         [](const auto &info) { return std::string(info.param.name); });

struct RaiseFailure {
  const char *name;
  const char *function;
  Outcome outcome;
  const char *pending;
};

const RaiseFailure kRaiseFailures[] = {
    {"find_class", "FindClass", Outcome::kNullWithException, "java/lang/NoClassDefFoundError"},
    {"constructor_lookup", "GetMethodID", Outcome::kNullWithException,
     "java/lang/NoSuchMethodError"},
    {"construction", "NewObject", Outcome::kNullWithException, "java/lang/OutOfMemoryError"},
    {"construction_silently", "NewObject", Outcome::kNullWithoutException,
     "java/lang/OutOfMemoryError"},
    {"throw_silently", "Throw", Outcome::kNullWithoutException, "java/lang/OutOfMemoryError"},
};

void PrintTo(const RaiseFailure &c, std::ostream *os) { *os << c.name; }

class RaiseFailureTest : public ::testing::TestWithParam<RaiseFailure> {};

// Raising the mismatch fails: some exception is pending all the same (a
// failed verify never looks like success), and no reference is left.
TEST_P(RaiseFailureTest, AMismatchNeverPassesAsSuccess) {
  const RaiseFailure &f = GetParam();
  Arrays a;
  call(a.env, kCrc32c, 512, a.data, a.length, a.sums, 0, true);  // all words 0x5A...
  ASSERT_TRUE(a.env.pending());
  a.env.clear_pending();
  a.env.fail(f.function, 1, f.outcome);
  call(a.env, kCrc32c, 512, a.data, a.length, a.sums, 0, true);
  ASSERT_TRUE(a.env.pending());
  EXPECT_EQ(a.env.pending()->class_name, f.pending);
  EXPECT_EQ(a.env.live_local_refs(), 2);
  EXPECT_TRUE(a.env.critical_holds().empty());
}

INSTANTIATE_TEST_SUITE_P(EachStep, RaiseFailureTest, ::testing::ValuesIn(kRaiseFailures),
                         [](const auto &info) { return std::string(info.param.name); });

// A direct buffer whose address JNI cannot give: IllegalArgumentException
// naming the argument, before any array is held.
TEST(ChunkedChecksumsNativeTest, DirectBufferWithoutAnAddress) {
  for (const char *which : {"data", "sums"}) {
    FakeJniEnv env;
    Side good = make_side(env, false, std::vector<uint8_t>(64), 0, "array");
    Side none;
    none.buffer = env.new_direct_buffer(nullptr, "none");
    bool data_side = std::string(which) == "data";
    call(env, kCrc32c, 16, data_side ? none : good, 64, data_side ? good : none, 0, false);
    ASSERT_TRUE(env.pending());
    EXPECT_EQ(env.pending()->class_name, "java/lang/IllegalArgumentException");
    EXPECT_EQ(env.pending()->message.value_or("").rfind(which, 0), 0u) << *env.pending()->message;
    EXPECT_EQ(env.count("GetPrimitiveArrayCritical"), 0);
  }
}

// What only a caller other than the Java class can pass: refused by
// bulk_crc, raised as IllegalArgumentException, nothing written.
TEST(ChunkedChecksumsNativeTest, TypeOrChunkSizeThatBulkCrcRefuses) {
  struct Bad {
    jint type, bpc;
  };
  for (Bad bad : {Bad{2, 512}, Bad{-1, 512}, Bad{0, 0}, Bad{1, -4}}) {
    for (bool verify : {false, true}) {
      Arrays a;
      call(a.env, bad.type, bad.bpc, a.data, a.length, a.sums, 0, verify);
      ASSERT_TRUE(a.env.pending());
      EXPECT_EQ(a.env.pending()->class_name, "java/lang/IllegalArgumentException");
      EXPECT_EQ(a.env.byte_array(a.sums.array), a.sums.memory);
      EXPECT_TRUE(a.env.critical_holds().empty());
    }
  }
}

TEST(ChunkedChecksumsNativeTest, NoDataMakesNoCall) {
  Arrays a;
  call(a.env, kCrc32c, 512, a.data, 0, a.sums, 0, false);
  EXPECT_TRUE(a.env.calls().empty());
  EXPECT_EQ(g_calls, 0);
}

// --- compose over an array's words: pieces copied out, none held.

struct PieceCase {
  const char *name;
  int bpc;
  size_t words;
  jint offset;
  uint64_t partial;  // bytes short of a whole last chunk
};

const PieceCase kPieceCases[] = {
    {"one_word", 7, 1, 1, 3},
    {"one_piece_exactly", 512, kComposePieceBytes / 4, 0, 0},
    {"a_word_past_a_piece", 1, kComposePieceBytes / 4 + 1, 3, 0},
    {"three_pieces_partial_chunk", 4096, 5 * kComposePieceBytes / 8, 2, 4000},
    {"largest_chunks", 0x7fffffff, kComposePieceBytes / 4 + 5, 1, 12345},
};

void PrintTo(const PieceCase &c, std::ostream *os) { *os << c.name; }

class ComposePieceTest : public ::testing::TestWithParam<PieceCase> {};

// The CRC of the words composed in one call of zelkor_crc_compose, from
// copies of at most one piece each that run in order from the offset to the
// last word and no further, with no critical hold and nothing left behind.
TEST_P(ComposePieceTest, PiecesAreBoundedInOrderAndHoldNothing) {
  const PieceCase &c = GetParam();
  FakeJniEnv env;
  std::vector<uint8_t> bytes = random_bytes(c.offset + 4 * c.words + 8, 11);
  jbyteArray array = env.new_byte_array(bytes, "sums");
  const uint64_t length = c.words * static_cast<uint64_t>(c.bpc) - c.partial;
  for (jint type : {0, 1}) {
    uint32_t want = 0;
    ASSERT_EQ(zelkor_crc_compose(type + 1, reinterpret_cast<const uint32_t *>(&bytes[c.offset]),
                                 length, c.bpc, &want),
              0);
    env.clear_calls();
    jlong got = Java_org_tarvik_zelkor_util_ChunkedChecksums_composeArray(
        &env, nullptr, type, c.bpc, static_cast<jlong>(length), array, c.offset);
    EXPECT_FALSE(env.pending());
    EXPECT_EQ(got, jlong{want}) << "type " << type;
    std::vector<std::string> expected;
    for (size_t at = 0; at < 4 * c.words; at += kComposePieceBytes) {
      const size_t n = std::min(kComposePieceBytes, 4 * c.words - at);
      expected.push_back("GetByteArrayRegion byte[] sums " + std::to_string(c.offset + at) + " " +
                         std::to_string(n));
      expected.push_back("ExceptionCheck");
    }
    EXPECT_EQ(env.calls(), expected);
  }
  EXPECT_EQ(env.live_local_refs(), 1);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ComposePieceTest, ::testing::ValuesIn(kPieceCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A copy that raises: its exception stands, no JNI call follows it, and 0
// comes back.
TEST(ChunkedChecksumsNativeTest, ComposeStopsAtACopyThatRaises) {
  FakeJniEnv env;
  jbyteArray array = env.new_byte_array(std::vector<uint8_t>(3 * kComposePieceBytes), "sums");
  env.fail("GetByteArrayRegion", 2, Outcome::kNullWithException);
  EXPECT_EQ(Java_org_tarvik_zelkor_util_ChunkedChecksums_composeArray(
                &env, nullptr, kCrc32c, 1, 3 * kComposePieceBytes / 4, array, 0),
            0);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/ArrayIndexOutOfBoundsException");
  EXPECT_EQ(env.count("GetByteArrayRegion"), 2);
  EXPECT_EQ(env.calls().back(), "ExceptionCheck");
}

// What only a caller other than the Java class can pass: a failure code of
// the C functions comes back as IllegalArgumentException, never as a CRC,
// and before any word is read.
TEST(ChunkedChecksumsNativeTest, RefusedArgumentsRaiseInsteadOfGivingACrc) {
  struct Bad {
    jint type, bpc;
    jlong length;
  };
  for (Bad bad : {Bad{2, 512, 512}, Bad{-1, 512, 0}, Bad{0, 0, 512}, Bad{1, -4, 0},
                  Bad{0, 512, -1}}) {
    const std::string what = "type " + std::to_string(bad.type) + " bpc " +
                             std::to_string(bad.bpc) + " length " + std::to_string(bad.length);
    std::vector<uint8_t> memory(8, 0x5A);
    FakeJniEnv env;
    jbyteArray array = env.new_byte_array(memory, "sums");
    jobject buffer = env.new_direct_buffer(memory.data(), "sums");
    auto expect_refused = [&](jlong got, const char *which) {
      EXPECT_EQ(got, 0) << which << " " << what;
      ASSERT_TRUE(env.pending()) << which << " " << what;
      EXPECT_EQ(env.pending()->class_name, "java/lang/IllegalArgumentException");
      EXPECT_EQ(env.count("GetByteArrayRegion") + env.count("GetDirectBufferAddress"), 0);
      env.clear_pending();
    };
    expect_refused(Java_org_tarvik_zelkor_util_ChunkedChecksums_composeArray(
                       &env, nullptr, bad.type, bad.bpc, bad.length, array, 0),
                   "array");
    expect_refused(Java_org_tarvik_zelkor_util_ChunkedChecksums_composeBuffer(
                       &env, nullptr, bad.type, bad.bpc, bad.length, buffer, 0),
                   "buffer");
    if (bad.type != 0 && bad.type != 1) {
      expect_refused(Java_org_tarvik_zelkor_util_ChunkedChecksums_combineCrcs(
                         &env, nullptr, bad.type, 1, 2, 3),
                     "combine");
    }
  }
}

// A direct buffer whose address JNI cannot give: IllegalArgumentException
// naming the words; none is needed for no data.
TEST(ChunkedChecksumsNativeTest, ComposeOverADirectBufferWithoutAnAddress) {
  FakeJniEnv env;
  jobject none = env.new_direct_buffer(nullptr, "none");
  EXPECT_EQ(Java_org_tarvik_zelkor_util_ChunkedChecksums_composeBuffer(&env, nullptr, kCrc32c,
                                                                        512, 0, none, 0),
            0);
  EXPECT_TRUE(env.calls().empty());
  EXPECT_EQ(Java_org_tarvik_zelkor_util_ChunkedChecksums_composeBuffer(&env, nullptr, kCrc32c,
                                                                        512, 1, none, 0),
            0);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/IllegalArgumentException");
  EXPECT_EQ(env.pending()->message.value_or("").rfind("sums", 0), 0u) << *env.pending()->message;
}

}  // namespace
