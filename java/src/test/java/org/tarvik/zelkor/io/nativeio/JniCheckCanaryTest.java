package org.tarvik.zelkor.io.nativeio;

import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.EnabledIfSystemProperty;

/** Runs alone, in a JVM whose output must show the -Xcheck:jni warning it provokes. */
@EnabledIfSystemProperty(named = "zelkor.jni.canary", matches = "true")
class JniCheckCanaryTest {
  @Test
  void aCallWithAnExceptionPendingIsReported() {
    assertThrows(IllegalStateException.class, NativeIoTestHooks::callWithExceptionPending);
  }
}
