package org.tarvik.zelkor.io.nativeio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;

import java.io.FileDescriptor;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class FileDescriptorTest {
  @BeforeAll
  static void init() {
    NativeIoTestHooks.fdInit();
  }

  @ParameterizedTest
  @ValueSource(ints = {0, -1, Integer.MAX_VALUE, Integer.MIN_VALUE, 1 << 20})
  void createThenGetRoundTrips(int fd) {
    FileDescriptor created = NativeIoTestHooks.fdCreate(fd);
    assertEquals(fd, NativeIoTestHooks.fdGet(created));
    // FileDescriptor.valid() reads the same field: the JDK sees the number too.
    assertEquals(fd != -1, created.valid());
  }

  @Test
  void getReadsTheStandardStreams() {
    assertEquals(0, NativeIoTestHooks.fdGet(FileDescriptor.in));
    assertEquals(1, NativeIoTestHooks.fdGet(FileDescriptor.out));
    assertEquals(2, NativeIoTestHooks.fdGet(FileDescriptor.err));
  }

  @Test
  void getOfNullGivesMinusOneAndANullPointerException() {
    int[] result = {0};
    Throwable pending = NativeIoTestHooks.fdGetNull(result);
    assertEquals(-1, result[0]);
    assertInstanceOf(NullPointerException.class, pending);
    assertEquals("FileDescriptor object is null", pending.getMessage());
    assertEquals(1, NativeIoTestHooks.fdGet(FileDescriptor.out));
  }

  @Test
  void initAndDeinitRepeatAndReinitialise() {
    NativeIoTestHooks.fdInit(); // already initialised: a no-op
    assertEquals(5, NativeIoTestHooks.fdGet(NativeIoTestHooks.fdCreate(5)));
    NativeIoTestHooks.fdDeinit();
    NativeIoTestHooks.fdDeinit();
    NativeIoTestHooks.fdInit();
    assertEquals(7, NativeIoTestHooks.fdGet(NativeIoTestHooks.fdCreate(7)));
    assertEquals(2, NativeIoTestHooks.fdGet(FileDescriptor.err));
  }
}
