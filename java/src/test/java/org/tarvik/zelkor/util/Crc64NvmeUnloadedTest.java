package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.condition.EnabledIfSystemProperty;

/**
 * Crc64Nvme before the library is loaded, all in Java, and then with it: it needs a JVM of its
 * own that has not loaded the library, so it runs only where the run sets zelkor.crc64.unloaded.
 */
@EnabledIfSystemProperty(named = "zelkor.crc64.unloaded", matches = "true")
class Crc64NvmeUnloadedTest {
  // Lengths that would go native with the library loaded, one more than a
  // slice too.
  static final int[] LONG_LENGTHS = {Crc64Nvme.JAVA_BELOW, 70_000, Crc64Nvme.SLICE_BYTES + 1};

  static long[] longCrcs(byte[] data) {
    long[] crcs = new long[4 * LONG_LENGTHS.length];
    for (int i = 0; i < LONG_LENGTHS.length; i++) {
      int n = LONG_LENGTHS[i];
      Crc64Nvme crc = new Crc64Nvme();
      crc.update(data, 1, n);
      crcs[4 * i] = crc.getValue();
      crc.reset();
      crc.update(ByteBuffer.allocateDirect(n).put(0, data, 1, n));
      crcs[4 * i + 1] = crc.getValue();
      crc.reset();
      crc.update(ByteBuffer.wrap(data, 1, n).asReadOnlyBuffer());
      crcs[4 * i + 2] = crc.getValue();
      crcs[4 * i + 3] = Crc64Nvme.combine(crcs[4 * i], crcs[4 * i + 1], (1L << 32) + n);
    }
    return crcs;
  }

  @Test
  void everythingRunsInJavaUntilTheLibraryIsLoadedWithTheSameResults() throws Exception {
    assertTrue(Crc64Nvme.implementation().contains("not loaded"), Crc64Nvme.implementation());
    Crc64Nvme check = new Crc64Nvme();
    check.update("123456789".getBytes(StandardCharsets.US_ASCII));
    assertEquals(Crc64NvmeTest.CHECK, check.getValue());
    List<Crc64NvmeTest.Vector> vectors = Crc64NvmeTest.readVectors();
    for (Crc64NvmeTest.Vector v : vectors) {
      Crc64Nvme crc = new Crc64Nvme();
      crc.update(ByteBuffer.allocateDirect(v.data().length).put(0, v.data()));
      assertEquals(v.crc(), crc.getValue(), "direct " + v.data().length);
    }
    byte[] data = Crc64NvmeTest.random(23, Crc64Nvme.SLICE_BYTES + 2);
    long[] before = longCrcs(data);

    TestLibraries.loadZelkor();
    String name = Crc64Nvme.implementation();
    assertFalse(name.contains("not loaded"), name);
    assertArrayEquals(before, longCrcs(data), "the native path's values");
  }
}
