// errno_enum.cc -- errno numbers to constants of the Java enum Errno.
//
// The number is mapped to its symbolic name here; the Java host supplies the
// constant of that name through Enum.valueOf, resolved once by
// errno_enum_init and cached with global references to both classes.
#include "io/nativeio/errno_enum.h"

#include <errno.h>

#include <array>

#include "io/nativeio/errno_enum_internal.h"
#include "jni_helpers.h"

namespace {

typedef struct errno_mapping {
  int errno_val;
  const char *errno_str;
} errno_mapping_t;

// Each row is built from the platform's own constant, so its number and its
// name cannot disagree.
#define ERRNO_MAPPING(e) {e, #e}

// Stored in this order (ELOOP before ENAMETOOLONG); the values are distinct,
// so the order never changes a result.  The null name ends the table.
constexpr std::array<errno_mapping_t, 39> ERRNO_MAPPINGS = {{
    ERRNO_MAPPING(EPERM),   ERRNO_MAPPING(ENOENT),       ERRNO_MAPPING(ESRCH),
    ERRNO_MAPPING(EINTR),   ERRNO_MAPPING(EIO),          ERRNO_MAPPING(ENXIO),
    ERRNO_MAPPING(E2BIG),   ERRNO_MAPPING(ENOEXEC),      ERRNO_MAPPING(EBADF),
    ERRNO_MAPPING(ECHILD),  ERRNO_MAPPING(EAGAIN),       ERRNO_MAPPING(ENOMEM),
    ERRNO_MAPPING(EACCES),  ERRNO_MAPPING(EFAULT),       ERRNO_MAPPING(ENOTBLK),
    ERRNO_MAPPING(EBUSY),   ERRNO_MAPPING(EEXIST),       ERRNO_MAPPING(EXDEV),
    ERRNO_MAPPING(ENODEV),  ERRNO_MAPPING(ENOTDIR),      ERRNO_MAPPING(EISDIR),
    ERRNO_MAPPING(EINVAL),  ERRNO_MAPPING(ENFILE),       ERRNO_MAPPING(EMFILE),
    ERRNO_MAPPING(ENOTTY),  ERRNO_MAPPING(ETXTBSY),      ERRNO_MAPPING(EFBIG),
    ERRNO_MAPPING(ENOSPC),  ERRNO_MAPPING(ESPIPE),       ERRNO_MAPPING(EROFS),
    ERRNO_MAPPING(EMLINK),  ERRNO_MAPPING(EPIPE),        ERRNO_MAPPING(EDOM),
    ERRNO_MAPPING(ERANGE),  ERRNO_MAPPING(ELOOP),        ERRNO_MAPPING(ENAMETOOLONG),
    ERRNO_MAPPING(ENOTEMPTY), ERRNO_MAPPING(EOVERFLOW),
    {-1, nullptr},
}};

#undef ERRNO_MAPPING

constexpr bool values_distinct() {
  for (size_t i = 0; ERRNO_MAPPINGS[i].errno_str != nullptr; ++i)
    for (size_t j = i + 1; ERRNO_MAPPINGS[j].errno_str != nullptr; ++j)
      if (ERRNO_MAPPINGS[i].errno_val == ERRNO_MAPPINGS[j].errno_val) return false;
  return true;
}
static_assert(values_distinct(), "two names share an errno value");

constexpr char ENUM_CLASS_NAME[] = "java/lang/Enum";
constexpr char VALUE_OF_SIGNATURE[] = "(Ljava/lang/Class;Ljava/lang/String;)Ljava/lang/Enum;";
constexpr char ERRNO_CLASS_NAME[] = "org/tarvik/zelkor/io/nativeio/Errno";

// A non-null enum_class marks the module as initialised.  Written only by
// errno_enum_init and errno_enum_deinit.
constinit jclass enum_class = nullptr;
constinit jmethodID enum_valueOf = nullptr;
constinit jclass errno_class = nullptr;

const char *errno_to_string(int errnum) {
  for (const errno_mapping_t *row = ERRNO_MAPPINGS.data(); row->errno_str != nullptr; ++row) {
    if (row->errno_val == errnum) return row->errno_str;
  }
  return "UNKNOWN";
}

using zelkor::raise_out_of_memory;

constexpr char NO_GLOBAL_REF[] = "errno_enum_init: cannot create a JNI global reference";
constexpr char NULL_LOOKUP[] = "errno_enum_init: lookup returned null without an exception";

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void errno_enum_init(JNIEnv *env) {
  if (enum_class != nullptr) return;
  // Left null or half-made, the cache would let errno_to_enum call Java
  // with null arguments.
  const zelkor::partial_init init{env, errno_enum_deinit, NULL_LOOKUP, NO_GLOBAL_REF};

  enum_class = init.global_class(ENUM_CLASS_NAME);
  if (enum_class == nullptr) return;

  // From here on a failure the host reports leaves enum_class set, so later
  // inits do nothing until errno_enum_deinit.
  jmethodID value_of = env->GetStaticMethodID(enum_class, "valueOf", VALUE_OF_SIGNATURE);
  if (!init.found(value_of)) return;
  enum_valueOf = value_of;

  errno_class = init.global_class(ERRNO_CLASS_NAME);
}

__attribute__((visibility("default"))) void errno_enum_deinit(JNIEnv *env) {
  if (enum_class != nullptr) {
    env->DeleteGlobalRef(enum_class);
    enum_class = nullptr;
  }
  if (errno_class != nullptr) {
    env->DeleteGlobalRef(errno_class);
    errno_class = nullptr;
  }
  enum_valueOf = nullptr;
}

__attribute__((visibility("default"))) jobject errno_to_enum(JNIEnv *env, int errnum) {
  // The name string stays a local reference of the caller's frame.
  jstring name = env->NewStringUTF(errno_to_string(errnum));
  if (env->ExceptionCheck()) return nullptr;
  if (name == nullptr) {
    raise_out_of_memory(env, "errno_to_enum: cannot create the name string");
    return nullptr;
  }
  return env->CallStaticObjectMethod(enum_class, enum_valueOf, errno_class, name);
}

}  // extern "C"

zelkor::errno_enum_state zelkor::errno_enum_current_state() {
  return {enum_class, enum_valueOf, errno_class};
}
