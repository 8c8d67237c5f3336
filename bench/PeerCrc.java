// PeerCrc.java -- the JDK's java.util.zip.CRC32C and CRC32, one CRC per chunk,
// over the rows and the data of peers.cc (kept in step with it).
//
// Prints one line per row: "TYPE CHUNK TOTAL DIGEST GBPS", where DIGEST is an
// FNV-1a hash of the chunks' CRC values (peers.cc checks it against its
// reference) and GBPS the median over rounds.  Each row is warmed up first
// so that the JIT has compiled the loop and the intrinsics.
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.util.Arrays;
import java.util.zip.CRC32;
import java.util.zip.CRC32C;
import java.util.zip.Checksum;

public final class PeerCrc {
  private static final int ROUNDS = 9;
  private static final double ROUND_SECONDS = 0.05;
  private static final double WARMUP_SECONDS = 1.0;
  private static final int KIB = 1024;
  private static final int MIB = 1024 * KIB;

  private static void fill(byte[] p) {
    long s = 0x5EEDL;
    for (int i = 0; i < p.length; i += 8) {
      long z = (s += 0x9E3779B97F4A7C15L);
      z = (z ^ (z >>> 30)) * 0xBF58476D1CE4E5B9L;
      z = (z ^ (z >>> 27)) * 0x94D049BB133111EBL;
      z ^= z >>> 31;
      for (int b = 0; b < 8 && i + b < p.length; ++b) p[i + b] = (byte) (z >>> (8 * b));
    }
  }

  private static void pass(Checksum c, byte[] d, int total, int chunk, int[] words) {
    int w = 0;
    for (int off = 0; off < total; off += chunk) {
      c.reset();
      c.update(d, off, Math.min(chunk, total - off));
      words[w++] = (int) c.getValue();
    }
  }

  // Thread CPU time, as peers.cc measures: the machine may be shared.
  private static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

  private static double rate(Checksum c, byte[] d, int total, int chunk, int[] words, double secs) {
    int batch = Math.max(1, 4 * MIB / total);  // the clock costs a system call
    long t0 = THREADS.getCurrentThreadCpuTime();
    long passes = 0;
    double s;
    do {
      for (int i = 0; i < batch; ++i) pass(c, d, total, chunk, words);
      passes += batch;
    } while ((s = (THREADS.getCurrentThreadCpuTime() - t0) / 1e9) < secs);
    return passes * (double) total / s / 1e9;
  }

  public static void main(String[] args) {
    int[][] shapes = {
      {512, 16 * KIB}, {512, MIB}, {512, 256 * MIB}, {64, 16 * KIB},
      {4096, 16 * KIB}, {16384, 16 * KIB}, {64 * MIB, 64 * MIB},
    };
    boolean onlyShort = args.length > 0 && args[0].equals("--short");
    byte[] data = new byte[256 * MIB];
    fill(data);
    int[] words = new int[256 * MIB / 64 + 1];
    for (int type = 1; type <= 2; ++type) {
      Checksum c = type == 1 ? new CRC32C() : new CRC32();
      for (int[] shape : shapes) {
        int chunk = shape[0], total = shape[1];
        if (onlyShort && total > MIB) continue;
        rate(c, data, total, chunk, words, WARMUP_SECONDS);
        int n = (total + chunk - 1) / chunk;
        long h = 0xCBF29CE484222325L;
        for (int i = 0; i < n; ++i) {
          h ^= words[i] & 0xFFFFFFFFL;
          h *= 0x100000001B3L;
        }
        double[] rates = new double[ROUNDS];
        for (int r = 0; r < ROUNDS; ++r) rates[r] = rate(c, data, total, chunk, words, ROUND_SECONDS);
        Arrays.sort(rates);
        System.out.printf("%d %d %d %x %.3f%n", type, chunk, total, h, rates[ROUNDS / 2]);
      }
    }
  }
}
