// file_descriptor.cc -- java.io.FileDescriptor objects to and from descriptor
// numbers, through the object's int field "fd".
//
// The class, the field and the constructor are resolved once by fd_init and
// cached; the global reference to the class keeps both identifiers valid.
#include "io/nativeio/file_descriptor.h"

#include "io/nativeio/file_descriptor_internal.h"
#include "jni_helpers.h"

namespace {

constexpr char FD_CLASS_NAME[] = "java/io/FileDescriptor";

// A non-null fd_class marks the module as initialised.  Written only by
// fd_init and fd_deinit.
constinit jclass fd_class = nullptr;
constinit jfieldID fd_descriptor = nullptr;
constinit jmethodID fd_constructor = nullptr;

using zelkor::raise_out_of_memory;

constexpr char NO_GLOBAL_REF[] = "fd_init: cannot create a JNI global reference";
constexpr char NULL_LOOKUP[] = "fd_init: lookup returned null without an exception";

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void fd_init(JNIEnv *env) {
  if (fd_class != nullptr) return;
  // Left null or half-made, the cache would let fd_get and fd_create hand
  // null identifiers to the host.
  const zelkor::partial_init init{env, fd_deinit, NULL_LOOKUP, NO_GLOBAL_REF};

  fd_class = init.global_class(FD_CLASS_NAME);
  if (fd_class == nullptr) return;

  // From here on a failure the host reports leaves fd_class set, so later
  // inits do nothing until fd_deinit.
  jfieldID field = env->GetFieldID(fd_class, "fd", "I");
  if (!init.found(field)) return;
  fd_descriptor = field;

  jmethodID constructor = env->GetMethodID(fd_class, "<init>", "()V");
  if (!init.found(constructor)) return;
  fd_constructor = constructor;
}

__attribute__((visibility("default"))) void fd_deinit(JNIEnv *env) {
  if (fd_class != nullptr) {
    env->DeleteGlobalRef(fd_class);
    fd_class = nullptr;
  }
  fd_descriptor = nullptr;
  fd_constructor = nullptr;
}

__attribute__((visibility("default"))) int fd_get(JNIEnv *env, jobject obj) {
  if (obj != nullptr) return env->GetIntField(obj, fd_descriptor);

  zelkor::throw_new(env, "java/lang/NullPointerException", "FileDescriptor object is null");
  return -1;
}

__attribute__((visibility("default"))) jobject fd_create(JNIEnv *env, int fd) {
  jobject obj = env->NewObject(fd_class, fd_constructor);
  if (env->ExceptionCheck()) return nullptr;
  if (obj == nullptr) {
    raise_out_of_memory(env, "fd_create: cannot create a FileDescriptor");
    return nullptr;
  }
  env->SetIntField(obj, fd_descriptor, fd);
  return obj;
}

}  // extern "C"

zelkor::fd_state zelkor::fd_current_state() { return {fd_class, fd_descriptor, fd_constructor}; }
