// jni_helpers.h -- the exceptions the JNI modules raise of their own, and the
// checks of a module's init, with the undo of one that got only part of the
// way.
//
// Inline, so that each object library the tests link carries its own copy
// and needs nothing more; hidden, so that none of it joins the library's
// exports whatever the flags of the target compiling it.
#ifndef ZELKOR_JNI_HELPERS_H
#define ZELKOR_JNI_HELPERS_H

#include <jni.h>

#pragma GCC visibility push(hidden)

namespace zelkor {

inline constexpr char kOutOfMemoryError[] = "java/lang/OutOfMemoryError";

// Leaves class_name pending with message (null for none).  Only for a caller
// that knows no exception is pending: JNI forbids FindClass then.
inline void throw_new(JNIEnv *env, const char *class_name, const char *message) {
  jclass error_class = env->FindClass(class_name);
  if (error_class == nullptr) return;  // FindClass's own exception stands
  env->ThrowNew(error_class, message);
  env->DeleteLocalRef(error_class);
}

// For the host giving null without saying why: leaves a
// java.lang.OutOfMemoryError pending, unless the host already left an
// exception of its own.
inline void raise_out_of_memory(JNIEnv *env, const char *message) {
  if (env->ExceptionCheck()) return;
  throw_new(env, kOutOfMemoryError, message);
}

// A module's init: lookups from the host, each checked the same way.  A
// failure the host reports stops init with its exception pending, and what
// init cached so far stays until the module's deinit.  A lookup giving null
// without an exception (JNI allows it), or NewGlobalRef giving null (HotSpot
// then raises nothing), would leave a null or half-made cache that hands
// null identifiers to the host later: init is undone there, through the
// module's own deinit, and an OutOfMemoryError left pending.
struct partial_init {
  JNIEnv *env;
  void (*deinit)(JNIEnv *);
  const char *null_lookup;    // message for a null without an exception
  const char *no_global_ref;  // message for a null global reference

  void abandon(const char *message) const {
    deinit(env);
    raise_out_of_memory(env, message);
  }

  // Whether init may go on past a lookup that gave result.
  template <typename T>
  bool found(T result) const {
    if (env->ExceptionCheck()) return false;
    if (result == nullptr) {
      abandon(null_lookup);
      return false;
    }
    return true;
  }

  // A global reference to the class named, or null when init may not go on.
  // The local reference is left to the caller's frame.
  jclass global_class(const char *name) const {
    jclass local = env->FindClass(name);
    if (!found(local)) return nullptr;
    auto global = static_cast<jclass>(env->NewGlobalRef(local));
    if (global == nullptr) abandon(no_global_ref);
    return global;
  }
};

}  // namespace zelkor

#pragma GCC visibility pop

#endif  // ZELKOR_JNI_HELPERS_H
