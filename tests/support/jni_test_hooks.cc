// jni_test_hooks.cc -- a test-only JNI library that hands the errno and
// file-descriptor helpers of libzelkor.so to the JVM tests.  Each native
// method calls one helper and returns at once, so whatever exception the
// helper leaves pending is what the Java test sees.  It also lets JVM tests
// read the C heap's use, which the JVM's own figures do not show.
#include <jni.h>
#include <malloc.h>

#include "io/nativeio/errno_enum.h"
#include "io/nativeio/file_descriptor.h"

#define HOOK(name) Java_org_tarvik_zelkor_io_nativeio_NativeIoTestHooks_##name

extern "C" {

JNIEXPORT void JNICALL HOOK(errnoEnumInit)(JNIEnv *env, jclass) { errno_enum_init(env); }

JNIEXPORT void JNICALL HOOK(errnoEnumDeinit)(JNIEnv *env, jclass) { errno_enum_deinit(env); }

JNIEXPORT jobject JNICALL HOOK(errnoToEnum)(JNIEnv *env, jclass, jint errnum) {
  return errno_to_enum(env, errnum);
}

JNIEXPORT void JNICALL HOOK(fdInit)(JNIEnv *env, jclass) { fd_init(env); }

JNIEXPORT void JNICALL HOOK(fdDeinit)(JNIEnv *env, jclass) { fd_deinit(env); }

JNIEXPORT jint JNICALL HOOK(fdGet)(JNIEnv *env, jclass, jobject fd) { return fd_get(env, fd); }

JNIEXPORT jobject JNICALL HOOK(fdCreate)(JNIEnv *env, jclass, jint fd) {
  return fd_create(env, fd);
}

JNIEXPORT jthrowable JNICALL HOOK(fdGetNull)(JNIEnv *env, jclass, jintArray result) {
  jint got = fd_get(env, nullptr);
  jthrowable pending = env->ExceptionOccurred();
  env->ExceptionClear();
  env->SetIntArrayRegion(result, 0, 1, &got);
  return pending;
}

JNIEXPORT void JNICALL HOOK(callWithExceptionPending)(JNIEnv *env, jclass) {
  jclass cls = env->FindClass("java/lang/IllegalStateException");
  if (cls == nullptr) return;
  env->ThrowNew(cls, "thrown on purpose");
  jstring forbidden = env->NewStringUTF("made with an exception pending");
  if (forbidden != nullptr) env->DeleteLocalRef(forbidden);
}

// Bytes of the C heap in use, over all of malloc's arenas.
JNIEXPORT jlong JNICALL Java_org_tarvik_zelkor_security_NativeHeap_bytesInUse(JNIEnv *, jclass) {
  return static_cast<jlong>(mallinfo2().uordblks);
}

}  // extern "C"
