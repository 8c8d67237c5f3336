// NativeCodeLoader.cc -- what the loaded library can tell the Java host about
// itself: the file it was loaded from, the revision of its native interface
// and the optional facilities of the build.
//
// No state and nothing shared: any number of threads may call in at once.
#include <dlfcn.h>
#include <jni.h>

extern "C" {

JNIEXPORT jstring JNICALL
Java_org_tarvik_zelkor_util_NativeCodeLoader_getLibraryName(JNIEnv *env, jclass /*clazz*/) {
  // Asking about an address of our own code names the object that holds it,
  // under the path the dynamic loader recorded when it was loaded.
  Dl_info info;
  const char *name = "Unavailable";
  if (dladdr(reinterpret_cast<void *>(&Java_org_tarvik_zelkor_util_NativeCodeLoader_getLibraryName),
             &info) != 0) {
    name = info.dli_fname;
  }
  // A failed NewStringUTF leaves the host's exception pending; its null goes
  // back to Java as it is.
  return env->NewStringUTF(name);
}

// What the jar's NativeCodeLoader.INTERFACE_REVISION names: raised with it
// whenever the Java classes start calling a native method that earlier
// libraries lack, so that a jar meeting an older library on
// java.library.path says so at load instead of failing at the first call.
JNIEXPORT jint JNICALL
Java_org_tarvik_zelkor_util_NativeCodeLoader_interfaceRevision(JNIEnv * /*env*/,
                                                               jclass /*clazz*/) {
  return 2;
}

// The capability answers are constants of the build: nothing is probed.
JNIEXPORT jboolean JNICALL
Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsSnappy(JNIEnv * /*env*/,
                                                                  jclass /*clazz*/) {
  return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL
Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsZstd(JNIEnv * /*env*/,
                                                                jclass /*clazz*/) {
  return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL
Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsOpenssl(JNIEnv * /*env*/,
                                                                   jclass /*clazz*/) {
  return JNI_TRUE;
}

}  // extern "C"
