package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.tarvik.zelkor.util.ChunkedChecksumsTest.assertUntouchedState;
import static org.tarvik.zelkor.util.ChunkedChecksumsTest.jdk;
import static org.tarvik.zelkor.util.ChunkedChecksumsTest.jdkSums;
import static org.tarvik.zelkor.util.ChunkedChecksumsTest.random;

import java.nio.ByteBuffer;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;
import java.util.zip.Checksum;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;
import org.tarvik.zelkor.util.ChunkedChecksums.Type;
import org.tarvik.zelkor.util.ChunkedChecksumsTest.Bad;
import org.tarvik.zelkor.util.ChunkedChecksumsTest.Kind;

/**
 * Whole-data CRCs from the stored words (compose) and from two CRCs (combine), against the JDK's
 * CRC32C and CRC32 over all of the data at once.
 */
class ChunkedChecksumsComposeTest {
  @BeforeAll
  static void load() {
    TestLibraries.loadZelkor();
  }

  static long jdkWhole(Type type, byte[] data, int offset, int length) {
    Checksum c = jdk(type);
    c.update(data, offset, length);
    return c.getValue();
  }

  static final byte[] DATA = random(42, 400_000);

  static Stream<Arguments> chunkSizes() {
    List<Arguments> cases = new ArrayList<>();
    for (Type type : Type.values()) {
      for (int bpc : new int[] {1, 3, 512, 4096, 65536}) {
        cases.add(Arguments.of(type, bpc));
      }
    }
    return cases.stream();
  }

  // With and without a partial chunk, below one chunk, and none; for the
  // small chunk sizes, exactly one piece of words of the native side (4096)
  // and of the read-only copy (16384), and more than both.  Pieces at the
  // larger sizes are largeChunksAcrossPieces's, without the data.
  static int[] lengths(int bpc) {
    List<Integer> lengths =
        new ArrayList<>(List.of(0, 1, bpc, bpc + 1, 5 * bpc, 5 * bpc + bpc / 2 + 1));
    if (bpc > 1) {
      lengths.add(bpc - 1);
    }
    if (bpc <= 3) {
      lengths.addAll(List.of(4096 * bpc, 16384 * bpc, (16384 + 4096) * bpc + 1));
    }
    return lengths.stream().mapToInt(Integer::intValue).toArray();
  }

  // Every kind of buffer, its words at an unaligned position (the data
  // exactly filling it), and arrays from an odd offset: the JDK's CRC of the
  // whole data, and no buffer's position, limit or mark moved.
  @ParameterizedTest
  @MethodSource("chunkSizes")
  void composeGivesTheJdkCrcOfTheWholeData(Type type, int bpc) {
    for (int length : lengths(bpc)) {
      byte[] words = jdkSums(type, bpc, DATA, 0, length);
      long want = jdkWhole(type, DATA, 0, length);
      String what = type + " bpc " + bpc + " length " + length;
      for (Kind kind : Kind.values()) {
        ByteBuffer sums = kind.make(words, 3);
        assertEquals(want, ChunkedChecksums.compose(type, bpc, length, sums), what + " " + kind);
        assertUntouchedState(sums, 3, words.length, what + " " + kind);
      }
      byte[] array = new byte[5 + words.length + 2];
      System.arraycopy(words, 0, array, 5, words.length);
      assertEquals(want, ChunkedChecksums.compose(type, bpc, length, array, 5), what + " array");
    }
  }

  // Chunks of up to 2^31 - 1 bytes over words in their thousands: data
  // lengths of pieces past the int range, and a partial last chunk.  Any
  // words are some data's words, so the oracle is combine, word after word,
  // itself checked against the JDK below.
  @ParameterizedTest
  @EnumSource(Type.class)
  void largeChunksAcrossPieces(Type type) {
    int count = 16384 + 4096 + 1;
    Random r = new Random(type.ordinal());
    for (int bpc : new int[] {Integer.MAX_VALUE, 1 << 20}) {
      byte[] words = random(bpc, 4 * count);
      long length = (long) count * bpc - 1 - r.nextInt(bpc - 1);
      ByteBuffer view = ByteBuffer.wrap(words);
      long want = 0;
      for (int i = 0; i < count; i++) {
        long chunk = Math.min(bpc, length - (long) i * bpc);
        want = ChunkedChecksums.combine(type, want, view.getInt(4 * i) & 0xFFFFFFFFL, chunk);
      }
      for (Kind kind : new Kind[] {Kind.HEAP, Kind.HEAP_READ_ONLY, Kind.DIRECT}) {
        assertEquals(
            want,
            ChunkedChecksums.compose(type, bpc, length, kind.make(words, 1)),
            type + " bpc " + bpc + " " + kind);
      }
    }
  }

  // Splits at both ends and at random points, B empty among them.
  @ParameterizedTest
  @EnumSource(Type.class)
  void combineGivesTheJdkCrcOfBothParts(Type type) {
    Random r = new Random(7 + type.ordinal());
    for (int length : new int[] {0, 1, 17, 4096, 100_003}) {
      byte[] data = random(length, length);
      long whole = jdkWhole(type, data, 0, length);
      List<Integer> splits = new ArrayList<>(List.of(0, length));
      for (int i = 0; i < 8 && length > 1; i++) {
        splits.add(1 + r.nextInt(length - 1));
      }
      for (int split : splits) {
        long a = jdkWhole(type, data, 0, split);
        long b = jdkWhole(type, data, split, length - split);
        assertEquals(
            whole,
            ChunkedChecksums.combine(type, a, b, length - split),
            type + " length " + length + " split " + split);
      }
    }
    long a = jdkWhole(type, DATA, 0, 1000);
    assertEquals(a, ChunkedChecksums.combine(type, a, 0, 0), "empty B");
    assertEquals(a ^ 0xFFFFFFFFL, ChunkedChecksums.combine(type, a, 0xFFFFFFFFL, 0));
  }

  // What needs no data or words at all: 0 for no data, whatever the room.
  @Test
  void noDataComposesToZeroFromNothing() {
    for (Type type : Type.values()) {
      assertEquals(0, ChunkedChecksums.compose(type, 512, 0, ByteBuffer.allocateDirect(0)));
      assertEquals(0, ChunkedChecksums.compose(type, 1, 0, ByteBuffer.allocate(4).position(4)));
      assertEquals(0, ChunkedChecksums.compose(type, 7, 0, new byte[3], 3));
      assertEquals(0, ChunkedChecksums.compose(type, 7, 0, new byte[0], 0));
    }
  }

  // --- Bad arguments: the exception and a number or name in its message.

  static Stream<Bad> badArguments() {
    Type c = Type.CRC32C;
    ByteBuffer eight = ByteBuffer.allocate(8);
    byte[] array = new byte[8];
    long max = Long.MAX_VALUE;
    return Stream.of(
        new Bad("combine: null type", NullPointerException.class, "type",
            () -> ChunkedChecksums.combine(null, 1, 2, 3)),
        new Bad("combine: negative crcA", IllegalArgumentException.class, "crcA -1",
            () -> ChunkedChecksums.combine(c, -1, 2, 3)),
        new Bad("combine: crcA of 2^32", IllegalArgumentException.class, "crcA 4294967296",
            () -> ChunkedChecksums.combine(c, 1L << 32, 2, 3)),
        new Bad("combine: negative crcB", IllegalArgumentException.class, "crcB " + Long.MIN_VALUE,
            () -> ChunkedChecksums.combine(c, 1, Long.MIN_VALUE, 3)),
        new Bad("combine: crcB of 2^32", IllegalArgumentException.class, "crcB 4294967296",
            () -> ChunkedChecksums.combine(c, 1, 1L << 32, 3)),
        new Bad("combine: negative lengthB", IllegalArgumentException.class, "lengthB -1",
            () -> ChunkedChecksums.combine(c, 1, 2, -1)),
        new Bad("buffer: null type", NullPointerException.class, "type",
            () -> ChunkedChecksums.compose(null, 512, 10, eight)),
        new Bad("buffer: null sums", NullPointerException.class, "sums",
            () -> ChunkedChecksums.compose(c, 512, 10, (ByteBuffer) null)),
        new Bad("buffer: chunk size 0", IllegalArgumentException.class, "bytesPerChecksum 0",
            () -> ChunkedChecksums.compose(c, 0, 10, eight)),
        new Bad("buffer: negative chunk size", IllegalArgumentException.class, "-512",
            () -> ChunkedChecksums.compose(c, -512, 0, eight)),
        new Bad("buffer: negative length", IllegalArgumentException.class, "dataLength -1",
            () -> ChunkedChecksums.compose(c, 512, -1, eight)),
        new Bad("buffer: a byte short", IndexOutOfBoundsException.class, "room for 7",
            () -> ChunkedChecksums.compose(c, 512, 1024, eight.duplicate().position(1))),
        new Bad("buffer: short of a partial chunk's word", IndexOutOfBoundsException.class,
            "need 3", () -> ChunkedChecksums.compose(c, 512, 1025, eight)),
        new Bad("buffer: read-only, short", IndexOutOfBoundsException.class, "need 3",
            () -> ChunkedChecksums.compose(c, 512, 1025, eight.asReadOnlyBuffer())),
        new Bad("buffer: direct, short", IndexOutOfBoundsException.class, "need 3",
            () -> ChunkedChecksums.compose(c, 512, 1025, ByteBuffer.allocateDirect(8))),
        new Bad("buffer: words past the long range in bytes", IndexOutOfBoundsException.class,
            "need " + max, () -> ChunkedChecksums.compose(c, 1, max, eight)),
        new Bad("buffer: words past the int range", IndexOutOfBoundsException.class,
            "need 4294967299",
            () -> ChunkedChecksums.compose(c, Integer.MAX_VALUE, max, eight)),
        new Bad("array: null type", NullPointerException.class, "type",
            () -> ChunkedChecksums.compose(null, 512, 10, array, 0)),
        new Bad("array: null sums", NullPointerException.class, "sums",
            () -> ChunkedChecksums.compose(c, 512, 10, (byte[]) null, 0)),
        new Bad("array: chunk size 0", IllegalArgumentException.class, "bytesPerChecksum 0",
            () -> ChunkedChecksums.compose(c, 0, 10, array, 0)),
        new Bad("array: negative length", IllegalArgumentException.class, "dataLength -5",
            () -> ChunkedChecksums.compose(c, 512, -5, array, 0)),
        new Bad("array: negative offset", IndexOutOfBoundsException.class, "sumsOffset -1",
            () -> ChunkedChecksums.compose(c, 512, 0, array, -1)),
        new Bad("array: offset past the end", IndexOutOfBoundsException.class, "sumsOffset 9",
            () -> ChunkedChecksums.compose(c, 512, 0, array, 9)),
        new Bad("array: offset at the end, one word needed", IndexOutOfBoundsException.class,
            "room for 0", () -> ChunkedChecksums.compose(c, 512, 1, array, 8)),
        new Bad("array: a byte short", IndexOutOfBoundsException.class, "room for 7",
            () -> ChunkedChecksums.compose(c, 512, 1024, array, 1)),
        new Bad("array: words past the long range in bytes", IndexOutOfBoundsException.class,
            "need " + max, () -> ChunkedChecksums.compose(c, 1, max, array, 0)));
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("badArguments")
  void badArgumentsThrow(Bad bad) {
    Throwable t = assertThrows(bad.thrown(), bad.call());
    assertTrue(
        t.getMessage() != null && t.getMessage().contains(bad.inMessage()),
        "message \"" + t.getMessage() + "\" lacks \"" + bad.inMessage() + "\"");
  }
}
