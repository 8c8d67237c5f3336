// jni_out_of_memory.h -- the one exception the JNI helper modules raise of
// their own when the host gives them null without saying why.
#ifndef ZELKOR_IO_NATIVEIO_JNI_OUT_OF_MEMORY_H
#define ZELKOR_IO_NATIVEIO_JNI_OUT_OF_MEMORY_H

#include <jni.h>

namespace zelkor {

// Leaves a java.lang.OutOfMemoryError pending, unless the host already left
// an exception of its own (JNI forbids FindClass and ThrowNew then).
inline void raise_out_of_memory(JNIEnv *env, const char *message) {
  if (env->ExceptionCheck()) return;
  jclass oom = env->FindClass("java/lang/OutOfMemoryError");
  if (oom == nullptr) return;  // FindClass left its own exception
  env->ThrowNew(oom, message);
  env->DeleteLocalRef(oom);
}

}  // namespace zelkor

#endif  // ZELKOR_IO_NATIVEIO_JNI_OUT_OF_MEMORY_H
