// errno_enum_internal.h -- a read-only view of errno_enum's cached lookups,
// for the module's tests.  Hidden, like everything the modules share.
#ifndef ZELKOR_IO_NATIVEIO_ERRNO_ENUM_INTERNAL_H
#define ZELKOR_IO_NATIVEIO_ERRNO_ENUM_INTERNAL_H

#include <jni.h>

namespace zelkor {

struct errno_enum_state {
  jclass enum_class;
  jmethodID enum_valueOf;
  jclass errno_class;
};

errno_enum_state errno_enum_current_state();

}  // namespace zelkor

#endif  // ZELKOR_IO_NATIVEIO_ERRNO_ENUM_INTERNAL_H
