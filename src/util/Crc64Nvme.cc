// Crc64Nvme.cc -- zelkor_crc64_update and zelkor_crc64_combine behind the
// native methods of org.tarvik.zelkor.util.Crc64Nvme.
//
// The Java side checks every range and sends only updates long enough to be
// worth a native call.  A direct buffer is read through its address; an
// array is held with GetPrimitiveArrayCritical a slice at a time, or, where
// the host's holds are copies of the whole array (-Xcheck:jni), copied in
// pieces through the stack, so that an update costs one pass over its range
// either way.
#include <jni.h>
#include <stdint.h>
#include <stdio.h>

#include <atomic>

#include "ChunkedChecksums_internal.h"
#include "jni_helpers.h"
#include "zelkor_crc.h"

namespace {

constexpr char ILLEGAL_ARGUMENT[] = "java/lang/IllegalArgumentException";

// Pieces of an array copied where holds are copies: small enough for the
// stack of any Java thread, large enough that the JNI call per piece is lost
// in its CRC.
constexpr size_t kCopyPieceBytes = size_t{16} << 10;

// Only a caller other than the Java class gets here: a failure code must not
// come back as a CRC.
void refuse(JNIEnv *env, const char *what) {
  char message[96];
  snprintf(message, sizeof message, "CRC-64/NVME: %s refused", what);
  zelkor::throw_new(env, ILLEGAL_ARGUMENT, message);
}

// Whether holds are copies is a property of the JVM, fixed for its life
// (-Xcheck:jni is set at its start), so it is probed once: -1 until then.
// Threads that race here probe alike and store the same answer.
std::atomic<int> holds_copy{-1};

int critical_holds_copy(JNIEnv *env) {
  int copies = holds_copy.load(std::memory_order_relaxed);
  if (copies < 0) {
    copies = zelkor::critical_holds_copy(env);
    if (copies >= 0) holds_copy.store(copies, std::memory_order_relaxed);
  }
  return copies;
}

bool update_copied(JNIEnv *env, jbyteArray array, size_t offset, size_t len, uint64_t *crc) {
  uint8_t piece[kCopyPieceBytes];
  for (size_t done = 0; done < len; done += kCopyPieceBytes) {
    const size_t n = len - done < kCopyPieceBytes ? len - done : kCopyPieceBytes;
    // Offsets and lengths lie within a Java array: they fit a jsize.
    env->GetByteArrayRegion(array, static_cast<jsize>(offset + done), static_cast<jsize>(n),
                            reinterpret_cast<jbyte *>(piece));
    if (env->ExceptionCheck()) return false;
    if (zelkor_crc64_update(CRC64_NVME, crc, piece, n) != 0) {
      refuse(env, "update");
      return false;
    }
  }
  return true;
}

// Each hold covers one slice, as zelkor::kCriticalSliceBytes bounds them for
// the garbage collector's sake.
bool update_held(JNIEnv *env, jbyteArray array, size_t offset, size_t len, uint64_t *crc) {
  constexpr size_t kSlice = zelkor::kCriticalSliceBytes;
  for (size_t done = 0; done < len; done += kSlice) {
    const size_t n = len - done < kSlice ? len - done : kSlice;
    auto *base = static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(array, nullptr));
    if (base == nullptr) {
      zelkor::raise_out_of_memory(env, "array could not be reached");
      return false;
    }
    const int rc = zelkor_crc64_update(CRC64_NVME, crc, base + offset + done, n);
    // Only read: nothing to copy back.
    env->ReleasePrimitiveArrayCritical(array, base, JNI_ABORT);
    if (rc != 0) {
      refuse(env, "update");
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_Crc64Nvme_updateArray0(
    JNIEnv *env, jclass /*clazz*/, jlong crc, jbyteArray array, jint offset, jint len) {
  if (array == nullptr || offset < 0 || len < 0) {
    refuse(env, "array range");
    return 0;
  }
  uint64_t value = static_cast<uint64_t>(crc);
  if (len == 0) return crc;
  const int copies = critical_holds_copy(env);
  if (copies < 0) return 0;
  const bool ok = copies > 0 ? update_copied(env, array, static_cast<size_t>(offset),
                                             static_cast<size_t>(len), &value)
                             : update_held(env, array, static_cast<size_t>(offset),
                                           static_cast<size_t>(len), &value);
  return ok ? static_cast<jlong>(value) : 0;
}

// The bytes start position bytes past the buffer's address.
JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_Crc64Nvme_updateDirect0(
    JNIEnv *env, jclass /*clazz*/, jlong crc, jobject buffer, jint position, jint len) {
  if (buffer == nullptr || position < 0 || len < 0) {
    refuse(env, "buffer range");
    return 0;
  }
  if (len == 0) return crc;
  const auto *address = static_cast<const uint8_t *>(env->GetDirectBufferAddress(buffer));
  if (address == nullptr) {
    // JNI gives null without an exception for a buffer it cannot reach.
    if (!env->ExceptionCheck())
      zelkor::throw_new(env, ILLEGAL_ARGUMENT, "JNI gives no address for this direct buffer");
    return 0;
  }
  uint64_t value = static_cast<uint64_t>(crc);
  if (zelkor_crc64_update(CRC64_NVME, &value, address + position, static_cast<size_t>(len)) != 0) {
    refuse(env, "update");
    return 0;
  }
  return static_cast<jlong>(value);
}

JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_Crc64Nvme_combineCrcs(
    JNIEnv *env, jclass /*clazz*/, jlong crc_a, jlong crc_b, jlong length_b) {
  uint64_t crc = 0;
  if (length_b < 0 ||
      zelkor_crc64_combine(CRC64_NVME, static_cast<uint64_t>(crc_a), static_cast<uint64_t>(crc_b),
                           static_cast<uint64_t>(length_b), &crc) != 0) {
    refuse(env, "combine");
    return 0;
  }
  return static_cast<jlong>(crc);
}

// Null, with nothing pending, where the library names no routine for the
// type: the Java side says so in words of its own.
JNIEXPORT jstring JNICALL Java_org_tarvik_zelkor_util_Crc64Nvme_implementationName(
    JNIEnv *env, jclass /*clazz*/) {
  const char *text = zelkor_crc_implementation(CRC64_NVME);
  if (text == nullptr) return nullptr;
  return env->NewStringUTF(text);  // null with OutOfMemoryError pending on failure
}

}  // extern "C"
