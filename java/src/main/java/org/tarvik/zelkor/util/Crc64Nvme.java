package org.tarvik.zelkor.util;

import java.lang.invoke.MethodHandles;
import java.lang.invoke.VarHandle;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.zip.Checksum;

/**
 * CRC-64/NVME, the whole-object checksum of object stores, as a {@link Checksum}: width 64,
 * polynomial {@code 0xAD93D23594C93659}, initial value all ones, input and output reflected,
 * final xor all ones. {@code "123456789"} gives {@code 0xAE8B14860A799888}, and no bytes give 0.
 *
 * <pre>{@code
 * Crc64Nvme crc = new Crc64Nvme();
 * crc.update(part1, 0, part1.length);
 * crc.update(part2Buffer);               // any ByteBuffer: heap, direct or read-only
 * long whole = crc.getValue();
 * // The CRC of two parts from the CRC of each, without their bytes:
 * long joined = Crc64Nvme.combine(crcOfPart1, crcOfPart2, part2Length);
 * }</pre>
 *
 * <p>Long updates run in {@code libzelkor.so} when {@link NativeCodeLoader} has loaded it; short
 * ones, below a length at which the native call's own cost outweighs what it saves, run in Java
 * on tables of this class, as does everything when the library is not loaded. The values are the
 * same either way; {@link #implementation()} says which routine runs.
 *
 * <p>An instance holds the state of one running checksum and is not safe for concurrent use: as
 * with the JDK's {@link java.util.zip.CRC32C}, threads that share one must synchronize around
 * each update and {@link #getValue()}. The static methods may be called from any thread.
 *
 * <p><b>Direct buffers.</b> Native code reads a direct buffer through its address, outside the
 * JDK's checks on its own accesses, so the buffer must stay valid for the whole update. One
 * whose memory is already gone is refused as the JDK refuses it: before the native code starts,
 * the byte at its position is read through the JDK, so that a buffer of a closed {@code
 * java.lang.foreign.Arena} raises the JDK's {@link IllegalStateException}. A shared arena closed
 * by another thread during the update leaves the native code reading freed memory; close an
 * arena only once every update over its buffers has returned. A {@link
 * java.nio.MappedByteBuffer} whose file is shrunk below the mapped range during the update ends
 * the process with {@code SIGBUS}, as any native read of such a mapping does (the JDK's own
 * accessors turn that fault into an {@link InternalError}; native code cannot): hold the file's
 * length for the update, or copy the bytes into a buffer of your own first.
 */
public final class Crc64Nvme implements Checksum {
  // Below this many bytes an update runs in Java.  One native call costs
  // about 30 ns (direct buffers) or 37 ns (arrays, whose hold costs more)
  // before its first byte, where the Java tables take 0.75 ns a byte and the
  // library's carry-less folds a small fraction of that: the two cross at 40
  // bytes for direct buffers and 56 for arrays (bench/Crc64NvmeBench.java,
  // JDK 17 and 25, AMD EPYC, 256-bit folds).  On a processor left with the
  // library's portable tables the crossing lies near 128 bytes instead, and
  // updates between the two pay at most 20 ns more than in Java.
  static final int JAVA_BELOW = 48;

  // The native side holds an array out of the collector's reach for at most
  // this many bytes at a time, as ChunkedChecksums does.
  static final int SLICE_BYTES = 1 << 20;

  // Read-only heap buffers expose no array: their bytes are copied into one
  // array of this size at most, kept by the instance, and checksummed from
  // there.
  static final int COPY_BYTES = 64 * 1024;

  // The polynomial without its x^64 term, bit-reflected: bit i holds the
  // coefficient of x^(63-i), as the register does.
  private static final long POLY = Long.reverse(0xAD93D23594C93659L);

  private static final long[] T0 = new long[256];
  private static final long[] T1 = new long[256];
  private static final long[] T2 = new long[256];
  private static final long[] T3 = new long[256];
  private static final long[] T4 = new long[256];
  private static final long[] T5 = new long[256];
  private static final long[] T6 = new long[256];
  private static final long[] T7 = new long[256];

  static {
    long[][] t = {T0, T1, T2, T3, T4, T5, T6, T7};
    for (int b = 0; b < 256; b++) {
      long r = b;
      for (int k = 0; k < 8; k++) {
        r = (r >>> 1) ^ ((r & 1) != 0 ? POLY : 0);
      }
      T0[b] = r;
    }
    for (int k = 1; k < 8; k++) {
      for (int b = 0; b < 256; b++) {
        long prev = t[k - 1][b];
        t[k][b] = (prev >>> 8) ^ T0[(int) prev & 0xFF];
      }
    }
  }

  private static final VarHandle LITTLE_ENDIAN_LONG =
      MethodHandles.byteArrayViewVarHandle(long[].class, ByteOrder.LITTLE_ENDIAN);

  // Set once a native call has returned; until then each long update asks
  // the loader, so that a library loaded after this class is used from then
  // on.
  private static volatile boolean linked;

  // Set when the loaded library lacks these methods (one loaded by a path
  // that skipped the revision check): from then on everything runs in Java.
  private static volatile boolean unlinkable;

  private long crc;
  private byte[] copy;

  /** A checksum of no bytes: {@link #getValue()} gives 0. */
  public Crc64Nvme() {}

  /** Updates the checksum with the low eight bits of {@code b}. */
  @Override
  public void update(int b) {
    long r = ~crc;
    crc = ~((r >>> 8) ^ T0[((int) r ^ b) & 0xFF]);
  }

  /**
   * Updates the checksum with {@code b[off, off + len)}.
   *
   * @throws NullPointerException if {@code b} is null
   * @throws ArrayIndexOutOfBoundsException if {@code off} or {@code len} is negative, or the
   *     range passes the end of {@code b}
   */
  @Override
  public void update(byte[] b, int off, int len) {
    if (b == null) {
      throw new NullPointerException("b");
    }
    if (off < 0 || (len | (b.length - off - len)) < 0) {
      throw new ArrayIndexOutOfBoundsException(
          "range [" + off + ", " + off + " + " + len + ") out of bounds for length " + b.length);
    }
    crc = updateArray(crc, b, off, len);
  }

  /**
   * Updates the checksum with the buffer's remaining bytes, from its position to its limit; on
   * return its position is its limit, and its limit is unchanged. Buffers of every kind are taken:
   * heap ones through their array, direct ones (read-only too) through their address, without a
   * copy, and read-only heap ones through a copy of at most 64 KiB at a time. A direct buffer must
   * stay valid for the whole update (see the class description).
   *
   * @throws NullPointerException if {@code buffer} is null
   * @throws IllegalStateException as the JDK raises it for a buffer of a closed memory segment
   */
  @Override
  public void update(ByteBuffer buffer) {
    int position = buffer.position();
    int limit = buffer.limit();
    int len = limit - position;
    if (len <= 0) {
      return;
    }
    if (buffer.hasArray()) {
      crc = updateArray(crc, buffer.array(), buffer.arrayOffset() + position, len);
    } else if (len < JAVA_BELOW || !nativeReady()) {
      crc = javaBuffer(crc, buffer, position, len);
    } else if (buffer.isDirect()) {
      // The JDK's own access first: a closed segment raises its exception
      // here rather than having its freed memory read.
      buffer.get(position);
      crc = nativeDirect(crc, buffer, position, len);
    } else {
      crc = copied(crc, buffer, position, len);
    }
    buffer.position(limit);
  }

  /** The CRC-64/NVME of the bytes so far, all 64 bits of it; 0 for none. */
  @Override
  public long getValue() {
    return crc;
  }

  /** Starts over: the checksum of no bytes. */
  @Override
  public void reset() {
    crc = 0;
  }

  /**
   * The CRC of data A followed by data B, from the CRC of each and the length of B, without the
   * data; in a time that does not grow with {@code lengthB}. The parts of an object checksummed
   * apart (the parts of a multipart upload, say) give the whole object's CRC this way.
   *
   * @param crcA the CRC of A, as {@link #getValue()} gives it
   * @param crcB the CRC of B, as {@link #getValue()} gives it
   * @param lengthB the length of B in bytes; for 0 (B empty) the result is {@code crcA ^ crcB}
   * @return what {@link #getValue()} gives after updating over A and then B
   * @throws IllegalArgumentException if {@code lengthB} is negative
   */
  public static long combine(long crcA, long crcB, long lengthB) {
    if (lengthB < 0) {
      throw new IllegalArgumentException("lengthB " + lengthB + " is negative");
    }
    if (nativeReady()) {
      try {
        long crc = combineCrcs(crcA, crcB, lengthB);
        markLinked();
        return crc;
      } catch (UnsatisfiedLinkError e) {
        unlinkable = true;
      }
    }
    return combineJava(crcA, crcB, lengthB);
  }

  /**
   * The routine that computes long updates: with the library loaded, the name of the one it
   * chose for this processor when loaded, then what it runs (for example {@code "pclmul (128-bit
   * carry-less folds)"}), or, from a library that names none, that it runs in {@code
   * libzelkor.so}; without the library, that everything runs in Java. Updates shorter than 48
   * bytes run in Java on tables of this class either way.
   *
   * @return a text for people (logs, diagnostics), not for parsing
   */
  public static String implementation() {
    if (nativeReady()) {
      try {
        String name = implementationName();
        markLinked();
        return name != null ? name : "libzelkor.so, which names no routine for CRC-64/NVME";
      } catch (UnsatisfiedLinkError e) {
        unlinkable = true;
      }
    }
    return "Java slice-by-8 tables: libzelkor.so is not loaded";
  }

  // --- Dispatch.

  private static boolean nativeReady() {
    return linked || (!unlinkable && NativeCodeLoader.isLoaded());
  }

  private static void markLinked() {
    if (!linked) {
      linked = true;
    }
  }

  // The range has been checked.
  static long updateArray(long crc, byte[] b, int off, int len) {
    if (len < JAVA_BELOW || !nativeReady()) {
      return javaArray(crc, b, off, len);
    }
    return nativeArray(crc, b, off, len);
  }

  static long nativeArray(long crc, byte[] b, int off, int len) {
    try {
      long updated = updateArray0(crc, b, off, len);
      markLinked();
      return updated;
    } catch (UnsatisfiedLinkError e) {
      unlinkable = true;
      return javaArray(crc, b, off, len);
    }
  }

  static long nativeDirect(long crc, ByteBuffer buffer, int position, int len) {
    try {
      long updated = updateDirect0(crc, buffer, position, len);
      markLinked();
      return updated;
    } catch (UnsatisfiedLinkError e) {
      unlinkable = true;
      return javaBuffer(crc, buffer, position, len);
    }
  }

  // A read-only heap buffer, through the instance's copy, a piece at a time.
  private long copied(long crc, ByteBuffer buffer, int position, int len) {
    if (copy == null) {
      copy = new byte[Math.min(COPY_BYTES, Math.max(len, JAVA_BELOW))];
    } else if (copy.length < Math.min(COPY_BYTES, len)) {
      copy = new byte[Math.min(COPY_BYTES, len)];
    }
    for (int done = 0; done < len; ) {
      int n = Math.min(copy.length, len - done);
      buffer.get(position + done, copy, 0, n);
      crc = updateArray(crc, copy, 0, n);
      done += n;
    }
    return crc;
  }

  // --- The Java path.

  // Eight bytes at a time through eight tables: the byte read first has the
  // most steps of x^8 left to go, so it takes the last table.
  static long javaArray(long crc, byte[] b, int off, int len) {
    long r = ~crc;
    int end = off + len;
    for (; end - off >= 8; off += 8) {
      long v = r ^ (long) LITTLE_ENDIAN_LONG.get(b, off);
      r = T7[(int) v & 0xFF]
          ^ T6[(int) (v >>> 8) & 0xFF]
          ^ T5[(int) (v >>> 16) & 0xFF]
          ^ T4[(int) (v >>> 24) & 0xFF]
          ^ T3[(int) (v >>> 32) & 0xFF]
          ^ T2[(int) (v >>> 40) & 0xFF]
          ^ T1[(int) (v >>> 48) & 0xFF]
          ^ T0[(int) (v >>> 56)];
    }
    for (; off < end; off++) {
      r = (r >>> 8) ^ T0[((int) r ^ b[off]) & 0xFF];
    }
    return ~r;
  }

  // The same through absolute gets of a buffer without an array, which read
  // in the buffer's byte order: a big-endian read is turned round.
  static long javaBuffer(long crc, ByteBuffer buffer, int position, int len) {
    boolean bigEndian = buffer.order() == ByteOrder.BIG_ENDIAN;
    long r = ~crc;
    int at = position;
    int end = position + len;
    for (; end - at >= 8; at += 8) {
      long word = buffer.getLong(at);
      long v = r ^ (bigEndian ? Long.reverseBytes(word) : word);
      r = T7[(int) v & 0xFF]
          ^ T6[(int) (v >>> 8) & 0xFF]
          ^ T5[(int) (v >>> 16) & 0xFF]
          ^ T4[(int) (v >>> 24) & 0xFF]
          ^ T3[(int) (v >>> 32) & 0xFF]
          ^ T2[(int) (v >>> 40) & 0xFF]
          ^ T1[(int) (v >>> 48) & 0xFF]
          ^ T0[(int) (v >>> 56)];
    }
    for (; at < end; at++) {
      r = (r >>> 8) ^ T0[((int) r ^ buffer.get(at)) & 0xFF];
    }
    return ~r;
  }

  // CRC(A B) = CRC(A) * x^(8 lengthB) + CRC(B) mod P: the initial value and
  // the final xor are both all ones, so their terms cancel.  lengthB is at
  // least 0.
  static long combineJava(long crcA, long crcB, long lengthB) {
    long shift = Powers.ONE;
    for (int k = 0; k < 8 && lengthB >>> (8 * k) != 0; k++) {
      shift = Powers.mulMod(shift, Powers.BYTE_POWERS[k][(int) (lengthB >>> (8 * k)) & 0xFF]);
    }
    return Powers.mulMod(crcA, shift) ^ crcB;
  }

  // The powers of x for combining in Java, made on first use only: with the
  // library loaded they are never needed.
  private static final class Powers {
    static final long ONE = 1L << 63; // x^0

    // x^(8 * b * 256^k) mod P at [k][b].
    static final long[][] BYTE_POWERS = new long[8][256];

    static {
      long x8 = ONE >>> 8; // x^8
      for (long[] row : BYTE_POWERS) {
        row[0] = ONE;
        for (int b = 1; b < 256; b++) {
          row[b] = mulMod(row[b - 1], x8);
        }
        x8 = mulMod(row[255], x8);
      }
    }

    // a * b mod P, reflected: b's coefficients from x^0 (its top bit) up,
    // each times a power of x of a kept in step.
    static long mulMod(long a, long b) {
      long product = 0;
      for (; b != 0; b <<= 1) {
        if (b < 0) {
          product ^= a;
        }
        a = (a >>> 1) ^ ((a & 1) != 0 ? POLY : 0);
      }
      return product;
    }
  }

  // --- The native side (src/util/Crc64Nvme.cc).  CRCs in and out as
  // getValue() gives them; every range has been checked.

  // An array of any length: the native side holds it a slice of at most
  // SLICE_BYTES at a time, or copies it in pieces where the JVM's holds are
  // copies of the whole array themselves (as under -Xcheck:jni).
  private static native long updateArray0(long crc, byte[] b, int off, int len);

  // Offset position from the direct buffer's address.
  private static native long updateDirect0(long crc, ByteBuffer buffer, int position, int len);

  private static native long combineCrcs(long crcA, long crcB, long lengthB);

  // The library's static text, or null where it names none.
  private static native String implementationName();
}
