package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.tarvik.zelkor.util.ChunkedChecksums.Type;

// The implementation names and the check command inside this JVM (the
// command as users start it is tests/harness/check_command.sh).
class LibraryCheckTest {
  @BeforeAll
  static void load() {
    TestLibraries.loadZelkor();
  }

  @Test
  void implementationIsTheTierNameThenWhatItRuns() {
    for (Type type : Type.values()) {
      String text = ChunkedChecksums.implementation(type);
      assertTrue(text.matches("[a-z0-9_]+ \\(.+\\)"), text);
    }
    assertThrows(NullPointerException.class, () -> ChunkedChecksums.implementation(null));
  }

  @Test
  void theCheckPassesOverTheRealLibrary() {
    ByteArrayOutputStream out = new ByteArrayOutputStream();
    ByteArrayOutputStream err = new ByteArrayOutputStream();
    int status =
        LibraryCheck.run(
            new String[] {"--library", System.getProperty("zelkor.library")},
            new PrintStream(out, true, StandardCharsets.UTF_8),
            new PrintStream(err, true, StandardCharsets.UTF_8));
    String report = out.toString(StandardCharsets.UTF_8);
    assertEquals(0, status, report + err.toString(StandardCharsets.UTF_8));
    for (Type type : Type.values()) {
      assertTrue(report.contains(type + ": " + ChunkedChecksums.implementation(type) + "\n"), report);
    }
    assertTrue(report.endsWith("self-check: passed\n"), report);
  }
}
