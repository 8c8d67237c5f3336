package org.tarvik.zelkor.util;

import java.io.IOException;

/**
 * A chunk whose checksum differs from the stored one, as {@link ChunkedChecksums} verify
 * reports the first of them.
 */
public class ChecksumMismatchException extends IOException {
  private static final long serialVersionUID = 1L;

  private final long position;
  private final int expected;
  private final int computed;

  /**
   * @param position where the failing chunk starts, as the caller counts positions
   * @param expected the stored checksum word, read big-endian
   * @param computed the checksum of the chunk's data
   */
  public ChecksumMismatchException(long position, int expected, int computed) {
    super(
        String.format(
            "checksum mismatch at position %d: expected %08x, computed %08x",
            position, expected, computed));
    this.position = position;
    this.expected = expected;
    this.computed = computed;
  }

  /** @return the base position given to verify plus the failing chunk's offset in the data */
  public long position() {
    return position;
  }

  /** @return the stored word of the failing chunk, read big-endian */
  public int expected() {
    return expected;
  }

  /**
   * @return the chunk's checksum, as {@code (int) getValue()} of the JDK's {@code CRC32C} or
   *     {@code CRC32} gives it
   */
  public int computed() {
    return computed;
  }
}
