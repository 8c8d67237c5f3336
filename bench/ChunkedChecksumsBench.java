// ChunkedChecksumsBench.java -- ChunkedChecksums (one call per buffer) against
// the JDK loop that a Java caller writes without it: for each chunk reset,
// update, getValue and a big-endian store.  Heap byte[] and direct buffers,
// both checksum types; last, compose of the words of 64 MiB against the JDK
// over the 64 MiB.  Run by scripts/bench-java.sh.
//
// Each row is warmed up first, so that the JIT has compiled both loops and
// the JDK's CRC intrinsics, then timed in rounds of thread CPU time (the
// machine may be shared); the median round counts.  The results of both
// sides are compared before timing.
import java.lang.invoke.MethodHandles;
import java.lang.invoke.VarHandle;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Arrays;
import java.util.zip.CRC32;
import java.util.zip.CRC32C;
import java.util.zip.Checksum;
import org.tarvik.zelkor.util.ChunkedChecksums;
import org.tarvik.zelkor.util.ChunkedChecksums.Type;
import org.tarvik.zelkor.util.NativeCodeLoader;

public final class ChunkedChecksumsBench {
  private static final int ROUNDS = 9;
  private static final double ROUND_SECONDS = 0.05;
  private static final double WARMUP_SECONDS = 0.5;
  private static final int KIB = 1024;
  private static final int MIB = 1024 * KIB;
  private static final VarHandle BIG_ENDIAN_INT =
      MethodHandles.byteArrayViewVarHandle(int[].class, ByteOrder.BIG_ENDIAN);
  private static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

  interface Pass {
    void run();
  }

  // Heap: the JDK loop over byte[].
  static void jdkHeap(Checksum c, byte[] data, int total, int chunk, byte[] sums) {
    for (int off = 0, w = 0; off < total; off += chunk, w += 4) {
      c.reset();
      c.update(data, off, Math.min(chunk, total - off));
      BIG_ENDIAN_INT.set(sums, w, (int) c.getValue());
    }
  }

  // Direct: the JDK loop over a direct buffer (update(ByteBuffer) reads it
  // through its address).
  static void jdkDirect(Checksum c, ByteBuffer data, int total, int chunk, ByteBuffer sums) {
    for (int off = 0, w = 0; off < total; off += chunk, w += 4) {
      c.reset();
      data.limit(Math.min(off + chunk, total)).position(off);
      c.update(data);
      sums.putInt(w, (int) c.getValue());
    }
    data.limit(total).position(0);
  }

  static double rate(Pass pass, int total, double seconds) {
    int batch = Math.max(1, 4 * MIB / total); // the clock costs a system call
    long t0 = THREADS.getCurrentThreadCpuTime();
    long passes = 0;
    double s;
    do {
      for (int i = 0; i < batch; ++i) {
        pass.run();
      }
      passes += batch;
    } while ((s = (THREADS.getCurrentThreadCpuTime() - t0) / 1e9) < seconds);
    return passes * (double) total / s / 1e9;
  }

  static double median(Pass pass, int total) {
    rate(pass, total, WARMUP_SECONDS);
    double[] rates = new double[ROUNDS];
    for (int r = 0; r < ROUNDS; ++r) {
      rates[r] = rate(pass, total, ROUND_SECONDS);
    }
    Arrays.sort(rates);
    return rates[ROUNDS / 2];
  }

  static byte[] data;
  static ByteBuffer direct;
  static volatile long sink;

  // The CRC of 64 MiB from its stored words at 512-byte chunks (compose, no
  // data read), against the JDK reading the 64 MiB; GB/s of the data.
  static void composeRows() {
    byte[] big = new byte[64 * MIB];
    new java.util.Random(7).nextBytes(big);
    for (Type type : Type.values()) {
      Checksum c = type == Type.CRC32C ? new CRC32C() : new CRC32();
      byte[] sums = new byte[4 * (big.length / 512)];
      ChunkedChecksums.compute(type, 512, big, 0, big.length, sums, 0);
      ByteBuffer directSums = ByteBuffer.allocateDirect(sums.length).put(sums).clear();
      c.update(big, 0, big.length);
      long want = c.getValue();
      if (ChunkedChecksums.compose(type, 512, big.length, sums, 0) != want
          || ChunkedChecksums.compose(type, 512, big.length, directSums) != want) {
        throw new AssertionError(type + ": composed CRC differs from the JDK's");
      }
      double jdk = median(() -> {
        c.reset();
        c.update(big, 0, big.length);
        sink = c.getValue();
      }, big.length);
      double heap = median(() -> sink = ChunkedChecksums.compose(type, 512, big.length, sums, 0),
          big.length);
      double dir = median(() -> sink = ChunkedChecksums.compose(type, 512, big.length, directSums),
          big.length);
      System.out.printf("compose %-7s 64 MiB at 512-B chunks: JDK over the data %.2f GB/s;"
          + " compose byte[] %.1f GB/s (%.0fx), direct %.1f GB/s (%.0fx)%n",
          type, jdk, heap, heap / jdk, dir, dir / jdk);
    }
  }

  // {JDK GB/s, ChunkedChecksums GB/s} for one row.
  static double[] row(Type type, boolean isDirect, int chunk, int total) {
    Checksum c = type == Type.CRC32C ? new CRC32C() : new CRC32();
    int words = (total + chunk - 1) / chunk;
    Pass jdk;
    Pass ours;
    byte[] jdkSums = new byte[4 * words];
    byte[] ourSums = new byte[4 * words];
    if (isDirect) {
      ByteBuffer d = direct.duplicate().limit(total);
      ByteBuffer jdkOut = ByteBuffer.allocateDirect(4 * words);
      ByteBuffer ourOut = ByteBuffer.allocateDirect(4 * words);
      jdk = () -> jdkDirect(c, d, total, chunk, jdkOut);
      ours = () -> ChunkedChecksums.compute(type, chunk, d, ourOut);
      jdk.run();
      ours.run();
      jdkOut.get(0, jdkSums);
      ourOut.get(0, ourSums);
    } else {
      jdk = () -> jdkHeap(c, data, total, chunk, jdkSums);
      ours = () -> ChunkedChecksums.compute(type, chunk, data, 0, total, ourSums, 0);
      jdk.run();
      ours.run();
    }
    if (!Arrays.equals(jdkSums, ourSums)) {
      throw new AssertionError(type + " chunk " + chunk + " total " + total + ": results differ");
    }
    return new double[] {median(jdk, total), median(ours, total)};
  }

  static String size(int bytes) {
    if (bytes >= MIB && bytes % MIB == 0) {
      return bytes / MIB + " MiB";
    }
    if (bytes >= KIB && bytes % KIB == 0) {
      return bytes / KIB + " KiB";
    }
    return bytes + " B";
  }

  public static void main(String[] args) {
    NativeCodeLoader.load(args[0]);
    data = new byte[4 * MIB];
    new java.util.Random(0x5EED).nextBytes(data);
    direct = ByteBuffer.allocateDirect(4 * MIB).put(data).clear();
    int[][] shapes = {
      {64, 64 * KIB}, {512, 64 * KIB}, {4096, 64 * KIB}, {512, 16 * KIB}, {512, 4 * MIB},
    };
    int[] sizes = {512, 1 * KIB, 2 * KIB, 4 * KIB, 8 * KIB, 16 * KIB, 32 * KIB, 128 * KIB};
    System.out.printf("%s %s, %s%n", System.getProperty("java.vm.name"),
        System.getProperty("java.version"), System.getProperty("os.arch"));
    System.out.printf("%-7s %-6s %7s %8s %10s %10s %7s%n",
        "type", "buffer", "chunk", "total", "JDK GB/s", "one call", "ratio");
    StringBuilder goals = new StringBuilder();
    StringBuilder crossovers = new StringBuilder();
    for (Type type : Type.values()) {
      for (boolean isDirect : new boolean[] {false, true}) {
        String kind = isDirect ? "direct" : "byte[]";
        for (int[] shape : shapes) {
          double[] r = row(type, isDirect, shape[0], shape[1]);
          double ratio = r[1] / r[0];
          System.out.printf("%-7s %-6s %7s %8s %10.2f %10.2f %6.2fx%n",
              type, kind, size(shape[0]), size(shape[1]), r[0], r[1], ratio);
          if (shape[1] == 64 * KIB && (shape[0] == 512 || shape[0] == 64)) {
            double goal = shape[0] == 512 ? 1.3 : 3.0;
            goals.append(String.format("goal %-6s %-6s %s chunks over 64 KiB >= %.1fx: %.2fx %s%n",
                type, kind, size(shape[0]), goal, ratio, ratio >= goal ? "met" : "MISSED"));
          }
        }
        // The smallest buffer at which one call is ahead: one chunk of the
        // whole size, and 512-byte chunks over it.
        for (boolean lone : new boolean[] {true, false}) {
          String ahead = "not up to " + size(sizes[sizes.length - 1]);
          for (int n : sizes) {
            int chunk = lone ? n : 512;
            double[] r = row(type, isDirect, chunk, n);
            System.out.printf("%-7s %-6s %7s %8s %10.2f %10.2f %6.2fx%n",
                type, kind, lone ? "1 chunk" : size(chunk), size(n), r[0], r[1], r[1] / r[0]);
            if (r[1] > r[0]) {
              ahead = size(n);
              break;
            }
          }
          crossovers.append(String.format("one call ahead from: %-6s %-6s %-13s %s%n",
              type, kind, lone ? "one chunk" : "512-B chunks", ahead));
        }
      }
    }
    System.out.print(goals);
    System.out.print(crossovers);
    composeRows();
  }
}
