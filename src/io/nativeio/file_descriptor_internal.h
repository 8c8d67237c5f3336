// file_descriptor_internal.h -- a read-only view of file_descriptor's cached
// lookups, for the module's tests.  Hidden, like everything the modules share.
#ifndef ZELKOR_IO_NATIVEIO_FILE_DESCRIPTOR_INTERNAL_H
#define ZELKOR_IO_NATIVEIO_FILE_DESCRIPTOR_INTERNAL_H

#include <jni.h>

namespace zelkor {

struct fd_state {
  jclass fd_class;
  jfieldID fd_descriptor;
  jmethodID fd_constructor;
};

fd_state fd_current_state();

}  // namespace zelkor

#endif  // ZELKOR_IO_NATIVEIO_FILE_DESCRIPTOR_INTERNAL_H
