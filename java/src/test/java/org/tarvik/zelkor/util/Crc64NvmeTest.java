package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.IOException;
import java.lang.reflect.Method;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Random;
import java.util.stream.Stream;
import java.util.zip.CRC32C;
import java.util.zip.Checksum;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Crc64Nvme against vectors of an independent implementation (the committed fixture
 * tests/util/fixtures/crc64_nvme_vectors.txt) and the catalogue's check value, over every kind of
 * buffer and form of update; its Java path against the native one where they meet.
 */
class Crc64NvmeTest {
  static final long CHECK = 0xAE8B14860A799888L;

  record Vector(byte[] data, long crc) {}

  static List<Vector> vectors;

  @BeforeAll
  static void load() throws IOException {
    TestLibraries.loadZelkor();
    vectors = readVectors();
  }

  static List<Vector> readVectors() throws IOException {
    String path = System.getProperty("zelkor.crc64.vectors");
    Assumptions.assumeTrue(path != null, "the run names no zelkor.crc64.vectors");
    List<Vector> list = new ArrayList<>();
    for (String line : Files.readAllLines(Path.of(path))) {
      String[] fields = line.trim().split(" ");
      byte[] data = fields[0].equals("-") ? new byte[0] : HexFormat.of().parseHex(fields[0]);
      list.add(new Vector(data, Long.parseUnsignedLong(fields[1], 16)));
    }
    assertEquals(25, list.size(), "vectors in " + path);
    return list;
  }

  static byte[] random(long seed, int length) {
    byte[] data = new byte[length];
    new Random(seed).nextBytes(data);
    return data;
  }

  // --- Buffers of every kind, the data between junk on both sides.

  enum Kind {
    HEAP,
    HEAP_SLICE,
    HEAP_READ_ONLY,
    DIRECT,
    DIRECT_SLICE,
    DIRECT_READ_ONLY,
    DIRECT_LITTLE_ENDIAN;

    ByteBuffer wrap(byte[] data) {
      int before = 13;
      boolean direct = name().startsWith("DIRECT");
      ByteBuffer b =
          direct ? ByteBuffer.allocateDirect(data.length + 29) : ByteBuffer.allocate(data.length + 29);
      for (int i = 0; i < b.capacity(); i++) {
        b.put(i, (byte) (0xA5 ^ i));
      }
      b.put(before, data);
      b.limit(before + data.length).position(before);
      switch (this) {
        case HEAP_SLICE:
        case DIRECT_SLICE:
          // A slice's position counts from its own start, its array offset or
          // address from the parent's: a slice with a position of its own.
          ByteBuffer s = b.position(before - 5).slice();
          s.position(5);
          return s;
        case HEAP_READ_ONLY:
        case DIRECT_READ_ONLY:
          return b.asReadOnlyBuffer();
        case DIRECT_LITTLE_ENDIAN:
          return b.order(ByteOrder.LITTLE_ENDIAN);
        default:
          return b;
      }
    }
  }

  enum Form {
    ONE_SHOT,
    PIECES,
    BYTE_BY_BYTE
  }

  // Pieces of lengths 1, 7, 64 and 300 in turn: short ones in Java, long
  // ones past the cut-over, all continuing one CRC.
  static final int[] PIECES = {1, 7, 64, 300};

  static long crcOf(Kind kind, Form form, byte[] data) {
    Crc64Nvme crc = new Crc64Nvme();
    ByteBuffer b = kind.wrap(data);
    int limit = b.limit();
    switch (form) {
      case ONE_SHOT:
        crc.update(b);
        break;
      case PIECES:
        for (int i = 0, at = b.position(); at < limit; i++) {
          int n = Math.min(PIECES[i % PIECES.length], limit - at);
          b.limit(at + n);
          crc.update(b);
          assertEquals(at + n, b.position(), "position after a piece");
          at += n;
        }
        break;
      case BYTE_BY_BYTE:
        while (b.position() < limit) {
          crc.update(b.get());
        }
        break;
    }
    assertEquals(limit, b.position(), kind + " position after the update");
    assertEquals(limit, b.limit(), kind + " limit after the update");
    return crc.getValue();
  }

  // Data longer than the fixture's reaches the native side in every kind and
  // form but byte by byte; its oracle is the Java path, which the fixture
  // pins down.
  static Stream<Arguments> kindsAndForms() {
    List<Arguments> cases = new ArrayList<>();
    for (Kind kind : Kind.values()) {
      for (Form form : Form.values()) {
        cases.add(Arguments.of(kind, form));
      }
    }
    return cases.stream();
  }

  @ParameterizedTest(name = "{0} {1}")
  @MethodSource("kindsAndForms")
  void everyBufferKindAndFormGivesTheVectors(Kind kind, Form form) {
    for (Vector v : vectors) {
      assertEquals(v.crc(), crcOf(kind, form, v.data()), kind + " " + form + " " + v.data().length);
    }
    byte[] longer = random(kind.ordinal(), 70_000);
    assertEquals(
        Crc64Nvme.javaArray(0, longer, 0, longer.length), crcOf(kind, form, longer), "70000 bytes");
  }

  @Test
  void arraysAtOffsetsGiveTheVectorsInEveryForm() {
    for (Vector v : vectors) {
      int n = v.data().length;
      byte[] padded = new byte[n + 11];
      System.arraycopy(v.data(), 0, padded, 3, n);
      Crc64Nvme one = new Crc64Nvme();
      one.update(padded, 3, n);
      Crc64Nvme pieces = new Crc64Nvme();
      for (int at = 0, i = 0; at < n; i++) {
        int m = Math.min(PIECES[i % PIECES.length], n - at);
        pieces.update(padded, 3 + at, m);
        at += m;
      }
      Crc64Nvme bytes = new Crc64Nvme();
      for (int i = 0; i < n; i++) {
        bytes.update(padded[3 + i]);
      }
      assertEquals(v.crc(), one.getValue(), "one shot " + n);
      assertEquals(v.crc(), pieces.getValue(), "pieces " + n);
      assertEquals(v.crc(), bytes.getValue(), "byte by byte " + n);
      assertEquals(v.crc(), Crc64Nvme.javaArray(0, padded, 3, n), "Java path " + n);
    }
  }

  @Test
  void checkValueNoBytesAndReset() {
    Crc64Nvme crc = new Crc64Nvme();
    assertEquals(0, crc.getValue());
    crc.update(new byte[5], 2, 0);
    crc.update(ByteBuffer.allocateDirect(0));
    assertEquals(0, crc.getValue(), "no bytes");
    byte[] check = "123456789".getBytes(StandardCharsets.US_ASCII);
    crc.update(check);
    assertEquals(CHECK, crc.getValue());
    crc.reset();
    assertEquals(0, crc.getValue(), "after reset");
    crc.update(check, 0, 4);
    crc.update(check, 4, 5);
    assertEquals(CHECK, crc.getValue(), "after reset, in two pieces");
  }

  // Every length up to well past the cut-over, at every alignment of the
  // start: the class's own dispatch, the Java path and the native call agree.
  @Test
  void javaPathEqualsNativeAroundTheCutOver() {
    byte[] data = random(7, 3 * Crc64Nvme.JAVA_BELOW + 8);
    ByteBuffer direct = ByteBuffer.allocateDirect(data.length).put(data);
    long seed = 0x0123456789ABCDEFL;
    for (int off = 0; off < 8; off++) {
      for (int len = 0; off + len <= data.length; len++) {
        long java = Crc64Nvme.javaArray(seed, data, off, len);
        assertEquals(java, Crc64Nvme.nativeArray(seed, data, off, len), "array " + off + "+" + len);
        assertEquals(java, Crc64Nvme.updateArray(seed, data, off, len), "dispatch " + off + "+" + len);
        assertEquals(java, Crc64Nvme.javaBuffer(seed, direct, off, len), "buffer " + off + "+" + len);
        assertEquals(java, Crc64Nvme.nativeDirect(seed, direct, off, len), "direct " + off + "+" + len);
      }
    }
  }

  // The native side holds an array a slice at a time (or copies it in pieces
  // where holds are copies): lengths on both sides of those bounds.
  @Test
  void longArraysAcrossTheSliceBoundMatchTheJavaPath() {
    int slice = Crc64Nvme.SLICE_BYTES;
    byte[] data = random(11, 3 * slice + 100);
    ByteBuffer direct = ByteBuffer.allocateDirect(data.length).put(data);
    for (int len : new int[] {slice - 1, slice, slice + 1, 2 * slice + 16_385, 3 * slice + 93}) {
      long java = Crc64Nvme.javaArray(0, data, 7, len);
      Crc64Nvme crc = new Crc64Nvme();
      crc.update(data, 7, len);
      assertEquals(java, crc.getValue(), "array " + len);
      crc.reset();
      crc.update(direct.limit(7 + len).position(7));
      assertEquals(java, crc.getValue(), "direct " + len);
      crc.reset();
      crc.update(ByteBuffer.wrap(data, 7, len).asReadOnlyBuffer());
      assertEquals(java, crc.getValue(), "read-only heap " + len);
    }
  }

  // --- combine.

  @Test
  void combineJoinsTheCrcsOfConsecutiveData() {
    byte[] data = random(3, 5000);
    for (int split : new int[] {0, 1, 8, 255, 256, 4999, 5000}) {
      Crc64Nvme a = new Crc64Nvme();
      a.update(data, 0, split);
      Crc64Nvme b = new Crc64Nvme();
      b.update(data, split, data.length - split);
      long whole = Crc64Nvme.javaArray(0, data, 0, data.length);
      long lengthB = data.length - split;
      assertEquals(whole, Crc64Nvme.combine(a.getValue(), b.getValue(), lengthB), "split " + split);
      assertEquals(whole, Crc64Nvme.combineJava(a.getValue(), b.getValue(), lengthB), "Java " + split);
    }
  }

  // A run of zero bytes, streamed, against combining with the CRC of the
  // run: lengths through the first bytes of the length's bits.
  @Test
  void combineEqualsStreamingZeros() {
    long crcA = Crc64Nvme.javaArray(0, "123456789".getBytes(StandardCharsets.US_ASCII), 0, 9);
    byte[] zeros = new byte[70_000];
    for (int n : new int[] {0, 1, 7, 8, 255, 256, 257, 65_535, 65_536, 70_000}) {
      long crcZeros = Crc64Nvme.javaArray(0, zeros, 0, n);
      long streamed = Crc64Nvme.javaArray(crcA, zeros, 0, n);
      assertEquals(streamed, Crc64Nvme.combine(crcA, crcZeros, n), "native " + n);
      assertEquals(streamed, Crc64Nvme.combineJava(crcA, crcZeros, n), "Java " + n);
    }
  }

  // Lengths past every byte of the length, 2^32 and beyond included: the
  // Java combine against the library's.
  @Test
  void javaCombineEqualsNativeForLongLengths() {
    Random random = new Random(17);
    long[] lengths = {
      0, 1, (1L << 32) - 1, 1L << 32, (1L << 32) + 1, 5L << 40, 1L << 62, Long.MAX_VALUE
    };
    for (long length : lengths) {
      for (int i = 0; i < 4; i++) {
        long a = random.nextLong();
        long b = random.nextLong();
        assertEquals(
            Crc64Nvme.combine(a, b, length), Crc64Nvme.combineJava(a, b, length), "length " + length);
      }
    }
    assertEquals(0x1234L ^ 0x5678L, Crc64Nvme.combine(0x1234L, 0x5678L, 0));
  }

  @Test
  void combineRefusesNegativeLengths() {
    for (long length : new long[] {-1, Long.MIN_VALUE}) {
      assertThrows(IllegalArgumentException.class, () -> Crc64Nvme.combine(1, 2, length));
    }
  }

  // --- Bad arguments: what java.util.zip.CRC32C throws, and the CRC unchanged.

  static Stream<Arguments> badArrayRanges() {
    return Stream.of(
        Arguments.of(null, 0, 0),
        Arguments.of(new byte[8], -1, 1),
        Arguments.of(new byte[8], 0, -1),
        Arguments.of(new byte[8], 9, 0),
        Arguments.of(new byte[8], 4, 5),
        Arguments.of(new byte[8], Integer.MAX_VALUE, 2),
        Arguments.of(new byte[300], 1, 300));
  }

  @ParameterizedTest
  @MethodSource("badArrayRanges")
  void badArrayRangesThrowWhatCrc32cThrows(byte[] b, int off, int len) {
    Class<? extends Throwable> jdk = thrown(() -> new CRC32C().update(b, off, len));
    Crc64Nvme crc = new Crc64Nvme();
    crc.update(7);
    long before = crc.getValue();
    assertSame(jdk, thrown(() -> crc.update(b, off, len)));
    assertEquals(before, crc.getValue());
  }

  @Test
  void nullBufferThrowsWhatCrc32cThrows() {
    Checksum jdk = new CRC32C();
    assertSame(thrown(() -> jdk.update((ByteBuffer) null)), thrown(() -> new Crc64Nvme().update((ByteBuffer) null)));
  }

  static Class<? extends Throwable> thrown(Executable call) {
    return assertThrows(Throwable.class, call).getClass();
  }

  @Test
  void implementationNamesTheLibrarysRoutine() {
    String name = Crc64Nvme.implementation();
    assertFalse(name.isEmpty());
    assertFalse(name.contains("not loaded"), name);
  }

  // A buffer of a closed arena (java.lang.foreign, final from JDK 22 on,
  // reached by reflection so that this compiles for 17) is refused as the
  // JDK refuses it, on the Java path and before the native one, and leaves
  // the CRC and the position as they were.
  @ParameterizedTest
  @EnumSource(names = {"DIRECT", "DIRECT_READ_ONLY"})
  void closedArenaBufferIsRefusedAsTheJdkRefusesIt(Kind kind) throws Exception {
    Assumptions.assumeTrue(Runtime.version().feature() >= 22, "no final memory segments before 22");
    Class<?> arenaClass = Class.forName("java.lang.foreign.Arena");
    Method allocate = arenaClass.getMethod("allocate", long.class);
    Method asByteBuffer = Class.forName("java.lang.foreign.MemorySegment").getMethod("asByteBuffer");
    for (int length : new int[] {Crc64Nvme.JAVA_BELOW - 1, 4 * Crc64Nvme.JAVA_BELOW}) {
      AutoCloseable arena = (AutoCloseable) arenaClass.getMethod("ofShared").invoke(null);
      ByteBuffer b = (ByteBuffer) asByteBuffer.invoke(allocate.invoke(arena, (long) length));
      ByteBuffer closed = kind == Kind.DIRECT ? b : b.asReadOnlyBuffer();
      arena.close();
      RuntimeException jdk = assertThrows(RuntimeException.class, () -> closed.get(0));
      Crc64Nvme crc = new Crc64Nvme();
      crc.update(1);
      long before = crc.getValue();
      RuntimeException e = assertThrows(RuntimeException.class, () -> crc.update(closed));
      assertSame(jdk.getClass(), e.getClass(), "length " + length);
      assertEquals(before, crc.getValue());
      assertEquals(0, closed.position());
    }
  }
}
