package org.tarvik.zelkor.util;

import java.io.File;
import java.io.IOException;

/**
 * Loads libzelkor.so for a test run: from the path in the system property {@code
 * zelkor.library} if set, else by name from {@code java.library.path}.
 */
public final class TestLibraries {
  private static boolean loaded;

  private TestLibraries() {}

  public static synchronized void loadZelkor() {
    if (loaded) {
      return;
    }
    String path = System.getProperty("zelkor.library");
    if (path != null) {
      NativeCodeLoader.load(path);
    } else {
      NativeCodeLoader.load();
    }
    loaded = true;
  }

  /** The canonical path of the file that {@link #loadZelkor} loads. */
  public static String expectedLibraryFile() throws IOException {
    String path = System.getProperty("zelkor.library");
    File file =
        path != null
            ? new File(path)
            : new File(
                System.getProperty("java.library.path"),
                System.mapLibraryName(NativeCodeLoader.LIBRARY_NAME));
    return file.getCanonicalPath();
  }
}
