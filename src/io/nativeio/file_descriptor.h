/* file_descriptor.h -- java.io.FileDescriptor objects to and from descriptor
 * numbers, for native code that exchanges open descriptors with Java code.
 *
 * Calling order: fd_init once, with no exception pending after it, before
 * any fd_get or fd_create; fd_deinit when the cache is to go.  Init and
 * deinit must run while no other thread is inside this module; once
 * initialised, fd_get and fd_create may run on any number of threads. */
#ifndef ZELKOR_IO_NATIVEIO_FILE_DESCRIPTOR_H
#define ZELKOR_IO_NATIVEIO_FILE_DESCRIPTOR_H

#include <jni.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Resolves and caches java.io.FileDescriptor, its int field "fd" and its
 * no-argument constructor.  Does nothing once the class is cached, even
 * after a partial failure: call fd_deinit before retrying.  Failure shows
 * only as a pending exception; the caller must not use fd_get or fd_create
 * then.  When the host cannot make a global reference, or gives null without
 * an exception, the module stays uninitialised and leaves a
 * java.lang.OutOfMemoryError pending. */
void fd_init(JNIEnv *env);

/* Drops the cached class.  Valid in every state, and may be repeated. */
void fd_deinit(JNIEnv *env);

/* The descriptor number held by obj.  A null obj gives -1 with a
 * java.lang.NullPointerException pending; as -1 is also a valid field value,
 * only the pending exception tells that case apart. */
int fd_get(JNIEnv *env, jobject obj);

/* A new FileDescriptor (local reference) holding fd, which is not checked
 * against the operating system; null with an exception pending on failure. */
jobject fd_create(JNIEnv *env, int fd);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_IO_NATIVEIO_FILE_DESCRIPTOR_H */
