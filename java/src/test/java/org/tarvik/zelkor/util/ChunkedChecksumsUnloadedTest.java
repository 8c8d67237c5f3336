package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.EnabledIfSystemProperty;
import org.junit.jupiter.api.function.Executable;
import org.tarvik.zelkor.util.ChunkedChecksums.Type;

/**
 * ChunkedChecksums before the library is loaded: it needs a JVM of its own that has not loaded
 * it, so it runs only where the run sets zelkor.unloaded.
 */
@EnabledIfSystemProperty(named = "zelkor.unloaded", matches = "true")
class ChunkedChecksumsUnloadedTest {
  @Test
  void beforeLoadingTheErrorNamesTheLoaderAndAfterItWorks() throws Exception {
    byte[] sums = new byte[4];
    for (int length : new int[] {0, 9}) {
      UnsatisfiedLinkError e =
          assertThrows(
              UnsatisfiedLinkError.class,
              () -> ChunkedChecksums.compute(Type.CRC32C, 9, new byte[9], 0, length, sums, 0));
      assertTrue(e.getMessage().contains("NativeCodeLoader.load"), e.getMessage());
    }
    assertThrows(
        UnsatisfiedLinkError.class,
        () -> ChunkedChecksums.verify(Type.CRC32, 9, ByteBuffer.allocateDirect(9), ByteBuffer.allocate(4), 0));
    // The whole-data CRCs too, every path, even where nothing is to be read.
    ByteBuffer readOnly = ByteBuffer.allocate(4).asReadOnlyBuffer();
    List<Executable> wholeCrcs =
        List.of(
            () -> ChunkedChecksums.combine(Type.CRC32C, 1, 2, 3),
            () -> ChunkedChecksums.compose(Type.CRC32C, 9, 0, sums, 0),
            () -> ChunkedChecksums.compose(Type.CRC32, 9, 9, ByteBuffer.allocate(4)),
            () -> ChunkedChecksums.compose(Type.CRC32, 9, 9, ByteBuffer.allocateDirect(4)),
            () -> ChunkedChecksums.compose(Type.CRC32, 9, 0, readOnly),
            () -> ChunkedChecksums.compose(Type.CRC32, 9, 9, readOnly),
            () -> ChunkedChecksums.implementation(Type.CRC32C));
    for (Executable call : wholeCrcs) {
      UnsatisfiedLinkError e = assertThrows(UnsatisfiedLinkError.class, call);
      assertTrue(e.getMessage().contains("NativeCodeLoader.load"), e.getMessage());
    }
    TestLibraries.loadZelkor();
    ChunkedChecksums.compute(Type.CRC32C, 9, "123456789".getBytes("US-ASCII"), 0, 9, sums, 0);
    assertArrayEquals(new byte[] {(byte) 0xE3, 0x06, (byte) 0x92, (byte) 0x83}, sums);
    assertEquals(0xE3069283L, ChunkedChecksums.compose(Type.CRC32C, 9, 9, sums, 0));
  }
}
