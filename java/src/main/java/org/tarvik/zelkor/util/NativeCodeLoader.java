package org.tarvik.zelkor.util;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Set;

/**
 * Loads the native support library {@code libzelkor.so} and asks it about itself.
 *
 * <p>Load the library once per class loader, with {@link #load(String)} or {@link #load()},
 * before any native method of this or another zelkor class is called. The query methods
 * are safe to call from any thread.
 *
 * <p>{@code zelkor-with-natives.jar} carries a copy of the library for each platform it was
 * built for; {@link #load()} takes this platform's copy from the jar when {@code
 * java.library.path} holds no {@code libzelkor.so}. A process should hold one copy of the
 * library only: a copy extracted from the jar and an installed one that other code of the
 * process links are two libraries, each with its own state.
 */
public final class NativeCodeLoader {
  /** The library's base name, as {@link System#loadLibrary(String)} takes it. */
  public static final String LIBRARY_NAME = "zelkor";

  /**
   * The system property that names the directory in which {@link #load()} writes the jar's
   * copy of the library (in a private directory of its own, removed once loaded); {@code
   * java.io.tmpdir} when unset. It must be a directory that can hold an executable mapping,
   * that is, not on a file system mounted {@code noexec}.
   */
  public static final String TMPDIR_PROPERTY = "org.tarvik.zelkor.tmpdir";

  /**
   * The revision of the set of native methods that these classes call. A library answers
   * with its own from {@link #interfaceRevision()}; one that answers lower, or cannot answer,
   * lacks methods that this jar calls. Raise it here and in the library (NativeCodeLoader.cc)
   * together, whenever a class starts calling a native method that older libraries lack.
   */
  static final int INTERFACE_REVISION = 2;

  /** Where the library that this class loaded came from. */
  public enum Origin {
    /** Found by name on {@code java.library.path} by {@link #load()}. */
    LIBRARY_PATH,
    /** The jar's own copy for this platform, extracted and loaded by {@link #load()}. */
    JAR,
    /** The file that the caller named to {@link #load(String)}. */
    FILE
  }

  private static Origin origin;

  // Read without the lock by classes that compute in Java until the library
  // is there (Crc64Nvme).
  private static volatile boolean loaded;

  private NativeCodeLoader() {}

  /**
   * Loads the library from a file.
   *
   * @param path absolute path of {@code libzelkor.so}; the JDK resolves links in it first
   * @throws UnsatisfiedLinkError if the file cannot be loaded
   */
  public static synchronized void load(String path) {
    System.load(path);
    if (origin == null) {
      origin = Origin.FILE;
    }
    loaded = true;
  }

  /**
   * Loads the library by name from the directories of {@code java.library.path}, or, when
   * none of them holds a {@code libzelkor.so}, this platform's copy from the jar that holds
   * this class (see {@link #TMPDIR_PROPERTY}). Does nothing once this class has loaded the
   * library.
   *
   * @throws UnsatisfiedLinkError if the library cannot be loaded, or the one on {@code
   *     java.library.path} is older than this jar; the message says what to do
   */
  public static synchronized void load() {
    if (origin != null) {
      return;
    }
    Origin from;
    try {
      System.loadLibrary(LIBRARY_NAME);
      from = Origin.LIBRARY_PATH;
    } catch (UnsatisfiedLinkError e) {
      // The JDK's message does not tell a missing file from one that would not load; only
      // a missing one lets the jar's copy in, since a file there was put there to be used.
      File present = onLibraryPath();
      if (present != null) {
        throw chained(
            "the library at " + present + " cannot be loaded: " + e.getMessage()
                + "; replace it with a working build, or remove it from java.library.path"
                + " to load the copy that zelkor-with-natives.jar carries",
            e);
      }
      loadFromJar(e);
      from = Origin.JAR;
    }
    checkRevision(from);
    origin = from;
    loaded = true;
  }

  /** Whether {@link #load()} or {@link #load(String)} has loaded the library. */
  static boolean isLoaded() {
    return loaded;
  }

  /**
   * Where the library that this class loaded came from.
   *
   * @return how {@link #load()} or {@link #load(String)} loaded it, or null if neither has
   */
  public static synchronized Origin origin() {
    return origin;
  }

  // The first libzelkor.so file in the directories that System.loadLibrary
  // searches for a class of an application's loader: the JDK's own, then
  // java.library.path, whose empty entries stand for the working directory.
  private static File onLibraryPath() {
    String file = System.mapLibraryName(LIBRARY_NAME);
    for (String property : new String[] {"sun.boot.library.path", "java.library.path"}) {
      String path = System.getProperty(property, "");
      if (path.isEmpty()) {
        continue;
      }
      for (String dir : path.split(File.pathSeparator, -1)) {
        File candidate = new File(dir.isEmpty() ? "." : dir, file);
        if (candidate.exists()) {
          return candidate;
        }
      }
    }
    return null;
  }

  /**
   * The platform name under which a jar carries its copy of the library.
   *
   * @throws UnsatisfiedLinkError naming the platform, for one that no jar carries
   */
  static String platform(String osName, String osArch) {
    String arch;
    switch (osArch) {
      case "amd64":
      case "x86_64":
        arch = "x86_64";
        break;
      case "aarch64":
        arch = "aarch64";
        break;
      default:
        arch = null;
    }
    if (!osName.equals("Linux") || arch == null) {
      throw new UnsatisfiedLinkError(
          "no libzelkor.so on java.library.path, and no jar carries one for this platform"
              + " (os.name " + osName + ", os.arch " + osArch + "; zelkor-with-natives.jar"
              + " carries linux-x86_64 and linux-aarch64): build libzelkor.so for it and put"
              + " its directory on java.library.path");
    }
    return "linux-" + arch;
  }

  static String resourceFor(String platform) {
    return "native/" + platform + "/" + System.mapLibraryName(LIBRARY_NAME);
  }

  /** The directory below which {@link #load()} extracts the jar's copy. */
  static Path extractionBase() {
    String dir = System.getProperty(TMPDIR_PROPERTY);
    if (dir == null || dir.isEmpty()) {
      dir = System.getProperty("java.io.tmpdir");
    }
    return Path.of(dir).toAbsolutePath();
  }

  /**
   * Writes the library from {@code in} into a new directory below {@code base} that only this
   * user can enter (0700). The caller loads and then deletes both.
   *
   * @return the file written
   */
  static Path extract(InputStream in, Path base) throws IOException {
    Set<PosixFilePermission> ownerOnly = PosixFilePermissions.fromString("rwx------");
    FileAttribute<Set<PosixFilePermission>> attribute =
        PosixFilePermissions.asFileAttribute(ownerOnly);
    Path dir = Files.createTempDirectory(base, "zelkor-", attribute);
    Path file = dir.resolve(System.mapLibraryName(LIBRARY_NAME));
    try {
      Files.createFile(file, attribute);
      try (OutputStream out = Files.newOutputStream(file)) {
        in.transferTo(out);
      }
    } catch (IOException | RuntimeException e) {
      removeExtracted(file);
      throw e;
    }
    return file;
  }

  // The mapping outlives the file, so nothing needs it once loaded; removing
  // it at once leaves nothing behind, even when the process dies later.
  private static void removeExtracted(Path file) {
    try {
      Files.deleteIfExists(file);
      Files.deleteIfExists(file.getParent());
    } catch (IOException e) {
      // Left for the temporary directory's own cleaning: no reason to fail a load that worked.
    }
  }

  private static void loadFromJar(UnsatisfiedLinkError notFound) {
    String platform =
        platform(System.getProperty("os.name", ""), System.getProperty("os.arch", ""));
    String resource = resourceFor(platform);
    Path base = extractionBase();
    Path file;
    try (InputStream in = NativeCodeLoader.class.getResourceAsStream(resource)) {
      if (in == null) {
        throw chained(
            notFound.getMessage() + "; and this jar carries no copy for " + platform
                + ": put the directory of libzelkor.so on java.library.path, or use a"
                + " zelkor-with-natives.jar that carries one",
            notFound);
      }
      file = extract(in, base);
    } catch (IOException e) {
      throw chained(
          "cannot write this jar's libzelkor.so for " + platform + " into " + base + ": " + e
              + "; set the system property " + TMPDIR_PROPERTY
              + " to a writable directory (-D" + TMPDIR_PROPERTY + "=DIR)",
          e);
    }
    try {
      System.load(file.toString());
    } catch (UnsatisfiedLinkError e) {
      String message = String.valueOf(e.getMessage());
      if (message.contains("failed to map segment")) {
        throw chained(
            "cannot load this jar's libzelkor.so for " + platform + " from " + base
                + ", which does not allow executable mappings (mounted noexec?): set the"
                + " system property " + TMPDIR_PROPERTY + " to a directory that does (-D"
                + TMPDIR_PROPERTY + "=DIR); " + message,
            e);
      }
      throw chained(
          "cannot load this jar's libzelkor.so for " + platform + ", written into " + base
              + ": " + message,
          e);
    } finally {
      removeExtracted(file);
    }
  }

  // A library that is loaded stays loaded in its class loader: an older one
  // found first cannot be replaced by the jar's copy in this JVM.
  private static void checkRevision(Origin from) {
    int revision;
    try {
      revision = interfaceRevision();
    } catch (UnsatisfiedLinkError e) {
      revision = 0;
    }
    if (revision >= INTERFACE_REVISION) {
      return;
    }
    String found = "revision " + revision + ", the jar needs " + INTERFACE_REVISION;
    if (from == Origin.JAR) {
      throw new UnsatisfiedLinkError(
          "the libzelkor.so that this jar carries is older than its classes (" + found
              + "): the jar was put together from two builds; rebuild it");
    }
    File present = onLibraryPath();
    throw new UnsatisfiedLinkError(
        "the library at " + (present != null ? present : "java.library.path")
            + " is older than this jar (native interface " + found + "): install the"
            + " libzelkor.so built with this jar, or remove the old one from java.library.path"
            + " to load the copy that zelkor-with-natives.jar carries");
  }

  private static UnsatisfiedLinkError chained(String message, Throwable cause) {
    UnsatisfiedLinkError e = new UnsatisfiedLinkError(message);
    e.initCause(cause);
    return e;
  }

  /**
   * The revision of the native interface that the loaded library provides.
   *
   * @throws UnsatisfiedLinkError from a library older than the query
   */
  static native int interfaceRevision();

  /**
   * The file the library was loaded from.
   *
   * @return the path as the dynamic loader recorded it (canonical when loaded by this
   *     class), or {@code "Unavailable"} if the loader cannot name it; for the jar's copy, a
   *     file that has been deleted since
   */
  public static native String getLibraryName();

  /** @return whether this build of the library includes the Snappy codec */
  public static native boolean buildSupportsSnappy();

  /** @return whether this build of the library includes the Zstandard codec */
  public static native boolean buildSupportsZstd();

  /** @return whether this build of the library includes the OpenSSL facilities */
  public static native boolean buildSupportsOpenssl();
}
