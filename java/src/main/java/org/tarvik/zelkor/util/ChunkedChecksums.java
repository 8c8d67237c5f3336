package org.tarvik.zelkor.util;

import java.lang.invoke.MethodHandles;
import java.lang.invoke.VarHandle;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.ReadOnlyBufferException;
import java.util.Objects;
import java.util.zip.CRC32;
import java.util.zip.CRC32C;

/**
 * Per-chunk checksums of a whole buffer in one call, computed or verified in {@code
 * libzelkor.so} (load it first with {@link NativeCodeLoader}).
 *
 * <p>The data is cut into chunks of {@code bytesPerChecksum} bytes, the last of which may be
 * shorter. Each chunk has one stored checksum word of four bytes, in chunk order: the value that
 * {@code (int) getValue()} of the JDK's {@link java.util.zip.CRC32C} (or {@link
 * java.util.zip.CRC32}) gives for the chunk alone, written big-endian whatever the buffer's byte
 * order.
 *
 * <p>Buffers of every kind are taken as they are: direct ones through their address, without a
 * copy; heap ones through their array; read-only heap ones, which expose no array, through a
 * copy in pieces of at most 64 KiB of data and 256 KiB of words, whatever the chunk size (a
 * longer chunk's checksum is continued across its pieces). The positions, limits and marks of
 * the buffers never change. A heap array is held out of the garbage collector's reach for one
 * slice of whole chunks at a time, at most 1 MiB of data and 1 MiB of checksum words; a single
 * chunk longer than that is a slice of its own and holds the collector for its whole length.
 * Where the JVM hands out a copy of the whole array at every such hold, as it does under {@code
 * -Xcheck:jni}, a call of more than one slice finds that out first and copies the arrays in
 * pieces of 256 KiB instead, holding nothing: the call then costs about one copy of each array,
 * not one per slice.
 *
 * <p><b>Memory that goes away.</b> Direct buffers are read and written by native code, which the
 * JDK's checks on its own accesses do not cover, so every buffer must stay valid for the whole
 * call:
 *
 * <ul>
 *   <li>Before the native code starts, each non-empty buffer is touched once through the JDK's
 *       own access (a {@code get} of the byte at its position). A buffer over memory that is
 *       already gone is refused as the JDK refuses it, before anything is read or written: one of
 *       a closed {@code java.lang.foreign.Arena} (JDK 22 and later) raises the JDK's {@link
 *       IllegalStateException}, and one of a confined arena, used from a thread other than its
 *       owner, raises what the JDK raises there.
 *   <li>Memory released while the call runs cannot be caught: a shared arena closed by another
 *       thread during the call leaves the native code reading or writing freed memory, which can
 *       corrupt or crash the JVM, then or later. Close an arena only once every call on its
 *       buffers has returned. A confined arena is safe: only its owner thread may close it, and
 *       that thread is inside the call.
 *   <li>A buffer mapped from a file ({@link java.nio.MappedByteBuffer}) whose file is shrunk
 *       below the mapped range during the call ends the process with {@code SIGBUS}, as any
 *       native read or write of such a mapping does (the JDK's own accessors turn that fault into
 *       an {@link InternalError}; native code cannot, and this library installs no signal
 *       handler). Hold the file's length for the call: a lock that every process that could
 *       truncate the file honours, or an agreement that nothing shortens a file while it is
 *       mapped; or copy the bytes into a buffer of your own first and pass that.
 * </ul>
 *
 * <p>The stored words also give the CRC of a whole buffer, block or object without reading its
 * data again: {@link #compose compose} turns the words of a buffer into the CRC of all of the
 * buffer's bytes, and {@link #combine combine} joins the CRCs of consecutive buffers into the CRC
 * of them one after the other, so that an object stored in blocks gets its whole CRC from each
 * block's words. Both take and give the values that {@code getValue()} of {@link
 * java.util.zip.CRC32C} or {@link java.util.zip.CRC32} gives, in [0, 2<sup>32</sup>), the CRC of
 * no bytes being 0.
 *
 * <p>No state: any number of threads may call in at once, each on buffers that no other thread
 * changes meanwhile. Bad arguments raise their exception before anything is written.
 */
public final class ChunkedChecksums {
  /** The checksum of a chunk. */
  public enum Type {
    /** CRC-32C (Castagnoli), as {@link java.util.zip.CRC32C}. */
    CRC32C,
    /** zlib's CRC-32, as {@link java.util.zip.CRC32}. */
    CRC32
  }

  // Read-only heap buffers are copied in pieces of whole chunks of about this
  // many bytes (of data, or of words when composing), so that the copy stays
  // small whatever the buffer's size.  Data in chunks longer than this goes
  // to java.util.zip a chunk at a time instead, which copies a buffer
  // without an array through a small piece of its own.
  private static final int COPY_PIECE_BYTES = 64 * 1024;

  private static final long CRC_LIMIT = 1L << 32;

  // Below these lengths of data the JDK's own CRC32C and CRC32, a chunk at a
  // time, cost less than one native call, whose fixed cost (the transition,
  // the buffers' addresses or the arrays' holds) outweighs what the native
  // kernels gain (measured with bench/ChunkedChecksumsBench.java, JDK 17,
  // 512-byte chunks, on AMD Zen 3).  The words are the same either way.
  static final int CRC32C_JAVA_BELOW = 4096;
  static final int CRC32_JAVA_BELOW = 2048;

  // Set once a native call has returned: from then on, calls small enough
  // for the Java path need not reach the native side to show that the
  // library is loaded.
  private static volatile boolean linked;

  private static final VarHandle BIG_ENDIAN_INT =
      MethodHandles.byteArrayViewVarHandle(int[].class, ByteOrder.BIG_ENDIAN);

  private static final byte[] NO_BYTES = {};

  private ChunkedChecksums() {}

  /**
   * Stores the checksum of every chunk of {@code data}'s remaining bytes into {@code sums}, four
   * bytes each, from its position on.
   *
   * <p>{@code data} and {@code sums} must not share memory: where they overlap, the stored words
   * (and the data bytes they overwrite) are unspecified.
   *
   * <p>Both buffers must stay valid for the whole call (see the class description): one over
   * memory already released is refused with the JDK's exception, but a shared arena closed during
   * the call corrupts memory, and a mapped file shrunk during the call ends the process with
   * {@code SIGBUS}; hold the file's length for the call (a lock every truncating process honours,
   * or an agreement not to truncate), or copy the bytes first.
   *
   * @throws NullPointerException if an argument is null
   * @throws IllegalArgumentException if {@code bytesPerChecksum} is below 1
   * @throws ReadOnlyBufferException if {@code sums} is read-only
   * @throws IndexOutOfBoundsException if {@code sums} has fewer remaining bytes than four per
   *     chunk
   * @throws IllegalStateException as the JDK raises it for a buffer of a closed memory segment
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static void compute(Type type, int bytesPerChecksum, ByteBuffer data, ByteBuffer sums) {
    checkCommon(type, bytesPerChecksum, data, sums);
    if (sums.isReadOnly()) {
      throw new ReadOnlyBufferException();
    }
    try {
      run(type, bytesPerChecksum, data, sums, 0, false);
    } catch (ChecksumMismatchException e) {
      throw new AssertionError("compute reported a mismatch", e);
    }
  }

  /**
   * Checks every chunk of {@code data}'s remaining bytes against its stored word in {@code sums},
   * from its position on, in chunk order.
   *
   * <p>Both buffers must stay valid for the whole call (see the class description): one over
   * memory already released is refused with the JDK's exception, but a shared arena closed during
   * the call leaves it reading freed memory, and a mapped file shrunk during the call ends the
   * process with {@code SIGBUS}; hold the file's length for the call (a lock every truncating
   * process honours, or an agreement not to truncate), or copy the bytes first.
   *
   * @param basePosition the position that the first byte of the data has for the caller; a
   *     mismatch is reported at this plus the failing chunk's offset from {@code data}'s position
   * @throws ChecksumMismatchException for the first chunk whose checksum differs
   * @throws NullPointerException if an argument is null
   * @throws IllegalArgumentException if {@code bytesPerChecksum} is below 1, or {@code
   *     basePosition} plus the data's length passes {@link Long#MAX_VALUE}
   * @throws IndexOutOfBoundsException if {@code sums} has fewer remaining bytes than four per
   *     chunk
   * @throws IllegalStateException as the JDK raises it for a buffer of a closed memory segment
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static void verify(
      Type type, int bytesPerChecksum, ByteBuffer data, ByteBuffer sums, long basePosition)
      throws ChecksumMismatchException {
    checkCommon(type, bytesPerChecksum, data, sums);
    checkBase(basePosition, data.remaining());
    run(type, bytesPerChecksum, data, sums, basePosition, true);
  }

  /**
   * Stores the checksum of every chunk of {@code data[offset, offset + length)} into {@code
   * sums}, four bytes each, from {@code sumsOffset} on.
   *
   * <p>The two ranges must not overlap (in one array passed as both): where they do, the stored
   * words (and the data bytes they overwrite) are unspecified.
   *
   * @throws NullPointerException if an argument is null
   * @throws IllegalArgumentException if {@code bytesPerChecksum} is below 1
   * @throws IndexOutOfBoundsException if the range lies outside {@code data}, or {@code sums} has
   *     no room from {@code sumsOffset} for four bytes per chunk
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static void compute(
      Type type,
      int bytesPerChecksum,
      byte[] data,
      int offset,
      int length,
      byte[] sums,
      int sumsOffset) {
    checkArrays(type, bytesPerChecksum, data, offset, length, sums, sumsOffset);
    try {
      if (javaPath(type, length)) {
        javaArrays(type, bytesPerChecksum, data, offset, length, sums, sumsOffset, 0, false);
        return;
      }
      call(type, bytesPerChecksum, null, data, offset, length, null, sums, sumsOffset, 0, false);
    } catch (ChecksumMismatchException e) {
      throw new AssertionError("compute reported a mismatch", e);
    }
  }

  /**
   * Checks every chunk of {@code data[offset, offset + length)} against its stored word in
   * {@code sums}, from {@code sumsOffset} on, in chunk order.
   *
   * @param basePosition the position that {@code data[offset]} has for the caller; a mismatch is
   *     reported at this plus the failing chunk's offset from {@code offset}
   * @throws ChecksumMismatchException for the first chunk whose checksum differs
   * @throws NullPointerException if an argument is null
   * @throws IllegalArgumentException if {@code bytesPerChecksum} is below 1, or {@code
   *     basePosition + length} passes {@link Long#MAX_VALUE}
   * @throws IndexOutOfBoundsException if the range lies outside {@code data}, or {@code sums}
   *     holds no four bytes per chunk from {@code sumsOffset}
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static void verify(
      Type type,
      int bytesPerChecksum,
      byte[] data,
      int offset,
      int length,
      byte[] sums,
      int sumsOffset,
      long basePosition)
      throws ChecksumMismatchException {
    checkArrays(type, bytesPerChecksum, data, offset, length, sums, sumsOffset);
    checkBase(basePosition, length);
    if (javaPath(type, length)) {
      javaArrays(type, bytesPerChecksum, data, offset, length, sums, sumsOffset, basePosition, true);
      return;
    }
    call(
        type, bytesPerChecksum, null, data, offset, length, null, sums, sumsOffset, basePosition,
        true);
  }

  /**
   * The CRC of data A followed by data B, from the CRC of each and the length of B, without the
   * data; in a time that does not grow with {@code lengthB}.
   *
   * @param crcA the CRC of A, as {@code getValue()} gives it
   * @param crcB the CRC of B, as {@code getValue()} gives it
   * @param lengthB the length of B in bytes; for 0 (B empty) the result is {@code crcA ^ crcB}
   * @return the value that {@code getValue()} of {@link java.util.zip.CRC32C} (or {@link
   *     java.util.zip.CRC32}) gives after updating over A and then B, in [0, 2<sup>32</sup>)
   * @throws NullPointerException if {@code type} is null
   * @throws IllegalArgumentException if {@code crcA} or {@code crcB} lies outside [0,
   *     2<sup>32</sup>), or {@code lengthB} is negative
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static long combine(Type type, long crcA, long crcB, long lengthB) {
    Objects.requireNonNull(type, "type");
    checkCrc(crcA, "crcA");
    checkCrc(crcB, "crcB");
    if (lengthB < 0) {
      throw new IllegalArgumentException("lengthB " + lengthB + " is negative");
    }
    try {
      return combineCrcs(type.ordinal(), crcA, crcB, lengthB);
    } catch (UnsatisfiedLinkError e) {
      throw notLoaded(e);
    }
  }

  /**
   * The CRC of a whole buffer of {@code dataLength} bytes, from the words that {@link
   * #compute(Type, int, ByteBuffer, ByteBuffer) compute} stored for it with the same type and
   * chunk size. No data is read, only the words: ceil({@code dataLength / bytesPerChecksum}) of
   * them, four big-endian bytes each whatever {@code sums}'s byte order, from its position on.
   * Its position, limit and mark do not change. Buffers of every kind are taken: direct, heap and
   * read-only.
   *
   * <p>{@code sums} must stay valid for the whole call (see the class description): one over
   * memory already released is refused with the JDK's exception, but a shared arena closed during
   * the call leaves it reading freed memory, and a mapped file shrunk during the call ends the
   * process with {@code SIGBUS}; hold the file's length for the call (a lock every truncating
   * process honours, or an agreement not to truncate), or copy the words first.
   *
   * @param dataLength the length of the data in bytes; the last chunk may be partial
   * @return the value that {@code getValue()} of {@link java.util.zip.CRC32C} (or {@link
   *     java.util.zip.CRC32}) gives over the whole data, in [0, 2<sup>32</sup>); 0 for a {@code
   *     dataLength} of 0, for which nothing is read
   * @throws NullPointerException if {@code type} or {@code sums} is null
   * @throws IllegalArgumentException if {@code bytesPerChecksum} is below 1 or {@code dataLength}
   *     is negative
   * @throws IndexOutOfBoundsException if {@code sums} has fewer remaining bytes than four per
   *     chunk
   * @throws IllegalStateException as the JDK raises it for a buffer of a closed memory segment
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static long compose(Type type, int bytesPerChecksum, long dataLength, ByteBuffer sums) {
    Objects.requireNonNull(type, "type");
    Objects.requireNonNull(sums, "sums");
    long words = words(bytesPerChecksum, dataLength);
    checkWordRoom(words, bytesPerChecksum, dataLength, sums.remaining());
    touch(sums);
    int position = sums.position();
    try {
      if (sums.isDirect()) {
        return composeBuffer(type.ordinal(), bytesPerChecksum, dataLength, sums, position);
      }
      if (sums.hasArray()) {
        return composeArray(
            type.ordinal(), bytesPerChecksum, dataLength, sums.array(),
            sums.arrayOffset() + position);
      }
      return composeCopied(type, bytesPerChecksum, dataLength, sums, position, words);
    } catch (UnsatisfiedLinkError e) {
      throw notLoaded(e);
    }
  }

  /**
   * The CRC of a whole buffer of {@code dataLength} bytes, from the words that {@link
   * #compute(Type, int, byte[], int, int, byte[], int) compute} stored for it with the same type
   * and chunk size. No data is read, only the words: ceil({@code dataLength / bytesPerChecksum})
   * of them, four big-endian bytes each, from {@code sums[sumsOffset]} on.
   *
   * @param dataLength the length of the data in bytes; the last chunk may be partial
   * @return the value that {@code getValue()} of {@link java.util.zip.CRC32C} (or {@link
   *     java.util.zip.CRC32}) gives over the whole data, in [0, 2<sup>32</sup>); 0 for a {@code
   *     dataLength} of 0, for which nothing is read
   * @throws NullPointerException if {@code type} or {@code sums} is null
   * @throws IllegalArgumentException if {@code bytesPerChecksum} is below 1 or {@code dataLength}
   *     is negative
   * @throws IndexOutOfBoundsException if {@code sumsOffset} is negative or past the end of {@code
   *     sums}, or {@code sums} holds no four bytes per chunk from it
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static long compose(
      Type type, int bytesPerChecksum, long dataLength, byte[] sums, int sumsOffset) {
    Objects.requireNonNull(type, "type");
    Objects.requireNonNull(sums, "sums");
    long words = words(bytesPerChecksum, dataLength);
    checkSumsOffset(sums, sumsOffset);
    checkWordRoom(words, bytesPerChecksum, dataLength, sums.length - sumsOffset);
    try {
      return composeArray(type.ordinal(), bytesPerChecksum, dataLength, sums, sumsOffset);
    } catch (UnsatisfiedLinkError e) {
      throw notLoaded(e);
    }
  }

  /**
   * The code path that computes this type's checksums in the loaded library: the name of the
   * routine chosen for this processor when the library was loaded, then what it runs, for
   * example {@code "hybrid_avx2 (CRC32 on 3 chains + 256-bit carry-less folds)"}. The library
   * installs a routine only after it has given the known checksums of a fixed input, so this
   * names what really runs.
   *
   * @throws NullPointerException if {@code type} is null
   * @throws UnsatisfiedLinkError if {@code libzelkor.so} is not loaded
   */
  public static String implementation(Type type) {
    Objects.requireNonNull(type, "type");
    try {
      return implementationOf(type.ordinal());
    } catch (UnsatisfiedLinkError e) {
      throw notLoaded(e);
    }
  }

  private static void checkCommon(Type type, int bytesPerChecksum, Object data, Object sums) {
    Objects.requireNonNull(type, "type");
    Objects.requireNonNull(data, "data");
    Objects.requireNonNull(sums, "sums");
    if (bytesPerChecksum < 1) {
      throw new IllegalArgumentException("bytesPerChecksum " + bytesPerChecksum + " is below 1");
    }
  }

  private static void checkArrays(
      Type type,
      int bytesPerChecksum,
      byte[] data,
      int offset,
      int length,
      byte[] sums,
      int sumsOffset) {
    checkCommon(type, bytesPerChecksum, data, sums);
    Objects.checkFromIndexSize(offset, length, data.length);
    if (sumsOffset < 0 || sumsOffset > sums.length) {
      throw new IndexOutOfBoundsException(
          "sumsOffset " + sumsOffset + " out of bounds for length " + sums.length);
    }
    checkRoom(length, bytesPerChecksum, sums.length - sumsOffset);
  }

  // Four bytes per chunk, the last chunk counted even when partial: room for
  // k words holds up to k chunks, k * bytesPerChecksum bytes (a product in
  // long arithmetic, where a division would cost a short call more than its
  // checks).
  private static void checkRoom(int length, int bytesPerChecksum, int room) {
    if ((long) bytesPerChecksum * (room >>> 2) < length) {
      long words = (length + (long) bytesPerChecksum - 1) / bytesPerChecksum;
      throw new IndexOutOfBoundsException(
          "sums has room for "
              + room
              + " bytes, but "
              + length
              + " bytes of data in chunks of "
              + bytesPerChecksum
              + " need "
              + words
              + " checksums of 4 bytes ("
              + 4 * words
              + " bytes)");
    }
  }

  private static void checkCrc(long crc, String name) {
    if (crc < 0 || crc >= CRC_LIMIT) {
      throw new IllegalArgumentException(
          name + " " + crc + " lies outside [0, 2^32): not a value of getValue()");
    }
  }

  // Every position a mismatch can report, basePosition plus a chunk's
  // offset, then fits a long.
  private static void checkBase(long basePosition, int length) {
    if (basePosition > Long.MAX_VALUE - length) {
      throw new IllegalArgumentException(
          "basePosition "
              + basePosition
              + " plus the data's length "
              + length
              + " passes Long.MAX_VALUE");
    }
  }

  // The JDK's own access, once, before the native code reads the buffer's
  // memory without it: a buffer of a closed memory segment (or of a confined
  // one, from a thread that does not own it) raises the JDK's exception here
  // instead of having freed memory read or written.
  private static void touch(ByteBuffer buffer) {
    if (buffer.hasRemaining()) {
      buffer.get(buffer.position());
    }
  }

  private static void checkSumsOffset(byte[] sums, int sumsOffset) {
    if (sumsOffset < 0 || sumsOffset > sums.length) {
      throw new IndexOutOfBoundsException(
          "sumsOffset " + sumsOffset + " out of bounds for length " + sums.length);
    }
  }

  // The number of stored words for the data, counted without forming
  // dataLength + bytesPerChecksum - 1, which can pass Long.MAX_VALUE.
  private static long words(int bytesPerChecksum, long dataLength) {
    if (bytesPerChecksum < 1) {
      throw new IllegalArgumentException("bytesPerChecksum " + bytesPerChecksum + " is below 1");
    }
    if (dataLength < 0) {
      throw new IllegalArgumentException("dataLength " + dataLength + " is negative");
    }
    return dataLength / bytesPerChecksum + (dataLength % bytesPerChecksum == 0 ? 0 : 1);
  }

  // Compared as words, since four times their number can pass Long.MAX_VALUE.
  private static void checkWordRoom(long words, int bytesPerChecksum, long dataLength, int room) {
    if (words > room / 4) {
      throw new IndexOutOfBoundsException(
          "sums has room for "
              + room
              + " bytes, but "
              + dataLength
              + " bytes of data in chunks of "
              + bytesPerChecksum
              + " need "
              + words
              + " checksums of 4 bytes each");
    }
  }

  // Read-only heap words: bounded pieces copied out with absolute gets, each
  // composed and joined to the CRC of the pieces before it.  totalWords fit
  // in the buffer, so four times them fits in an int.
  private static long composeCopied(
      Type type,
      int bytesPerChecksum,
      long dataLength,
      ByteBuffer sums,
      int position,
      long totalWords) {
    int pieceWords = COPY_PIECE_BYTES / 4;
    long pieceData = (long) pieceWords * bytesPerChecksum;
    byte[] copy = new byte[(int) Math.min(COPY_PIECE_BYTES, 4 * totalWords)];
    long crc = 0;
    long done = 0;
    int at = position;
    do {
      long n = Math.min(pieceData, dataLength - done);
      int words = (int) words(bytesPerChecksum, n);
      sums.get(at, copy, 0, 4 * words);
      long pieceCrc = composeArray(type.ordinal(), bytesPerChecksum, n, copy, 0);
      crc = combineCrcs(type.ordinal(), crc, pieceCrc, n);
      done += n;
      at += 4 * words;
    } while (done < dataLength);
    return crc;
  }

  private static void run(
      Type type,
      int bytesPerChecksum,
      ByteBuffer data,
      ByteBuffer sums,
      long basePosition,
      boolean verify)
      throws ChecksumMismatchException {
    int dataPosition = data.position();
    int length = data.limit() - dataPosition;
    int sumsPosition = sums.position();
    checkRoom(length, bytesPerChecksum, sums.limit() - sumsPosition);
    touch(data);
    touch(sums);
    if (javaPath(type, length)) {
      if (data.hasArray() && sums.hasArray()) {
        javaArrays(
            type, bytesPerChecksum, data.array(), data.arrayOffset() + dataPosition, length,
            sums.array(), sums.arrayOffset() + sumsPosition, basePosition, verify);
      } else {
        javaBuffers(type, bytesPerChecksum, data, sums, basePosition, verify);
      }
      return;
    }
    boolean copyData = !data.isDirect() && !data.hasArray();
    boolean copySums = !sums.isDirect() && !sums.hasArray();
    if (copyData && bytesPerChecksum > COPY_PIECE_BYTES) {
      runLongChunks(type, bytesPerChecksum, data, sums, basePosition, verify);
      return;
    }
    if (!copyData && !copySums) {
      call(
          type,
          bytesPerChecksum,
          data.isDirect() ? data : null,
          data.isDirect() ? null : data.array(),
          data.isDirect() ? dataPosition : data.arrayOffset() + dataPosition,
          length,
          sums.isDirect() ? sums : null,
          sums.isDirect() ? null : sums.array(),
          sums.isDirect() ? sumsPosition : sums.arrayOffset() + sumsPosition,
          basePosition,
          verify);
      return;
    }
    // Only verify gets here with read-only sums: compute refused them.
    int pieceChunks = Math.max(1, COPY_PIECE_BYTES / bytesPerChecksum);
    long pieceBytesLong = (long) pieceChunks * bytesPerChecksum;
    int pieceBytes = (int) Math.min(pieceBytesLong, length);
    byte[] dataCopy = copyData ? new byte[pieceBytes] : null;
    byte[] sumsCopy = copySums ? new byte[4 * pieceChunks] : null;
    int done = 0;
    do {
      int n = Math.min(pieceBytes, length - done);
      int words = (int) ((n + (long) bytesPerChecksum - 1) / bytesPerChecksum);
      int dataAt = dataPosition + done;
      int sumsAt = sumsPosition + 4 * (done / bytesPerChecksum);
      ByteBuffer dataBuffer = null;
      byte[] dataArray;
      int dataOffset;
      if (copyData) {
        data.get(dataAt, dataCopy, 0, n);
        dataArray = dataCopy;
        dataOffset = 0;
      } else if (data.isDirect()) {
        dataBuffer = data;
        dataArray = null;
        dataOffset = dataAt;
      } else {
        dataArray = data.array();
        dataOffset = data.arrayOffset() + dataAt;
      }
      ByteBuffer sumsBuffer = null;
      byte[] sumsArray;
      int sumsOffset;
      if (copySums) {
        sums.get(sumsAt, sumsCopy, 0, 4 * words);
        sumsArray = sumsCopy;
        sumsOffset = 0;
      } else if (sums.isDirect()) {
        sumsBuffer = sums;
        sumsArray = null;
        sumsOffset = sumsAt;
      } else {
        sumsArray = sums.array();
        sumsOffset = sums.arrayOffset() + sumsAt;
      }
      call(
          type,
          bytesPerChecksum,
          dataBuffer,
          dataArray,
          dataOffset,
          n,
          sumsBuffer,
          sumsArray,
          sumsOffset,
          basePosition + done,
          verify);
      done += n;
    } while (done < length);
  }

  // Read-only heap data in chunks longer than a copy piece: each chunk's CRC
  // from java.util.zip, whose update of a buffer without an array goes
  // through a small piece of its own, so that no copy grows with the chunk.
  // Its values are the stored words the native side gives, and chunks run in
  // order, so the first mismatch is the one reported, as there.
  private static void runLongChunks(
      Type type,
      int bytesPerChecksum,
      ByteBuffer data,
      ByteBuffer sums,
      long basePosition,
      boolean verify)
      throws ChecksumMismatchException {
    // Nothing to check, but a library that is not loaded shows as on the
    // other paths.
    call(type, bytesPerChecksum, null, NO_BYTES, 0, 0, null, NO_BYTES, 0, 0, false);
    javaBuffers(type, bytesPerChecksum, data, sums, basePosition, verify);
  }

  // Whether a call of this length goes to the JDK's checksums in place of
  // the native side.
  private static boolean javaPath(Type type, int length) {
    return length < (type == Type.CRC32C ? CRC32C_JAVA_BELOW : CRC32_JAVA_BELOW) && linked;
  }

  // Every chunk's word by the JDK's checksum, stored (compute) or compared
  // in chunk order (verify), from buffers of any kind.
  private static void javaBuffers(
      Type type,
      int bytesPerChecksum,
      ByteBuffer data,
      ByteBuffer sums,
      long basePosition,
      boolean verify)
      throws ChecksumMismatchException {
    int dataPosition = data.position();
    int length = data.remaining();
    // Words are big-endian whatever the buffer's order; its absolute puts
    // keep its state, and no view of it is made for a short call to pay for.
    boolean swap = sums.order() != ByteOrder.BIG_ENDIAN;
    int wordAt = sums.position();
    // One view of the data, moved from chunk to chunk: the caller's buffer
    // keeps its position and limit, and no chunk makes an object of its own.
    // One loop per type, as over arrays below.
    ByteBuffer view = data.duplicate();
    // In long arithmetic: one more chunk past a length near 2^31 passes an int.
    if (type == Type.CRC32C) {
      CRC32C crc = new CRC32C();
      for (long done = 0; done < length; done += bytesPerChecksum, wordAt += 4) {
        int n = (int) Math.min(bytesPerChecksum, length - done);
        int from = dataPosition + (int) done;
        view.limit(from + n).position(from);
        crc.reset();
        crc.update(view);
        storeOrCheck((int) crc.getValue(), sums, wordAt, swap, basePosition + done, verify);
      }
    } else {
      CRC32 crc = new CRC32();
      for (long done = 0; done < length; done += bytesPerChecksum, wordAt += 4) {
        int n = (int) Math.min(bytesPerChecksum, length - done);
        int from = dataPosition + (int) done;
        view.limit(from + n).position(from);
        crc.reset();
        crc.update(view);
        storeOrCheck((int) crc.getValue(), sums, wordAt, swap, basePosition + done, verify);
      }
    }
  }

  // The word at sums[wordAt], byte-swapped where the buffer is not
  // big-endian, of the chunk at `position` for the caller.
  private static void storeOrCheck(
      int computed, ByteBuffer sums, int wordAt, boolean swap, long position, boolean verify)
      throws ChecksumMismatchException {
    int word = swap ? Integer.reverseBytes(computed) : computed;
    if (!verify) {
      sums.putInt(wordAt, word);
      return;
    }
    int stored = sums.getInt(wordAt);
    if (stored != word) {
      throw new ChecksumMismatchException(
          position, swap ? Integer.reverseBytes(stored) : stored, computed);
    }
  }

  // The same over arrays, whose ranges have been checked.  One loop per
  // type, so that each meets a single checksum class and the JIT inlines its
  // intrinsic and drops the object.
  private static void javaArrays(
      Type type,
      int bytesPerChecksum,
      byte[] data,
      int offset,
      int length,
      byte[] sums,
      int sumsOffset,
      long basePosition,
      boolean verify)
      throws ChecksumMismatchException {
    // The word's index runs beside the chunk's offset: a division per chunk
    // costs a short buffer more than its CRC.
    if (type == Type.CRC32C) {
      CRC32C crc = new CRC32C();
      // In long arithmetic: one more chunk past a length near 2^31 passes an int.
      int wordAt = sumsOffset;
      for (long done = 0; done < length; done += bytesPerChecksum, wordAt += 4) {
        int n = (int) Math.min(bytesPerChecksum, length - done);
        crc.reset();
        crc.update(data, offset + (int) done, n);
        storeOrCheck((int) crc.getValue(), sums, wordAt, basePosition + done, verify);
      }
    } else {
      CRC32 crc = new CRC32();
      int wordAt = sumsOffset;
      for (long done = 0; done < length; done += bytesPerChecksum, wordAt += 4) {
        int n = (int) Math.min(bytesPerChecksum, length - done);
        crc.reset();
        crc.update(data, offset + (int) done, n);
        storeOrCheck((int) crc.getValue(), sums, wordAt, basePosition + done, verify);
      }
    }
  }

  // The word at sums[wordAt], of the chunk at `position` for the caller.
  private static void storeOrCheck(
      int computed, byte[] sums, int wordAt, long position, boolean verify)
      throws ChecksumMismatchException {
    if (!verify) {
      BIG_ENDIAN_INT.set(sums, wordAt, computed);
      return;
    }
    int expected = (int) BIG_ENDIAN_INT.get(sums, wordAt);
    if (expected != computed) {
      throw new ChecksumMismatchException(position, expected, computed);
    }
  }

  // Always reaches the native side, even for no data, so that a library that
  // is not loaded shows the same way whatever the arguments.
  private static void call(
      Type type,
      int bytesPerChecksum,
      ByteBuffer dataBuffer,
      byte[] dataArray,
      int dataOffset,
      int length,
      ByteBuffer sumsBuffer,
      byte[] sumsArray,
      int sumsOffset,
      long basePosition,
      boolean verify)
      throws ChecksumMismatchException {
    try {
      checksum(
          type.ordinal(),
          bytesPerChecksum,
          dataBuffer,
          dataArray,
          dataOffset,
          length,
          sumsBuffer,
          sumsArray,
          sumsOffset,
          basePosition,
          verify);
    } catch (UnsatisfiedLinkError e) {
      throw notLoaded(e);
    }
    if (!linked) {
      linked = true;
    }
  }

  private static UnsatisfiedLinkError notLoaded(UnsatisfiedLinkError e) {
    UnsatisfiedLinkError notLoaded =
        new UnsatisfiedLinkError(
            "libzelkor.so is not loaded: call NativeCodeLoader.load before ChunkedChecksums ("
                + e.getMessage()
                + ")");
    notLoaded.initCause(e);
    return notLoaded;
  }

  // Exactly one of dataBuffer (direct) and dataArray is non-null, and the
  // same for the sums; offsets count from the buffer's address or the
  // array's start, and every range has been checked.  type is an ordinal of
  // Type.
  private static native void checksum(
      int type,
      int bytesPerChecksum,
      ByteBuffer dataBuffer,
      byte[] dataArray,
      int dataOffset,
      int length,
      ByteBuffer sumsBuffer,
      byte[] sumsArray,
      int sumsOffset,
      long basePosition,
      boolean verify)
      throws ChecksumMismatchException;

  // Both CRCs in [0, 2^32); lengthB at least 0.
  private static native long combineCrcs(int type, long crcA, long crcB, long lengthB);

  // The words start offset bytes past the direct buffer's address, or at
  // sums[offset]; every range has been checked, and dataLength 0 reads
  // nothing.
  private static native long composeBuffer(
      int type, int bytesPerChecksum, long dataLength, ByteBuffer sums, int offset);

  // The library's static text for the type.
  private static native String implementationOf(int type);

  private static native long composeArray(
      int type, int bytesPerChecksum, long dataLength, byte[] sums, int offset);
}
