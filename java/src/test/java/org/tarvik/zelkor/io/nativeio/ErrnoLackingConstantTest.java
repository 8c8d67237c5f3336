package org.tarvik.zelkor.io.nativeio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.util.Arrays;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.EnabledIfSystemProperty;

/**
 * Runs in its own JVM with an Errno class that lacks ELOOP ahead of the real one on the
 * class path; the property names the missing constant.
 */
@EnabledIfSystemProperty(named = "zelkor.errno.lacking", matches = "ELOOP")
class ErrnoLackingConstantTest {
  @Test
  void aMissingConstantGivesTheHostsExceptionAndChangesNothing() {
    assertEquals(
        0,
        Arrays.stream(Errno.values()).filter(e -> e.name().equals("ELOOP")).count(),
        "the run must put the class without ELOOP first");
    NativeIoTestHooks.errnoEnumInit();

    IllegalArgumentException e =
        assertThrows(IllegalArgumentException.class, () -> NativeIoTestHooks.errnoToEnum(40));
    assertEquals("No enum constant org.tarvik.zelkor.io.nativeio.Errno.ELOOP", e.getMessage());

    // The cache is untouched: other numbers still map without a new init.
    assertSame(Errno.EPERM, NativeIoTestHooks.errnoToEnum(1));
    assertSame(Errno.UNKNOWN, NativeIoTestHooks.errnoToEnum(0));
  }
}
