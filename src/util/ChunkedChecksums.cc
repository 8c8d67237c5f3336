// ChunkedChecksums.cc -- bulk_crc over Java buffers, and the whole-buffer CRCs
// of zelkor_crc.h, behind the native methods of
// org.tarvik.zelkor.util.ChunkedChecksums.
//
// The Java side checks every argument and range and hands over, for the
// data and for the checksum words each, either a direct buffer (read through
// its address, no copy) or a byte array (held with GetPrimitiveArrayCritical
// one slice at a time, or copied in pieces where the host's holds are
// copies themselves; see ChunkedChecksums_internal.h).  Composing reads
// words only, so an array's words are copied out in bounded pieces instead
// of being held.  No state: any number of threads may call in at once.
#include "ChunkedChecksums_internal.h"

#include <jni.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <arpa/inet.h>

#include "bulk_crc32.h"
#include "jni_helpers.h"
#include "zelkor_crc.h"

namespace {

constexpr char MISMATCH_CLASS[] = "org/tarvik/zelkor/util/ChecksumMismatchException";
constexpr char ILLEGAL_ARGUMENT[] = "java/lang/IllegalArgumentException";

// bulk_crc stores and reads whole 32-bit words, but a checksum area in a
// Java array or buffer starts wherever the caller says.  An unaligned one
// goes through this many words on the stack at a time.
constexpr size_t kBounceWords = 1024;

// Type.ordinal() as the C functions' type code; anything else is passed on
// as -1, which they reject.
int checksum_type_of(jint ordinal) {
  return ordinal == 0 ? CRC32C_POLYNOMIAL : ordinal == 1 ? CRC32_ZLIB_POLYNOMIAL : -1;
}

// bulk_crc over data[0, len) with the words at sums, aligned or not.
// Verify mode when error_info is non-null; its bad_data then points into
// data.
int checksum_range(int checksum_type, int bytes_per_checksum, const uint8_t *data, size_t len,
                   uint8_t *sums, crc32_error_t *error_info) {
  if (reinterpret_cast<uintptr_t>(sums) % alignof(uint32_t) == 0) {
    return bulk_crc(data, len, reinterpret_cast<uint32_t *>(sums), checksum_type,
                    bytes_per_checksum, error_info);
  }
  const size_t chunk = static_cast<size_t>(bytes_per_checksum);
  const size_t batch = kBounceWords * chunk;
  uint32_t words[kBounceWords];
  while (len > 0) {
    const size_t n = len < batch ? len : batch;
    const size_t count = (n + chunk - 1) / chunk;
    if (error_info != nullptr) memcpy(words, sums, 4 * count);
    const int rc = bulk_crc(data, n, words, checksum_type, bytes_per_checksum, error_info);
    if (rc != BULK_CRC_OK) return rc;
    if (error_info == nullptr) memcpy(sums, words, 4 * count);
    data += n;
    len -= n;
    sums += 4 * count;
  }
  return BULK_CRC_OK;
}

using zelkor::throw_new;

// The exception is made by its constructor, which formats the message, so
// its fields and text are the Java class's alone.  A host that fails without
// raising anything still must not let the mismatch pass as success.
void throw_mismatch(JNIEnv *env, jlong position, const crc32_error_t &error) {
  jclass mismatch = env->FindClass(MISMATCH_CLASS);
  if (mismatch != nullptr) {
    jmethodID init = env->GetMethodID(mismatch, "<init>", "(JII)V");
    if (init != nullptr) {
      // Both words are in stored form, big-endian in memory: read as
      // big-endian they are the CRC values Java's checksums give.
      auto e = static_cast<jthrowable>(
          env->NewObject(mismatch, init, position, static_cast<jint>(ntohl(error.expected_crc)),
                         static_cast<jint>(ntohl(error.got_crc))));
      if (e != nullptr) {
        env->Throw(e);
        env->DeleteLocalRef(e);
      }
    }
    env->DeleteLocalRef(mismatch);
  }
  zelkor::raise_out_of_memory(env, "checksum mismatch could not be raised");
}

// The address of a direct buffer, or null with an exception pending.  JNI
// gives null without an exception for a buffer it cannot reach.
uint8_t *direct_address(JNIEnv *env, jobject buffer, const char *which) {
  auto *address = static_cast<uint8_t *>(env->GetDirectBufferAddress(buffer));
  if (address == nullptr && !env->ExceptionCheck()) {
    char message[96];
    snprintf(message, sizeof message, "%s: JNI gives no address for this direct buffer", which);
    throw_new(env, ILLEGAL_ARGUMENT, message);
  }
  return address;
}

// For what only a caller other than the Java class can pass, since it
// checks every argument first: a failure code must not come back as a CRC.
void refuse(JNIEnv *env, jint type, jint bytes_per_checksum) {
  char message[96];
  snprintf(message, sizeof message, "checksum type %d with %d bytes per checksum refused",
           static_cast<int>(type), static_cast<int>(bytes_per_checksum));
  throw_new(env, ILLEGAL_ARGUMENT, message);
}

void refuse(JNIEnv *env, jint type) {
  char message[48];
  snprintf(message, sizeof message, "checksum type %d refused", static_cast<int>(type));
  throw_new(env, ILLEGAL_ARGUMENT, message);
}

// Whether zelkor_crc_compose takes this type and chunk size (and the length,
// which reaches it unsigned); raises IllegalArgumentException if not.
// Composing no data reads nothing, so it is the check itself.
bool compose_accepts(JNIEnv *env, jint type, jint bytes_per_checksum, jlong data_length) {
  uint32_t unused;
  if (data_length >= 0 &&
      zelkor_crc_compose(checksum_type_of(type), nullptr, 0, bytes_per_checksum, &unused) == 0)
    return true;
  refuse(env, type, bytes_per_checksum);
  return false;
}


// One call of checksum, as the Java side made it: for the data and for the
// words each, a direct buffer's address or an array, with the offset into
// it.  Type and chunk size have been checked.
struct Call {
  int checksum_type;
  jint type;
  jint bytes_per_checksum;
  size_t chunk;
  size_t total;
  const uint8_t *data_address;
  jbyteArray data_array;
  size_t data_offset;
  uint8_t *sums_address;
  jbyteArray sums_array;
  size_t sums_offset;
  jlong base_position;
  bool verify;
};

// What the steps below return besides bulk_crc's codes: an exception of the
// host's is pending, and nothing more may be called but what unwinds.
constexpr int kRaised = 1;

// The mismatch of the chunk at offset `at` of the data.  In unsigned
// arithmetic: a base near the top of the range wraps rather than being
// undefined (the Java class refuses such a base, other callers may not).
void raise_mismatch(JNIEnv *env, const Call &c, size_t at, const crc32_error_t &error) {
  throw_mismatch(env, static_cast<jlong>(static_cast<uint64_t>(c.base_position) + at), error);
}

// The chunks of n bytes, the last one partial or not: a shift for the chunk
// sizes of a power of two that callers use, where a division would cost a
// small call more than its holds.
size_t chunks_in(size_t n, size_t chunk) {
  if ((chunk & (chunk - 1)) == 0) return (n + chunk - 1) >> __builtin_ctzll(chunk);
  return (n + chunk - 1) / chunk;
}

// Holds that cover a slice of whole chunks each, as zelkor::kCriticalSliceBytes
// bounds them.
void checksum_held(JNIEnv *env, const Call &c, size_t slice_bytes) {
  crc32_error_t error = {};
  crc32_error_t *error_info = c.verify ? &error : nullptr;
  for (size_t done = 0; done < c.total; done += slice_bytes) {
    const size_t n = c.total - done < slice_bytes ? c.total - done : slice_bytes;
    const size_t word_at = c.sums_offset + (done == 0 ? 0 : 4 * (done / c.chunk));
    const size_t n_words = n <= c.chunk ? 1 : chunks_in(n, c.chunk);
    // A few words are copied instead of held: a copy of up to 4 KiB costs
    // less than a critical hold and its release, which dominate small calls.
    uint32_t bounce[kBounceWords];
    const bool copy_words = c.sums_array != nullptr && n_words <= kBounceWords;
    if (copy_words && c.verify) {
      env->GetByteArrayRegion(c.sums_array, static_cast<jsize>(word_at),
                              static_cast<jsize>(4 * n_words), reinterpret_cast<jbyte *>(bounce));
      if (env->ExceptionCheck()) return;
    }
    const uint8_t *data_base = c.data_address;
    uint8_t *sums_base = c.sums_address;
    if (c.data_array != nullptr) {
      data_base = static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(c.data_array, nullptr));
      if (data_base == nullptr) {
        zelkor::raise_out_of_memory(env, "data array could not be reached");
        return;
      }
    }
    const bool hold_words = c.sums_array != nullptr && !copy_words;
    if (hold_words) {
      sums_base = static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(c.sums_array, nullptr));
      if (sums_base == nullptr) {
        if (c.data_array != nullptr)
          env->ReleasePrimitiveArrayCritical(c.data_array, const_cast<uint8_t *>(data_base),
                                             JNI_ABORT);
        zelkor::raise_out_of_memory(env, "checksum array could not be reached");
        return;
      }
    }
    uint8_t *words = copy_words ? reinterpret_cast<uint8_t *>(bounce) : sums_base + word_at;
    const uint8_t *slice = data_base + c.data_offset + done;
    const int rc =
        checksum_range(c.checksum_type, c.bytes_per_checksum, slice, n, words, error_info);
    const size_t bad_offset = rc == BULK_CRC_MISMATCH ? done + (error.bad_data - slice) : 0;
    // The data is only read: nothing to copy back.  Computed words are.
    if (hold_words)
      env->ReleasePrimitiveArrayCritical(c.sums_array, sums_base, c.verify ? JNI_ABORT : 0);
    if (c.data_array != nullptr)
      env->ReleasePrimitiveArrayCritical(c.data_array, const_cast<uint8_t *>(data_base),
                                         JNI_ABORT);

    if (rc == BULK_CRC_MISMATCH) {
      raise_mismatch(env, c, bad_offset, error);
      return;
    }
    if (rc != BULK_CRC_OK) {
      refuse(env, c.type, c.bytes_per_checksum);
      return;
    }
    if (copy_words && !c.verify) {
      env->SetByteArrayRegion(c.sums_array, static_cast<jsize>(word_at),
                              static_cast<jsize>(4 * n_words), reinterpret_cast<jbyte *>(bounce));
      // After the last slice, an exception (none is expected: the range was
      // checked) goes back to the caller as it is.
      if (done + n < c.total && env->ExceptionCheck()) return;
    }
  }
}

bool read_region(JNIEnv *env, jbyteArray array, size_t at, size_t n, uint8_t *to) {
  // Offsets and lengths lie within a Java array: they fit a jsize.
  env->GetByteArrayRegion(array, static_cast<jsize>(at), static_cast<jsize>(n),
                          reinterpret_cast<jbyte *>(to));
  return !env->ExceptionCheck();
}

// One chunk of n bytes of the data array from offset done, longer than a
// piece of the copy buffer: copied a piece at a time, its CRC continued over
// them, so that no copy grows with the chunk.  Its word is stored at word
// (compute) or compared with it (verify), as bulk_crc would.
int checksum_long_chunk(JNIEnv *env, const Call &c, size_t done, size_t n, uint8_t *piece,
                        uint8_t *word, crc32_error_t *error) {
  uint32_t crc = 0;
  for (size_t at = 0; at < n; at += zelkor::kRegionPieceBytes) {
    const size_t m = n - at < zelkor::kRegionPieceBytes ? n - at : zelkor::kRegionPieceBytes;
    if (!read_region(env, c.data_array, c.data_offset + done + at, m, piece)) return kRaised;
    if (zelkor_crc_update(c.checksum_type, &crc, piece, m) != 0) return BULK_CRC_BAD_TYPE;
  }
  const uint8_t stored[4] = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                             static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
  if (!c.verify) {
    memcpy(word, stored, 4);
    return BULK_CRC_OK;
  }
  if (memcmp(word, stored, 4) == 0) return BULK_CRC_OK;
  // Both in stored form, as bulk_crc reports them.
  memcpy(&error->expected_crc, word, 4);
  memcpy(&error->got_crc, stored, 4);
  error->bad_data = nullptr;
  return BULK_CRC_MISMATCH;
}

// The whole call with no hold, for a host whose holds are copies: each
// array's bytes, and its words for verify, copied into one buffer a piece at
// a time (zelkor::kRegionPieceBytes), computed words copied back piece by
// piece; direct buffers read and written in place.  Pieces run in chunk
// order, so the first mismatch is the one reported, as with holds.
void checksum_by_region(JNIEnv *env, const Call &c) {
  constexpr size_t kPiece = zelkor::kRegionPieceBytes;
  size_t piece_chunks = kPiece / c.chunk < kPiece / 4 ? kPiece / c.chunk : kPiece / 4;
  if (piece_chunks == 0) piece_chunks = 1;  // a chunk longer than a piece
  const size_t step = piece_chunks * c.chunk;
  const size_t data_room = c.data_array != nullptr ? kPiece : 0;
  const size_t words_room = c.sums_array != nullptr ? kPiece : 0;
  auto *buffer = static_cast<uint8_t *>(malloc(data_room + words_room));
  if (buffer == nullptr) {
    zelkor::raise_out_of_memory(env, "no memory for copying the arrays");
    return;
  }
  uint8_t *data_piece = buffer;
  uint8_t *words_piece = buffer + data_room;
  crc32_error_t error = {};
  for (size_t done = 0; done < c.total; done += step) {
    const size_t n = c.total - done < step ? c.total - done : step;
    const size_t count = (n + c.chunk - 1) / c.chunk;
    const size_t word_at = c.sums_offset + 4 * (done / c.chunk);
    uint8_t *words = c.sums_address != nullptr ? c.sums_address + word_at : words_piece;
    if (c.sums_array != nullptr && c.verify &&
        !read_region(env, c.sums_array, word_at, 4 * count, words))
      break;
    int rc;
    size_t bad_offset = done;
    if (c.data_array != nullptr && n > kPiece) {
      rc = checksum_long_chunk(env, c, done, n, data_piece, words, &error);
    } else {
      const uint8_t *data = data_piece;
      if (c.data_address != nullptr)
        data = c.data_address + c.data_offset + done;
      else if (!read_region(env, c.data_array, c.data_offset + done, n, data_piece))
        break;
      rc = checksum_range(c.checksum_type, c.bytes_per_checksum, data, n, words,
                          c.verify ? &error : nullptr);
      if (rc == BULK_CRC_MISMATCH) bad_offset = done + (error.bad_data - data);
    }
    if (rc == kRaised) break;
    if (rc == BULK_CRC_MISMATCH) {
      raise_mismatch(env, c, bad_offset, error);
      break;
    }
    if (rc != BULK_CRC_OK) {
      refuse(env, c.type, c.bytes_per_checksum);
      break;
    }
    if (c.sums_array != nullptr && !c.verify) {
      env->SetByteArrayRegion(c.sums_array, static_cast<jsize>(word_at),
                              static_cast<jsize>(4 * count), reinterpret_cast<jbyte *>(words));
      if (env->ExceptionCheck()) break;
    }
  }
  free(buffer);
}
}  // namespace

namespace zelkor {

// Whether the host's critical holds hand out copies (declared in
// ChunkedChecksums_internal.h, for Crc64Nvme.cc too).  On a host that pins
// the array, a hold nested in another of the same array gives the same
// address; on one that copies, a second copy.  isCopy cannot tell:
// -Xcheck:jni copies the whole array at every hold and still reports
// JNI_FALSE.  A new array of one byte is probed, so that finding out costs
// no copy of the caller's arrays.  1 or 0; -1 with an exception pending.
int critical_holds_copy(JNIEnv *env) {
  jbyteArray probe = env->NewByteArray(1);
  if (probe == nullptr) {
    zelkor::raise_out_of_memory(env, "no array for probing critical holds");
    return -1;
  }
  void *outer = env->GetPrimitiveArrayCritical(probe, nullptr);
  void *inner = outer != nullptr ? env->GetPrimitiveArrayCritical(probe, nullptr) : nullptr;
  if (inner != nullptr) env->ReleasePrimitiveArrayCritical(probe, inner, JNI_ABORT);
  if (outer != nullptr) env->ReleasePrimitiveArrayCritical(probe, outer, JNI_ABORT);
  env->DeleteLocalRef(probe);
  if (inner == nullptr) {
    zelkor::raise_out_of_memory(env, "probe array could not be reached");
    return -1;
  }
  return inner != outer ? 1 : 0;
}

}  // namespace zelkor

extern "C" {

JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_combineCrcs(
    JNIEnv *env, jclass /*clazz*/, jint type, jlong crc_a, jlong crc_b, jlong length_b) {
  uint32_t crc = 0;
  if (zelkor_crc_combine(checksum_type_of(type), static_cast<uint32_t>(crc_a),
                         static_cast<uint32_t>(crc_b), static_cast<uint64_t>(length_b),
                         &crc) != 0) {
    refuse(env, type);
    return 0;
  }
  return static_cast<jlong>(crc);
}

// The words start offset bytes past the buffer's address.
JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_composeBuffer(
    JNIEnv *env, jclass /*clazz*/, jint type, jint bytes_per_checksum, jlong data_length,
    jobject sums_buffer, jint offset) {
  if (!compose_accepts(env, type, bytes_per_checksum, data_length)) return 0;
  if (data_length == 0) return 0;
  const uint8_t *address = direct_address(env, sums_buffer, "sums");
  if (address == nullptr) return 0;
  uint32_t crc = 0;
  // zelkor_crc_compose reads its words as bytes: any offset will do.
  if (zelkor_crc_compose(checksum_type_of(type),
                         reinterpret_cast<const uint32_t *>(address + offset),
                         static_cast<uint64_t>(data_length), bytes_per_checksum, &crc) != 0) {
    refuse(env, type, bytes_per_checksum);
    return 0;
  }
  return static_cast<jlong>(crc);
}

// The words start at sums_array[offset].  Each piece of words covers its
// chunks' bytes, the last piece whatever is left of the data (a partial
// chunk included), and is joined to the CRC of the pieces before it.
JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_composeArray(
    JNIEnv *env, jclass /*clazz*/, jint type, jint bytes_per_checksum, jlong data_length,
    jbyteArray sums_array, jint offset) {
  if (!compose_accepts(env, type, bytes_per_checksum, data_length)) return 0;
  constexpr size_t kPieceWords = zelkor::kComposePieceBytes / 4;
  uint32_t words[kPieceWords];
  const int checksum_type = checksum_type_of(type);
  const uint64_t chunk = static_cast<uint64_t>(bytes_per_checksum);
  uint64_t left = static_cast<uint64_t>(data_length);
  // The Java side checked that the words lie within the array.
  jint at = offset;
  uint32_t crc = 0;
  while (left > 0) {
    const uint64_t chunks_left = (left - 1) / chunk + 1;
    const size_t n = chunks_left < kPieceWords ? static_cast<size_t>(chunks_left) : kPieceWords;
    const uint64_t piece = n < chunks_left ? n * chunk : left;
    env->GetByteArrayRegion(sums_array, at, static_cast<jsize>(4 * n),
                            reinterpret_cast<jbyte *>(words));
    if (env->ExceptionCheck()) return 0;
    uint32_t piece_crc = 0;
    if (zelkor_crc_compose(checksum_type, words, piece, bytes_per_checksum, &piece_crc) != 0 ||
        zelkor_crc_combine(checksum_type, crc, piece_crc, piece, &crc) != 0) {
      refuse(env, type, bytes_per_checksum);
      return 0;
    }
    left -= piece;
    at += static_cast<jint>(4 * n);
  }
  return static_cast<jlong>(crc);
}

JNIEXPORT jstring JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_implementationOf(
    JNIEnv *env, jclass /*clazz*/, jint type) {
  const char *text = zelkor_crc_implementation(checksum_type_of(type));
  if (text == nullptr) {
    refuse(env, type);
    return nullptr;
  }
  return env->NewStringUTF(text);  // null with OutOfMemoryError pending on failure
}

JNIEXPORT void JNICALL Java_org_tarvik_zelkor_util_ChunkedChecksums_checksum(
    JNIEnv *env, jclass /*clazz*/, jint type, jint bytes_per_checksum, jobject data_buffer,
    jbyteArray data_array, jint data_offset, jint length, jobject sums_buffer,
    jbyteArray sums_array, jint sums_offset, jlong base_position, jboolean verify) {
  if (length <= 0) return;
  // Field by field: GCC clears a braced record with a string store first,
  // which costs a small call about ten nanoseconds.
  Call c;
  c.checksum_type = checksum_type_of(type);
  c.type = type;
  c.bytes_per_checksum = bytes_per_checksum;
  c.chunk = static_cast<size_t>(bytes_per_checksum);
  c.total = static_cast<size_t>(length);
  c.data_address = nullptr;
  c.data_array = data_array;
  c.data_offset = static_cast<size_t>(data_offset);
  c.sums_address = nullptr;
  c.sums_array = sums_array;
  c.sums_offset = static_cast<size_t>(sums_offset);
  c.base_position = base_position;
  c.verify = verify == JNI_TRUE;
  // Only a caller other than the Java class gets here with these; refused
  // before anything is held or copied.
  if (c.checksum_type < 0 || bytes_per_checksum < 1) {
    refuse(env, type, bytes_per_checksum);
    return;
  }
  // No JNI call is allowed while an array is held, so the addresses come
  // first.
  if (data_buffer != nullptr && (c.data_address = direct_address(env, data_buffer, "data")) == nullptr)
    return;
  if (sums_buffer != nullptr && (c.sums_address = direct_address(env, sums_buffer, "sums")) == nullptr)
    return;

  // Whole chunks per hold: within the bound for the data and for the words
  // alike, and at least one.  Two direct buffers hold nothing: one pass.
  // Up to a quarter of the bound, the data and its words fit in one slice:
  // no division for the calls where it would show.
  constexpr size_t kBound = zelkor::kCriticalSliceBytes;
  size_t slice_bytes = c.total;
  if ((data_array != nullptr || sums_array != nullptr) && c.total > kBound / 4) {
    size_t slice_chunks = kBound / c.chunk;
    if (slice_chunks > kBound / 4) slice_chunks = kBound / 4;
    if (slice_chunks == 0) slice_chunks = 1;
    if (slice_chunks <= c.total / c.chunk) slice_bytes = slice_chunks * c.chunk;
  }
  // One slice is one hold, whatever the host does with it; more are worth
  // holding only where a hold is not a copy of the whole array.
  if (slice_bytes < c.total) {
    const int copies = zelkor::critical_holds_copy(env);
    if (copies < 0) return;
    if (copies > 0) {
      checksum_by_region(env, c);
      return;
    }
  }
  checksum_held(env, c, slice_bytes);
}

}  // extern "C"
