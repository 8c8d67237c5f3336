package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

// zelkor-with-natives.jar alone on the class path, nothing on
// java.library.path (the run passes it empty): NativeCodeLoader.load() must
// take the jar's copy, write it below java.io.tmpdir, and leave nothing there.
class NativesJarTest {
  @Test
  void loadTakesTheJarsCopyLeavesNothingBehindAndItsChecksumsAreRight() throws Exception {
    assertEquals("", System.getProperty("java.library.path"));
    assertNull(NativeCodeLoader.origin());
    // A directory of this run's own, so that "nothing left" means empty.
    Path base = Files.createTempDirectory("zelkor-natives-test-").toRealPath();
    String tmpdir = System.getProperty("java.io.tmpdir");
    System.setProperty("java.io.tmpdir", base.toString());
    try {
      NativeCodeLoader.load();
    } finally {
      System.setProperty("java.io.tmpdir", tmpdir);
    }
    assertEquals(NativeCodeLoader.Origin.JAR, NativeCodeLoader.origin());
    Path loaded = Path.of(NativeCodeLoader.getLibraryName());
    assertEquals(base, loaded.getParent().getParent(), loaded.toString());
    assertTrue(loaded.getParent().getFileName().toString().startsWith("zelkor-"), loaded.toString());
    try (Stream<Path> left = Files.list(base)) {
      assertEquals(List.of(), left.toList());
    }
    Files.delete(base);

    // Both sides of the interface revision are raised together.
    assertEquals(NativeCodeLoader.INTERFACE_REVISION, NativeCodeLoader.interfaceRevision());
    assertEquals(List.of(), LibraryCheck.selfCheck());

    // Loaded once: a second call extracts nothing more.
    NativeCodeLoader.load();
    assertEquals(loaded.toString(), NativeCodeLoader.getLibraryName());
  }

  @Test
  void extractWritesTheLibraryIntoADirectoryOnlyItsOwnerCanEnter() throws Exception {
    Path base = Files.createTempDirectory("zelkor-extract-test-");
    byte[] library = new byte[100_000];
    new Random(7).nextBytes(library);
    Path file = NativeCodeLoader.extract(new ByteArrayInputStream(library), base);
    try {
      assertEquals(base, file.getParent().getParent());
      assertEquals("libzelkor.so", file.getFileName().toString());
      for (Path p : List.of(file.getParent(), file)) {
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(p)));
      }
      assertArrayEquals(library, Files.readAllBytes(file));
    } finally {
      Files.deleteIfExists(file);
      Files.deleteIfExists(file.getParent());
      Files.delete(base);
    }
  }

  @ParameterizedTest
  @CsvSource({
    "Linux, amd64,   linux-x86_64",
    "Linux, x86_64,  linux-x86_64",
    "Linux, aarch64, linux-aarch64",
    "Linux, riscv64, ",
    "Linux, arm,     ",
    "Mac OS X, aarch64, ",
    "Windows 11, amd64, ",
  })
  void platformNamesTheJarsDirectoryOrSaysWhichPlatformHasNone(
      String osName, String osArch, String platform) {
    if (platform != null) {
      assertEquals(platform, NativeCodeLoader.platform(osName, osArch));
      return;
    }
    UnsatisfiedLinkError e =
        assertThrows(UnsatisfiedLinkError.class, () -> NativeCodeLoader.platform(osName, osArch));
    assertTrue(
        e.getMessage().contains("os.name " + osName + ", os.arch " + osArch), e.getMessage());
  }
}
