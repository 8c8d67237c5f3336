package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.lang.reflect.Method;
import java.nio.ByteBuffer;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicReference;
import java.util.stream.Stream;
import java.util.zip.CRC32C;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.tarvik.zelkor.util.ChunkedChecksums.Type;

/**
 * ChunkedChecksums over buffers of memory segments (java.lang.foreign, final from JDK 22 on),
 * whose memory goes away when their arena is closed: refused as the JDK's own accesses refuse
 * them, before the native side reads or writes anything. The API is reached by reflection, so
 * that this source compiles for 17; there the tests skip, and the newer-JDK run has them.
 */
class ChunkedChecksumsSegmentTest {
  private static Method ofShared;
  private static Method ofConfined;
  private static Method allocate;
  private static Method asByteBuffer;

  @BeforeAll
  static void findSegments() throws Exception {
    Assumptions.assumeTrue(
        Runtime.version().feature() >= 22,
        "memory segments are final from JDK 22 on; this JVM is " + Runtime.version());
    Class<?> arena = Class.forName("java.lang.foreign.Arena");
    ofShared = arena.getMethod("ofShared");
    ofConfined = arena.getMethod("ofConfined");
    allocate = arena.getMethod("allocate", long.class);
    asByteBuffer = Class.forName("java.lang.foreign.MemorySegment").getMethod("asByteBuffer");
    TestLibraries.loadZelkor();
  }

  static AutoCloseable arena(Method kind) throws Exception {
    return (AutoCloseable) kind.invoke(null);
  }

  static ByteBuffer buffer(AutoCloseable arena, int size) throws Exception {
    return (ByteBuffer) asByteBuffer.invoke(allocate.invoke(arena, (long) size));
  }

  // What the JDK's own get of the buffer's first byte throws, in this thread.
  static RuntimeException jdkRefusal(ByteBuffer buffer) {
    return assertThrows(RuntimeException.class, () -> buffer.get(buffer.position()));
  }

  static void assertRefusedAsTheJdkRefuses(RuntimeException jdk, Executable call, String what) {
    RuntimeException e = assertThrows(RuntimeException.class, call, what);
    assertSame(jdk.getClass(), e.getClass(), what);
    assertEquals(jdk.getMessage(), e.getMessage(), what);
  }

  static final int LENGTH = 4096;
  static final int BPC = 512;

  // Which buffer of a call lies in a closed arena; the other is a live heap
  // one, whose bytes must not change.
  static Stream<Arguments> closedBuffers() {
    return Stream.of(
        Arguments.of("data of compute", true, false),
        Arguments.of("data of verify", true, true),
        Arguments.of("sums of compute", false, false),
        Arguments.of("sums of verify", false, true));
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("closedBuffers")
  void closedArenaBufferIsRefusedWithTheJdksException(String name, boolean closedData, boolean verify)
      throws Exception {
    AutoCloseable arena = arena(ofShared);
    ByteBuffer closed = buffer(arena, LENGTH);
    arena.close();
    RuntimeException jdk = jdkRefusal(closed);
    assertSame(IllegalStateException.class, jdk.getClass(), "the JDK's own refusal");
    byte[] live = new byte[LENGTH];
    Arrays.fill(live, (byte) 0x5A);
    ByteBuffer data = closedData ? closed : ByteBuffer.wrap(live);
    ByteBuffer sums = closedData ? ByteBuffer.wrap(live) : closed;
    assertRefusedAsTheJdkRefuses(
        jdk,
        verify
            ? () -> ChunkedChecksums.verify(Type.CRC32C, BPC, data, sums, 0)
            : () -> ChunkedChecksums.compute(Type.CRC32C, BPC, data, sums),
        name);
    byte[] untouched = new byte[LENGTH];
    Arrays.fill(untouched, (byte) 0x5A);
    assertArrayEquals(untouched, live, name + ": the live buffer changed");
  }

  @Test
  void composeOverAClosedArenaBufferIsRefused() throws Exception {
    AutoCloseable arena = arena(ofShared);
    ByteBuffer closed = buffer(arena, LENGTH);
    arena.close();
    assertRefusedAsTheJdkRefuses(
        jdkRefusal(closed),
        () -> ChunkedChecksums.compose(Type.CRC32, BPC, LENGTH / 4 * BPC, closed),
        "compose");
  }

  // From a thread that does not own a confined arena, its buffers are
  // refused as the JDK refuses them there.
  @Test
  void confinedArenaBufferFromAnotherThreadIsRefused() throws Exception {
    try (AutoCloseable arena = arena(ofConfined)) {
      ByteBuffer data = buffer(arena, LENGTH);
      ByteBuffer sums = ByteBuffer.allocate(4 * (LENGTH / BPC));
      AtomicReference<Throwable> failure = new AtomicReference<>();
      Thread other =
          new Thread(
              () -> {
                try {
                  assertRefusedAsTheJdkRefuses(
                      jdkRefusal(data),
                      () -> ChunkedChecksums.compute(Type.CRC32C, BPC, data, sums),
                      "compute from another thread");
                } catch (Throwable t) {
                  failure.set(t);
                }
              });
      other.start();
      other.join();
      if (failure.get() != null) {
        throw new AssertionError(failure.get());
      }
    }
  }

  // Live segment buffers, owned by this thread, work as any direct buffer.
  @Test
  void liveArenaBuffersGiveTheJdkWords() throws Exception {
    for (Method kind : new Method[] {ofShared, ofConfined}) {
      try (AutoCloseable arena = arena(kind)) {
        ByteBuffer data = buffer(arena, LENGTH + 77);
        byte[] bytes = ChunkedChecksumsTest.random(5, LENGTH + 77);
        data.put(0, bytes);
        ByteBuffer sums = buffer(arena, 4 * (LENGTH / BPC + 1));
        ChunkedChecksums.compute(Type.CRC32C, BPC, data, sums);
        byte[] want = ChunkedChecksumsTest.jdkSums(Type.CRC32C, BPC, bytes, 0, bytes.length);
        assertArrayEquals(want, ChunkedChecksumsTest.content(sums), kind.getName());
        ChunkedChecksums.verify(Type.CRC32C, BPC, data, sums, 0);
        CRC32C all = new CRC32C();
        all.update(bytes);
        assertEquals(
            all.getValue(), ChunkedChecksums.compose(Type.CRC32C, BPC, bytes.length, sums));
      }
    }
  }
}
