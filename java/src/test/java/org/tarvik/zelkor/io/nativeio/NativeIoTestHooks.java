package org.tarvik.zelkor.io.nativeio;

import java.io.FileDescriptor;
import org.tarvik.zelkor.util.TestLibraries;

/**
 * The errno and file-descriptor helpers serve native code, not Java; this test-only JNI
 * library (system property {@code zelkor.test.hooks}) calls them on the tests' behalf, one
 * helper per native call, and leaves their exceptions pending for Java to see.
 */
public final class NativeIoTestHooks {
  static {
    TestLibraries.loadZelkor(); // the hooks library links against the loaded libzelkor.so
    System.load(System.getProperty("zelkor.test.hooks"));
  }

  private NativeIoTestHooks() {}

  public static native void errnoEnumInit();

  static native void errnoEnumDeinit();

  public static native Object errnoToEnum(int errnum);

  static native void fdInit();

  static native void fdDeinit();

  static native int fdGet(FileDescriptor fd);

  static native FileDescriptor fdCreate(int fd);

  /**
   * Calls fd_get with a null object and takes the exception it leaves, so that the result
   * can be seen too.
   *
   * @param result receives fd_get's result at index 0
   * @return the exception that was pending, or null
   */
  static native Throwable fdGetNull(int[] result);

  /** Throws IllegalStateException and then makes a JNI call that is not allowed with it pending. */
  static native void callWithExceptionPending();
}
