package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.util.Random;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.EnabledIfSystemProperty;
import org.tarvik.zelkor.util.ChunkedChecksums.Type;

/**
 * A read-only heap buffer with a chunk larger than half the heap, so that no copy of the chunk
 * fits beside it: only a copy in bounded pieces gets through. It needs a JVM with a small heap,
 * so it runs only where the run sets zelkor.small_heap.
 */
@EnabledIfSystemProperty(named = "zelkor.small_heap", matches = "true")
class ChunkedChecksumsSmallHeapTest {
  static final int CHUNK = 40 << 20;

  @Test
  void readOnlyChunkLargerThanHalfTheHeapAsTheWritableForm() throws Exception {
    TestLibraries.loadZelkor();
    long heap = Runtime.getRuntime().maxMemory();
    assertTrue(
        2L * CHUNK > heap, "a heap of " + heap + " bytes holds a chunk twice: the run proves nothing");
    // A whole long chunk and a partial one.
    byte[] bytes = new byte[CHUNK + 1000];
    new Random(1).nextBytes(bytes);
    ByteBuffer data = ByteBuffer.wrap(bytes).asReadOnlyBuffer();
    for (Type type : Type.values()) {
      byte[] want = ChunkedChecksumsTest.jdkSums(type, CHUNK, bytes, 0, bytes.length);
      byte[] sums = new byte[want.length];
      ChunkedChecksums.compute(type, CHUNK, data, ByteBuffer.wrap(sums));
      assertArrayEquals(want, sums, type.toString());
      ChunkedChecksums.verify(type, CHUNK, data, ByteBuffer.wrap(sums), 0);

      int at = CHUNK - 12345;
      bytes[at] ^= 0x01;
      ChecksumMismatchException readOnly =
          assertThrows(
              ChecksumMismatchException.class,
              () -> ChunkedChecksums.verify(type, CHUNK, data, ByteBuffer.wrap(sums), 100));
      ChecksumMismatchException writable =
          assertThrows(
              ChecksumMismatchException.class,
              () ->
                  ChunkedChecksums.verify(
                      type, CHUNK, ByteBuffer.wrap(bytes), ByteBuffer.wrap(sums), 100));
      bytes[at] ^= 0x01;
      assertEquals(100, writable.position(), type.toString());
      assertEquals(writable.getMessage(), readOnly.getMessage(), type.toString());
    }
  }
}
