package org.tarvik.zelkor.security;

import org.tarvik.zelkor.util.TestLibraries;

/** The C heap as malloc sees it, through the test-only JNI library ({@code zelkor.test.hooks}). */
final class NativeHeap {
  static {
    TestLibraries.loadZelkor(); // the hooks library links against the loaded libzelkor.so
    System.load(System.getProperty("zelkor.test.hooks"));
  }

  private NativeHeap() {}

  /** Bytes allocated and not freed, over all of malloc's arenas (mallinfo2's uordblks). */
  static native long bytesInUse();
}
