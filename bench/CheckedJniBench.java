import java.util.zip.CRC32C;
import org.tarvik.zelkor.util.ChunkedChecksums;
import org.tarvik.zelkor.util.NativeCodeLoader;

/**
 * The cost of one compute over a large heap array, in seconds: run it with and without
 * -Xcheck:jni to see what checked JNI adds. Checked JNI copies the whole array at every critical
 * hold, so a call that took one hold per slice grew with the square of the array's length there.
 *
 * <p>Arguments: the library's path, then sizes in MiB (default 16 64 256). Each size runs once
 * after a small warm-up call; the words are checked against java.util.zip.CRC32C.
 */
public final class CheckedJniBench {
  private static final int BYTES_PER_CHECKSUM = 512;

  public static void main(String[] args) {
    NativeCodeLoader.load(args[0]);
    String[] sizes = args.length > 1 ? java.util.Arrays.copyOfRange(args, 1, args.length)
        : new String[] {"16", "64", "256"};
    boolean checked =
        java.lang.management.ManagementFactory.getRuntimeMXBean().getInputArguments()
            .contains("-Xcheck:jni");
    byte[] warm = new byte[1 << 16];
    ChunkedChecksums.compute(
        ChunkedChecksums.Type.CRC32C, BYTES_PER_CHECKSUM, warm, 0, warm.length,
        new byte[4 * (warm.length / BYTES_PER_CHECKSUM)], 0);
    for (String size : sizes) {
      int mib = Integer.parseInt(size);
      byte[] data = new byte[mib << 20];
      for (int i = 0; i < data.length; i += 4093) {
        data[i] = (byte) i;
      }
      byte[] sums = new byte[4 * (data.length / BYTES_PER_CHECKSUM)];
      long start = System.nanoTime();
      ChunkedChecksums.compute(
          ChunkedChecksums.Type.CRC32C, BYTES_PER_CHECKSUM, data, 0, data.length, sums, 0);
      double seconds = (System.nanoTime() - start) / 1e9;
      check(data, sums);
      System.out.printf(
          "compute(CRC32C, %d, new byte[%d MiB])%s: %.3f s%n",
          BYTES_PER_CHECKSUM, mib, checked ? " -Xcheck:jni" : "", seconds);
    }
  }

  // The last chunk's word and a middle one, against the JDK.
  private static void check(byte[] data, byte[] sums) {
    int chunks = data.length / BYTES_PER_CHECKSUM;
    for (int chunk : new int[] {chunks / 2, chunks - 1}) {
      CRC32C crc = new CRC32C();
      crc.update(data, chunk * BYTES_PER_CHECKSUM, BYTES_PER_CHECKSUM);
      int want = (int) crc.getValue();
      int at = 4 * chunk;
      int got = (sums[at] & 0xff) << 24 | (sums[at + 1] & 0xff) << 16
          | (sums[at + 2] & 0xff) << 8 | (sums[at + 3] & 0xff);
      if (got != want) {
        throw new AssertionError("word " + chunk + " is wrong");
      }
    }
  }
}
