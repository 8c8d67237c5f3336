package org.tarvik.zelkor.util;

/**
 * Loads the native support library {@code libzelkor.so} and asks it about itself.
 *
 * <p>Load the library once per class loader, with {@link #load(String)} or {@link #load()},
 * before any native method of this or another zelkor class is called. The query methods
 * are safe to call from any thread.
 */
public final class NativeCodeLoader {
  /** The library's base name, as {@link System#loadLibrary(String)} takes it. */
  public static final String LIBRARY_NAME = "zelkor";

  private NativeCodeLoader() {}

  /**
   * Loads the library from a file.
   *
   * @param path absolute path of {@code libzelkor.so}; the JDK resolves links in it first
   * @throws UnsatisfiedLinkError if the file cannot be loaded
   */
  public static void load(String path) {
    System.load(path);
  }

  /**
   * Loads the library by name from the directories of {@code java.library.path}.
   *
   * @throws UnsatisfiedLinkError if no loadable {@code libzelkor.so} is found there
   */
  public static void load() {
    System.loadLibrary(LIBRARY_NAME);
  }

  /**
   * The file the library was loaded from.
   *
   * @return the path as the dynamic loader recorded it (canonical when loaded by this
   *     class), or {@code "Unavailable"} if the loader cannot name it
   */
  public static native String getLibraryName();

  /** @return whether this build of the library includes the Snappy codec */
  public static native boolean buildSupportsSnappy();

  /** @return whether this build of the library includes the Zstandard codec */
  public static native boolean buildSupportsZstd();

  /** @return whether this build of the library includes the OpenSSL facilities */
  public static native boolean buildSupportsOpenssl();
}
