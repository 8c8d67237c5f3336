/* errno_enum.h -- errno numbers as constants of the Java enum
 * org.tarvik.zelkor.io.nativeio.Errno, for the library's native I/O code.
 *
 * Calling order: errno_enum_init once, with no exception pending after it,
 * before any errno_to_enum; errno_enum_deinit when the cache is to go.  Init
 * and deinit must run while no other thread is inside this module; once
 * initialised, errno_to_enum may run on any number of threads at once. */
#ifndef ZELKOR_IO_NATIVEIO_ERRNO_ENUM_H
#define ZELKOR_IO_NATIVEIO_ERRNO_ENUM_H

#include <jni.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Resolves and caches java.lang.Enum, its static valueOf and the Errno class.
 * Does nothing once the Enum class is cached, even after a partial failure:
 * call errno_enum_deinit before retrying.  Failure shows only as a pending
 * exception; the caller must not map numbers then.  When the host cannot
 * make a global reference, or gives null without an exception, the module
 * stays uninitialised and leaves a java.lang.OutOfMemoryError pending. */
void errno_enum_init(JNIEnv *env);

/* Drops the cached classes.  Valid in every state, and may be repeated. */
void errno_enum_deinit(JNIEnv *env);

/* The Errno constant named after errnum ("UNKNOWN" for a number without a
 * name), as a local reference; null with an exception pending on failure,
 * for example when the enum class lacks that constant.  Each call leaves one
 * local string reference in the caller's frame. */
jobject errno_to_enum(JNIEnv *env, int errnum);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_IO_NATIVEIO_ERRNO_ENUM_H */
