package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

// Run by tests/harness/with_noexec_dir.sh, inside a private mount namespace
// in which ZELKOR_NOEXEC_DIR is a tmpfs mounted noexec: the jar's copy can be
// written there but not mapped.
class NativesJarNoexecTest {
  @Test
  void aNoexecDirectoryIsNamedWithThePropertyAndAnotherDirectoryThenWorks() throws Exception {
    String noexec = System.getenv("ZELKOR_NOEXEC_DIR");
    assertNotNull(noexec, "run by tests/harness/with_noexec_dir.sh");
    System.setProperty(NativeCodeLoader.TMPDIR_PROPERTY, noexec);
    UnsatisfiedLinkError e = assertThrows(UnsatisfiedLinkError.class, NativeCodeLoader::load);
    String message = e.getMessage();
    assertTrue(message.contains(" from " + noexec + ", "), message);
    assertTrue(message.contains("-D" + NativeCodeLoader.TMPDIR_PROPERTY + "=DIR"), message);
    assertTrue(message.contains("noexec"), message);
    assertNull(NativeCodeLoader.origin());
    assertEquals(List.of(), entries(Path.of(noexec)));

    // What the message says to do.
    Path good = Files.createTempDirectory("zelkor-noexec-test-");
    System.setProperty(NativeCodeLoader.TMPDIR_PROPERTY, good.toString());
    NativeCodeLoader.load();
    assertEquals(NativeCodeLoader.Origin.JAR, NativeCodeLoader.origin());
    assertEquals(List.of(), entries(good));
    Files.delete(good);
    assertEquals(List.of(), LibraryCheck.selfCheck());
  }

  private static List<Path> entries(Path dir) throws Exception {
    try (Stream<Path> s = Files.list(dir)) {
      return s.toList();
    }
  }
}
