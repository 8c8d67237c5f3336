package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.ReadOnlyBufferException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CountDownLatch;
import java.util.stream.Stream;
import java.util.zip.CRC32;
import java.util.zip.CRC32C;
import java.util.zip.Checksum;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;
import org.tarvik.zelkor.util.ChunkedChecksums.Type;

/**
 * ChunkedChecksums against the JDK's own CRC32C and CRC32, chunk by chunk, over every kind of
 * buffer the JDK makes; -Xcheck:jni watches every JNI call of the native side.
 */
class ChunkedChecksumsTest {
  @BeforeAll
  static void load() {
    TestLibraries.loadZelkor();
  }

  // --- The oracle: java.util.zip, one chunk at a time.

  static Checksum jdk(Type type) {
    return type == Type.CRC32C ? new CRC32C() : new CRC32();
  }

  static int jdkCrc(Type type, byte[] data, int offset, int length) {
    Checksum c = jdk(type);
    c.update(data, offset, length);
    return (int) c.getValue();
  }

  static byte[] jdkSums(Type type, int bytesPerChecksum, byte[] data, int offset, int length) {
    ByteBuffer sums = ByteBuffer.allocate(4 * ((length + bytesPerChecksum - 1) / bytesPerChecksum));
    for (int at = 0; at < length; at += bytesPerChecksum) {
      sums.putInt(jdkCrc(type, data, offset + at, Math.min(bytesPerChecksum, length - at)));
    }
    return sums.array();
  }

  static byte[] random(long seed, int length) {
    byte[] data = new byte[length];
    new Random(seed).nextBytes(data);
    return data;
  }

  // --- Buffers of every kind, their content between junk on both sides.

  enum Kind {
    HEAP,
    HEAP_SLICE,
    HEAP_READ_ONLY,
    HEAP_LITTLE_ENDIAN_DUPLICATE,
    DIRECT,
    DIRECT_SLICE,
    DIRECT_READ_ONLY,
    DIRECT_LITTLE_ENDIAN_DUPLICATE;

    boolean readOnly() {
      return this == HEAP_READ_ONLY || this == DIRECT_READ_ONLY;
    }

    // The content lies at [pad, pad + length) of the view, which is also its
    // position and limit; the mark is one byte before the position.
    ByteBuffer make(byte[] content, int pad) {
      int capacity = 11 + pad + content.length + 7;
      ByteBuffer base =
          name().startsWith("DIRECT")
              ? ByteBuffer.allocateDirect(capacity)
              : ByteBuffer.allocate(capacity);
      for (int i = 0; i < capacity; i++) {
        base.put(i, (byte) 0xA5);
      }
      ByteBuffer view;
      switch (this) {
        case HEAP_SLICE:
        case DIRECT_SLICE:
          view = base.position(11).slice();
          base.position(0);
          break;
        case HEAP_LITTLE_ENDIAN_DUPLICATE:
        case DIRECT_LITTLE_ENDIAN_DUPLICATE:
          view = base.duplicate().order(ByteOrder.LITTLE_ENDIAN);
          break;
        default:
          view = base;
      }
      view.put(pad, content);
      if (readOnly()) {
        view = view.asReadOnlyBuffer();
      }
      view.limit(pad + content.length).position(pad - 1).mark().position(pad);
      return view;
    }
  }

  static void assertUntouchedState(ByteBuffer b, int pad, int length, String what) {
    assertEquals(pad, b.position(), what + " position");
    assertEquals(pad + length, b.limit(), what + " limit");
    b.reset();
    assertEquals(pad - 1, b.position(), what + " mark");
    b.position(pad);
  }

  static byte[] content(ByteBuffer b) {
    byte[] out = new byte[b.remaining()];
    b.get(b.position(), out);
    return out;
  }

  // --- Results.

  static Stream<Arguments> chunkSizes() {
    List<Arguments> cases = new ArrayList<>();
    int[] sample = {127, 128, 512, 1000, 4096, 65535, 65536};
    for (Type type : Type.values()) {
      for (int bpc = 1; bpc <= 70; bpc++) {
        cases.add(Arguments.of(type, bpc));
      }
      for (int bpc : sample) {
        cases.add(Arguments.of(type, bpc));
      }
    }
    return cases.stream();
  }

  // Lengths with and without a partial chunk, below one chunk, and none;
  // from offsets in the data array and to offsets in the checksum array
  // that are not multiples of four.
  @ParameterizedTest
  @MethodSource("chunkSizes")
  void arraysGiveTheJdkWordsForEveryLength(Type type, int bpc) throws Exception {
    byte[] data = random(bpc, 3 * bpc + 300);
    for (int length : new int[] {0, 1, bpc - 1, bpc, 2 * bpc + 1, 3 * bpc, 3 * bpc + 299}) {
      if (length < 0) {
        continue;
      }
      for (int offset : new int[] {0, 1}) {
        byte[] want = jdkSums(type, bpc, data, offset, length);
        byte[] sums = new byte[3 + want.length + 5];
        Arrays.fill(sums, (byte) 0x5A);
        ChunkedChecksums.compute(type, bpc, data, offset, length, sums, 3);
        String what = type + " bpc " + bpc + " length " + length + " offset " + offset;
        assertArrayEquals(want, Arrays.copyOfRange(sums, 3, 3 + want.length), what);
        for (int i : new int[] {0, 1, 2, 3 + want.length, sums.length - 1}) {
          assertEquals((byte) 0x5A, sums[i], what + ": byte " + i + " outside the words");
        }
        ChunkedChecksums.verify(type, bpc, data, offset, length, sums, 3, 0);
      }
    }
  }

  // The nine digits "123456789" as one chunk: the check values of both CRCs.
  @Test
  void checkValues() {
    byte[] digits = "123456789".getBytes(java.nio.charset.StandardCharsets.US_ASCII);
    byte[] sums = new byte[4];
    ChunkedChecksums.compute(Type.CRC32C, 9, digits, 0, 9, sums, 0);
    assertArrayEquals(new byte[] {(byte) 0xE3, 0x06, (byte) 0x92, (byte) 0x83}, sums);
    ChunkedChecksums.compute(Type.CRC32, 512, digits, 0, 9, sums, 0);
    assertArrayEquals(new byte[] {(byte) 0xCB, (byte) 0xF4, 0x39, 0x26}, sums);
  }

  static Stream<Arguments> kindPairs() {
    List<Arguments> cases = new ArrayList<>();
    for (Kind data : Kind.values()) {
      for (Kind sums : Kind.values()) {
        for (int pad : new int[] {3, 8}) {
          cases.add(Arguments.of(data, sums, pad));
        }
      }
    }
    return cases.stream();
  }

  // Every kind of data buffer with every kind of checksum buffer, the words
  // at an odd and an aligned position: the same words, big-endian whatever
  // the buffers' order, and no buffer's position, limit or mark moved.
  @ParameterizedTest
  @MethodSource("kindPairs")
  void everyBufferKindWithEveryOther(Kind dataKind, Kind sumsKind, int pad) throws Exception {
    byte[] bytes = random(pad * 31 + dataKind.ordinal(), 70_000 + 123);
    for (Type type : Type.values()) {
      for (int bpc : new int[] {1, 64, 512, 1021}) {
        byte[] want = jdkSums(type, bpc, bytes, 0, bytes.length);
        String what = type + " bpc " + bpc + " " + dataKind + " -> " + sumsKind + " pad " + pad;
        ByteBuffer data = dataKind.make(bytes, pad);
        ByteBuffer sums = sumsKind.make(new byte[want.length], pad);
        if (sumsKind.readOnly()) {
          assertThrows(
              ReadOnlyBufferException.class,
              () -> ChunkedChecksums.compute(type, bpc, data, sums),
              what);
          ByteBuffer stored = sumsKind.make(want, pad);
          ChunkedChecksums.verify(type, bpc, data, stored, 0);
          assertUntouchedState(stored, pad, want.length, what + " sums");
        } else {
          ChunkedChecksums.compute(type, bpc, data, sums);
          assertArrayEquals(want, content(sums), what);
          assertUntouchedState(sums, pad, want.length, what + " sums");
          ChunkedChecksums.verify(type, bpc, data, sums, 0);
          assertUntouchedState(sums, pad, want.length, what + " sums after verify");
        }
        assertUntouchedState(data, pad, bytes.length, what + " data");
      }
    }
  }

  // --- Mismatches.

  static ChecksumMismatchException expectMismatch(Executable call) {
    return assertThrows(ChecksumMismatchException.class, call);
  }

  static void assertMismatch(
      ChecksumMismatchException e, long position, int expected, int computed, String what) {
    assertEquals(position, e.position(), what + ": position");
    assertEquals(expected, e.expected(), what + ": expected");
    assertEquals(computed, e.computed(), what + ": computed");
    assertEquals(
        "checksum mismatch at position "
            + position
            + ": expected "
            + String.format("%08x", expected)
            + ", computed "
            + String.format("%08x", computed),
        e.getMessage(),
        what);
  }

  // Small calls go to the JDK's checksums, larger ones to the native side:
  // on both sides of each type's cut-over, every buffer kind and the array
  // form give the JDK's words, and a damaged chunk the same report.
  static Stream<Arguments> cutOver() {
    List<Arguments> cases = new ArrayList<>();
    for (Type type : Type.values()) {
      int below = type == Type.CRC32C ? ChunkedChecksums.CRC32C_JAVA_BELOW
          : ChunkedChecksums.CRC32_JAVA_BELOW;
      for (int length : new int[] {1, below - 1, below, below + 1}) {
        for (int chunk : new int[] {1, 100, 512, 1 << 20}) {
          cases.add(Arguments.of(type, length, chunk));
        }
      }
    }
    return cases.stream();
  }

  @ParameterizedTest
  @MethodSource("cutOver")
  void bothSidesOfTheCutOverAgree(Type type, int length, int chunk) throws Exception {
    byte[] data = random(length * 31L + chunk, length);
    byte[] want = jdkSums(type, chunk, data, 0, length);
    String what = type + " " + length + " bytes in chunks of " + chunk;
    byte[] sums = new byte[want.length + 3];
    ChunkedChecksums.compute(type, chunk, data, 0, length, sums, 3);
    assertArrayEquals(want, Arrays.copyOfRange(sums, 3, sums.length), what);
    int damaged = (length - 1) / chunk;  // the last chunk
    byte[] bad = data.clone();
    bad[length - 1] ^= 1;
    int computed = jdkCrc(type, bad, damaged * chunk, length - damaged * chunk);
    int expected = ByteBuffer.wrap(want).getInt(4 * damaged);
    assertMismatch(
        expectMismatch(() -> ChunkedChecksums.verify(type, chunk, bad, 0, length, want, 0, 7)),
        7L + (long) damaged * chunk, expected, computed, what + ", array");
    for (Kind kind : Kind.values()) {
      ByteBuffer out = ByteBuffer.allocate(want.length);
      ChunkedChecksums.compute(type, chunk, kind.make(data, 5), out);
      assertArrayEquals(want, out.array(), what + ", " + kind);
      assertMismatch(
          expectMismatch(
              () -> ChunkedChecksums.verify(type, chunk, kind.make(bad, 5), kind.make(want, 2), 7)),
          7L + (long) damaged * chunk, expected, computed, what + ", " + kind);
    }
  }

  @Test
  void messageShowsPositionInDecimalAndWordsAsEightHexDigits() {
    assertEquals(
        "checksum mismatch at position 1536: expected 000000ab, computed ffffffff",
        new ChecksumMismatchException(1536, 0xAB, -1).getMessage());
  }

  // Which chunks are damaged (by index; -1 stands for the partial last one)
  // in data of 300 chunks of 512 bytes and a partial chunk of 77: the
  // earliest is reported.  A run of this size passes the 64 KiB pieces in
  // which read-only heap buffers are copied.
  static Stream<Arguments> damage() {
    return Stream.of(
        Arguments.of("first chunk", new int[] {0}),
        Arguments.of("second of a group", new int[] {1}),
        Arguments.of("middle chunk", new int[] {150}),
        Arguments.of("first chunk of a later copy piece", new int[] {128}),
        Arguments.of("last whole chunk", new int[] {299}),
        Arguments.of("partial last chunk", new int[] {-1}),
        Arguments.of("earlier of two", new int[] {250, 37}),
        Arguments.of("earlier of two in one group", new int[] {5, 4}));
  }

  static final int BPC = 512;
  static final int LENGTH = 300 * BPC + 77;

  // Damages the given chunks of data (one byte each); returns the first.
  static int damageChunks(byte[] data, int offset, int[] chunks) {
    int first = Integer.MAX_VALUE;
    for (int c : chunks) {
      int chunk = c < 0 ? LENGTH / BPC : c;
      data[offset + chunk * BPC + Math.min(BPC, LENGTH - chunk * BPC) / 2] ^= 0x10;
      first = Math.min(first, chunk);
    }
    return first;
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("damage")
  void arrayMismatchNamesTheEarliestDamagedChunk(String name, int[] chunks) {
    for (Type type : Type.values()) {
      byte[] data = random(chunks.length + 7, 5 + LENGTH);
      byte[] sums = new byte[2 + 4 * (LENGTH / BPC + 1)];
      ChunkedChecksums.compute(type, BPC, data, 5, LENGTH, sums, 2);
      int first = damageChunks(data, 5, chunks);
      int at = first * BPC;
      ChecksumMismatchException e =
          expectMismatch(() -> ChunkedChecksums.verify(type, BPC, data, 5, LENGTH, sums, 2, 1L << 40));
      assertMismatch(
          e,
          (1L << 40) + at,
          ByteBuffer.wrap(sums, 2 + 4 * first, 4).getInt(),
          jdkCrc(type, data, 5 + at, Math.min(BPC, LENGTH - at)),
          type + " " + name);
    }
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("damage")
  void bufferMismatchCountsFromTheDataPosition(String name, int[] chunks) {
    for (Kind dataKind : Kind.values()) {
      for (Kind sumsKind : new Kind[] {Kind.HEAP, Kind.DIRECT_SLICE, Kind.HEAP_READ_ONLY}) {
        byte[] bytes = random(dataKind.ordinal(), LENGTH);
        byte[] stored = jdkSums(Type.CRC32C, BPC, bytes, 0, LENGTH);
        int first = damageChunks(bytes, 0, chunks);
        int at = first * BPC;
        String what = name + " " + dataKind + " " + sumsKind;
        ByteBuffer data = dataKind.make(bytes, 3);
        ByteBuffer sums = sumsKind.make(stored, 3);
        ChecksumMismatchException e =
            expectMismatch(() -> ChunkedChecksums.verify(Type.CRC32C, BPC, data, sums, -100));
        assertMismatch(
            e,
            -100L + at,
            ByteBuffer.wrap(stored, 4 * first, 4).getInt(),
            jdkCrc(Type.CRC32C, bytes, at, Math.min(BPC, LENGTH - at)),
            what);
        assertUntouchedState(data, 3, LENGTH, what);
        assertUntouchedState(sums, 3, stored.length, what);
      }
    }
  }

  // A damaged stored word rather than damaged data.
  @Test
  void damagedStoredWordIsReportedAsExpected() {
    byte[] data = random(3, 10 * 100);
    byte[] sums = jdkSums(Type.CRC32, 100, data, 0, data.length);
    sums[4 * 6 + 3] ^= 1;
    ChecksumMismatchException e =
        expectMismatch(() -> ChunkedChecksums.verify(Type.CRC32, 100, data, 0, 1000, sums, 0, 0));
    int crc = jdkCrc(Type.CRC32, data, 600, 100);
    assertMismatch(e, 600, crc ^ 1, crc, "stored word 6");
  }

  // --- Arrays past the bound of one critical hold (1 MiB of data or of
  // words): results and positions stay global across the slices.

  static Stream<Arguments> largeArrays() {
    return Stream.of(
        Arguments.of(512, 3 * (1 << 20) + 100), // data bound: four slices, a partial chunk
        Arguments.of(1, 1 << 20 | 12345), // word bound: 262144 chunks a slice
        Arguments.of(3 << 20 | 5, 7 << 20)); // chunks past the bound, one a slice
  }

  @ParameterizedTest
  @MethodSource("largeArrays")
  void largeArraysAcrossSlices(int bpc, int length) {
    byte[] data = random(length, length + 1);
    int words = (int) ((length + (long) bpc - 1) / bpc);
    for (Type type : Type.values()) {
      byte[] want = jdkSums(type, bpc, data, 1, length);
      byte[] sums = new byte[4 * words + 1];
      ChunkedChecksums.compute(type, bpc, data, 1, length, sums, 1);
      assertArrayEquals(want, Arrays.copyOfRange(sums, 1, sums.length), type + " bpc " + bpc);
      // The last chunk, in the last slice.
      int at = (words - 1) * bpc;
      data[1 + length - 1] ^= 0x01;
      ChecksumMismatchException e =
          expectMismatch(() -> ChunkedChecksums.verify(type, bpc, data, 1, length, sums, 1, 7));
      assertMismatch(
          e,
          7L + at,
          ByteBuffer.wrap(want, 4 * (words - 1), 4).getInt(),
          jdkCrc(type, data, 1 + at, length - at),
          type + " bpc " + bpc);
      data[1 + length - 1] ^= 0x01;
    }
  }

  // --- Read-only heap data in chunks longer than its copy pieces (64 KiB),
  // each chunk's CRC continued across pieces: the words of the writable
  // form, and its mismatch report for damage past a chunk's first piece and
  // in the partial last chunk.

  static Stream<Arguments> longChunks() {
    return Stream.of(
        Arguments.of(64 * 1024 + 1, 5 * 64 * 1024 + 3), // a chunk a byte past a piece
        Arguments.of(3 << 20 | 5, 7 << 20)); // chunks of many pieces
  }

  @ParameterizedTest
  @MethodSource("longChunks")
  void readOnlyHeapDataInLongChunksAsTheWritableForm(int bpc, int length) throws Exception {
    byte[] bytes = random(bpc, length);
    for (Type type : Type.values()) {
      byte[] want = jdkSums(type, bpc, bytes, 0, length);
      for (Kind sumsKind : new Kind[] {Kind.HEAP, Kind.DIRECT_LITTLE_ENDIAN_DUPLICATE, Kind.HEAP_READ_ONLY}) {
        String what = type + " bpc " + bpc + " sums " + sumsKind;
        ByteBuffer data = Kind.HEAP_READ_ONLY.make(bytes, 3);
        if (!sumsKind.readOnly()) {
          ByteBuffer sums = sumsKind.make(new byte[want.length], 5);
          ChunkedChecksums.compute(type, bpc, data, sums);
          assertArrayEquals(want, content(sums), what);
          assertUntouchedState(sums, 5, want.length, what + " sums");
        }
        ByteBuffer stored = sumsKind.make(want, 5);
        ChunkedChecksums.verify(type, bpc, data, stored, 0);
        assertUntouchedState(data, 3, length, what + " data");
        for (int at : new int[] {bpc + bpc / 2, length - 1}) {
          byte[] damaged = bytes.clone();
          damaged[at] ^= 0x08;
          ChecksumMismatchException readOnly =
              expectMismatch(
                  () -> ChunkedChecksums.verify(
                      type, bpc, Kind.HEAP_READ_ONLY.make(damaged, 3), stored, 1L << 40));
          ChecksumMismatchException writable =
              expectMismatch(
                  () -> ChunkedChecksums.verify(
                      type, bpc, Kind.HEAP.make(damaged, 3), stored, 1L << 40));
          String where = what + " damage at " + at;
          assertEquals((1L << 40) + at - at % bpc, writable.position(), where);
          assertMismatch(
              readOnly, writable.position(), writable.expected(), writable.computed(), where);
        }
        assertUntouchedState(stored, 5, want.length, what + " stored");
      }
    }
  }

  // --- basePosition at the top of the range.

  // The largest base whose every position fits a long: a mismatch in the
  // last chunk is reported at its true position.  A base one larger is
  // refused (badArguments).
  @Test
  void largestBaseReportsTheLastChunkAtItsPosition() {
    byte[] data = random(9, 1000);
    byte[] sums = jdkSums(Type.CRC32C, 512, data, 0, 1000);
    data[999] ^= 1;
    long base = Long.MAX_VALUE - 1000;
    for (Executable verify :
        List.<Executable>of(
            () -> ChunkedChecksums.verify(Type.CRC32C, 512, data, 0, 1000, sums, 0, base),
            () -> ChunkedChecksums.verify(
                Type.CRC32C, 512, ByteBuffer.wrap(data), ByteBuffer.wrap(sums), base))) {
      assertEquals(base + 512, expectMismatch(verify).position());
    }
  }

  // --- Bad arguments: the exception, numbers in its message, nothing written.

  static final byte[] DATA = new byte[1000];
  static final byte[] SUMS = new byte[8];

  record Bad(String name, Class<? extends Throwable> thrown, String inMessage, Executable call) {
    @Override
    public String toString() {
      return name;
    }
  }

  static Stream<Bad> badArguments() {
    Type c = Type.CRC32C;
    ByteBuffer data = ByteBuffer.allocate(1000);
    ByteBuffer sums = ByteBuffer.wrap(SUMS);
    return Stream.of(
        new Bad("null type", NullPointerException.class, "type",
            () -> ChunkedChecksums.compute(null, 512, DATA, 0, 1000, SUMS, 0)),
        new Bad("null data array", NullPointerException.class, "data",
            () -> ChunkedChecksums.compute(c, 512, null, 0, 1000, SUMS, 0)),
        new Bad("null sums array", NullPointerException.class, "sums",
            () -> ChunkedChecksums.verify(c, 512, DATA, 0, 1000, null, 0, 0)),
        new Bad("null data buffer", NullPointerException.class, "data",
            () -> ChunkedChecksums.verify(c, 512, null, sums, 0)),
        new Bad("null sums buffer", NullPointerException.class, "sums",
            () -> ChunkedChecksums.compute(c, 512, data, null)),
        new Bad("chunk size 0", IllegalArgumentException.class, "bytesPerChecksum 0",
            () -> ChunkedChecksums.compute(c, 0, DATA, 0, 1000, SUMS, 0)),
        new Bad("chunk size -512", IllegalArgumentException.class, "-512",
            () -> ChunkedChecksums.verify(c, -512, data, sums, 0)),
        new Bad("negative offset", IndexOutOfBoundsException.class, "-1",
            () -> ChunkedChecksums.compute(c, 512, DATA, -1, 10, SUMS, 0)),
        new Bad("negative length", IndexOutOfBoundsException.class, "-10",
            () -> ChunkedChecksums.compute(c, 512, DATA, 0, -10, SUMS, 0)),
        new Bad("range past the data", IndexOutOfBoundsException.class, "1000",
            () -> ChunkedChecksums.verify(c, 512, DATA, 999, 2, SUMS, 0, 0)),
        new Bad("range overflowing int", IndexOutOfBoundsException.class, "2147483647",
            () -> ChunkedChecksums.compute(c, 512, DATA, Integer.MAX_VALUE, 2, SUMS, 0)),
        new Bad("negative sums offset", IndexOutOfBoundsException.class, "-4",
            () -> ChunkedChecksums.compute(c, 512, DATA, 0, 1000, SUMS, -4)),
        new Bad("sums offset past the end", IndexOutOfBoundsException.class, "9",
            () -> ChunkedChecksums.compute(c, 512, DATA, 0, 0, SUMS, 9)),
        new Bad("sums array one byte short", IndexOutOfBoundsException.class, "need 2",
            () -> ChunkedChecksums.compute(c, 512, DATA, 0, 1000, SUMS, 1)),
        new Bad("sums array short of a partial chunk's word", IndexOutOfBoundsException.class,
            "need 3", () -> ChunkedChecksums.compute(c, 400, DATA, 0, 1000, SUMS, 0)),
        new Bad("sums buffer short", IndexOutOfBoundsException.class, "room for 7",
            () -> ChunkedChecksums.compute(c, 512, data, ByteBuffer.wrap(SUMS).position(1))),
        // Checked before anything is computed: the zeros of the data do
        // not match the words, so a computing call would report a mismatch.
        new Bad("array base plus length past Long.MAX_VALUE", IllegalArgumentException.class,
            "basePosition 9223372036854774808 plus the data's length 1000",
            () -> ChunkedChecksums.verify(c, 512, DATA, 0, 1000, SUMS, 0, Long.MAX_VALUE - 999)),
        new Bad("buffer base plus length past Long.MAX_VALUE", IllegalArgumentException.class,
            "basePosition 9223372036854775807",
            () -> ChunkedChecksums.verify(c, 512, data, sums, Long.MAX_VALUE)),
        new Bad("read-only heap sums", ReadOnlyBufferException.class, null,
            () -> ChunkedChecksums.compute(c, 512, data, sums.asReadOnlyBuffer())),
        new Bad("read-only direct sums", ReadOnlyBufferException.class, null,
            () -> ChunkedChecksums.compute(c, 512, data,
                ByteBuffer.allocateDirect(8).asReadOnlyBuffer())));
  }

  @ParameterizedTest(name = "{0}")
  @MethodSource("badArguments")
  void badArgumentsThrowAndWriteNothing(Bad bad) {
    Arrays.fill(SUMS, (byte) 0x5A);
    Throwable t = assertThrows(bad.thrown(), bad.call());
    if (bad.inMessage() != null) {
      assertTrue(
          t.getMessage() != null && t.getMessage().contains(bad.inMessage()),
          "message \"" + t.getMessage() + "\" lacks \"" + bad.inMessage() + "\"");
    }
    for (byte b : SUMS) {
      assertEquals((byte) 0x5A, b, "sums written");
    }
  }

  // --- Threads at once, each on its own buffers of random kinds.

  @Test
  void manyThreadsAtOnce() throws Exception {
    int threads = 8;
    ConcurrentLinkedQueue<String> wrong = new ConcurrentLinkedQueue<>();
    CountDownLatch start = new CountDownLatch(1);
    List<Thread> running = new ArrayList<>();
    for (int t = 0; t < threads; t++) {
      final long seed = t;
      Thread thread =
          new Thread(
              () -> {
                Random r = new Random(seed);
                try {
                  start.await();
                  for (int i = 0; i < 300 && wrong.isEmpty(); i++) {
                    Type type = Type.values()[r.nextInt(2)];
                    int bpc = 1 + r.nextInt(r.nextBoolean() ? 70 : 8192);
                    byte[] bytes = new byte[r.nextInt(100_000)];
                    r.nextBytes(bytes);
                    byte[] want = jdkSums(type, bpc, bytes, 0, bytes.length);
                    Kind dataKind = Kind.values()[r.nextInt(Kind.values().length)];
                    Kind sumsKind = r.nextBoolean() ? Kind.DIRECT : Kind.HEAP_SLICE;
                    ByteBuffer sums = sumsKind.make(new byte[want.length], 1 + r.nextInt(4));
                    ChunkedChecksums.compute(type, bpc, dataKind.make(bytes, 5), sums);
                    if (!Arrays.equals(want, content(sums))) {
                      wrong.add(type + " bpc " + bpc + " " + dataKind + " -> " + sumsKind);
                    }
                    if (bytes.length > 0) {
                      int at = r.nextInt(bytes.length);
                      bytes[at] ^= 0x40;
                      try {
                        ChunkedChecksums.verify(type, bpc, dataKind.make(bytes, 5), sums, 0);
                        wrong.add("no mismatch at " + at);
                      } catch (ChecksumMismatchException e) {
                        if (e.position() != at - at % bpc) {
                          wrong.add("mismatch at " + e.position() + ", damage at " + at);
                        }
                      }
                    }
                  }
                } catch (Throwable e) {
                  wrong.add(e.toString());
                }
              });
      thread.start();
      running.add(thread);
    }
    start.countDown();
    for (Thread thread : running) {
      thread.join();
    }
    if (!wrong.isEmpty()) {
      fail(String.join("\n", wrong));
    }
  }
}
