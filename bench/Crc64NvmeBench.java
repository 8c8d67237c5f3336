// Crc64NvmeBench.java -- Crc64Nvme.update(byte[]) against a plain CRC-64/NVME
// written in Java (one table, a byte at a time) and against the class's own
// Java path (slice-by-8 tables); then the evidence for the class's cut-over:
// one native call against the Java path at lengths around it, for arrays
// and direct buffers.  Run by scripts/bench-java.sh.
//
// Timing as in ChunkedChecksumsBench: each row warmed up, then rounds of
// thread CPU time, the median round counting.  Every routine's CRC is
// compared with the plain one's before timing.  The class's package-private
// paths are reached by reflection (the jar is on the class path here, so its
// package is open to this class).
import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.nio.ByteBuffer;
import java.util.Arrays;
import java.util.Random;
import org.tarvik.zelkor.util.Crc64Nvme;
import org.tarvik.zelkor.util.NativeCodeLoader;

public final class Crc64NvmeBench {
  private static final int ROUNDS = 9;
  private static final double ROUND_SECONDS = 0.05;
  private static final double WARMUP_SECONDS = 0.3;
  private static final int KIB = 1024;
  private static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

  private static final MethodHandle JAVA_ARRAY;
  private static final MethodHandle NATIVE_ARRAY;
  private static final MethodHandle JAVA_BUFFER;
  private static final MethodHandle NATIVE_DIRECT;
  private static final int JAVA_BELOW;

  static {
    try {
      MethodHandles.Lookup lookup = MethodHandles.lookup();
      JAVA_ARRAY = lookup.unreflect(path("javaArray", byte[].class));
      NATIVE_ARRAY = lookup.unreflect(path("nativeArray", byte[].class));
      JAVA_BUFFER = lookup.unreflect(path("javaBuffer", ByteBuffer.class));
      NATIVE_DIRECT = lookup.unreflect(path("nativeDirect", ByteBuffer.class));
      Field below = Crc64Nvme.class.getDeclaredField("JAVA_BELOW");
      below.setAccessible(true);
      JAVA_BELOW = below.getInt(null);
    } catch (ReflectiveOperationException e) {
      throw new ExceptionInInitializerError(e);
    }
  }

  private static Method path(String name, Class<?> data) throws NoSuchMethodException {
    Method m = Crc64Nvme.class.getDeclaredMethod(name, long.class, data, int.class, int.class);
    m.setAccessible(true);
    return m;
  }

  // The CRC-64 that a Java programmer writes without this library: one
  // table of 256 entries, a byte at a time.
  static final long[] PLAIN = new long[256];

  static {
    long poly = Long.reverse(0xAD93D23594C93659L);
    for (int b = 0; b < 256; b++) {
      long r = b;
      for (int k = 0; k < 8; k++) {
        r = (r >>> 1) ^ ((r & 1) != 0 ? poly : 0);
      }
      PLAIN[b] = r;
    }
  }

  static long plain(byte[] b, int off, int len) {
    long r = -1;
    for (int i = off; i < off + len; i++) {
      r = (r >>> 8) ^ PLAIN[((int) r ^ b[i]) & 0xFF];
    }
    return ~r;
  }

  interface Pass {
    long run() throws Throwable;
  }

  static volatile long sink;

  // Seconds of thread CPU time per pass, over at least `seconds` of it.
  static double secondsPerPass(Pass pass, int bytes, double seconds) throws Throwable {
    int batch = Math.max(1, (1 << 20) / Math.max(bytes, 1)); // the clock costs a system call
    long t0 = THREADS.getCurrentThreadCpuTime();
    long passes = 0;
    double s;
    long x = 0;
    do {
      for (int i = 0; i < batch; ++i) {
        x ^= pass.run();
      }
      passes += batch;
    } while ((s = (THREADS.getCurrentThreadCpuTime() - t0) / 1e9) < seconds);
    sink = x;
    return s / passes;
  }

  static double median(Pass pass, int bytes) throws Throwable {
    secondsPerPass(pass, bytes, WARMUP_SECONDS);
    double[] t = new double[ROUNDS];
    for (int r = 0; r < ROUNDS; ++r) {
      t[r] = secondsPerPass(pass, bytes, ROUND_SECONDS);
    }
    Arrays.sort(t);
    return t[ROUNDS / 2];
  }

  static void same(String what, long want, long got) {
    if (want != got) {
      throw new AssertionError(what + ": CRC " + Long.toHexString(got) + ", the plain table's "
          + Long.toHexString(want));
    }
  }

  public static void main(String[] args) throws Throwable {
    NativeCodeLoader.load(args[0]);
    System.out.println("Crc64Nvme: " + Crc64Nvme.implementation() + "; Java below " + JAVA_BELOW
        + " bytes");
    byte[] data = new byte[64 * KIB];
    new Random(25).nextBytes(data);
    ByteBuffer direct = ByteBuffer.allocateDirect(data.length).put(0, data);

    System.out.println("update(byte[]), GB/s (median of " + ROUNDS + " rounds of thread CPU time):");
    System.out.printf("%8s %12s %12s %12s %12s %12s %9s%n", "bytes", "plain table", "Java path",
        "update", "update dir.", "vs plain", "vs Java");
    for (int n : new int[] {512, 4 * KIB, 64 * KIB}) {
      long want = plain(data, 0, n);
      Crc64Nvme crc = new Crc64Nvme();
      Pass plainPass = () -> plain(data, 0, n);
      Pass javaPass = () -> (long) JAVA_ARRAY.invokeExact(0L, data, 0, n);
      Pass update = () -> {
        crc.reset();
        crc.update(data, 0, n);
        return crc.getValue();
      };
      ByteBuffer d = direct.duplicate();
      Pass updateDirect = () -> {
        crc.reset();
        crc.update(d.limit(n).position(0));
        return crc.getValue();
      };
      same("Java path", want, javaPass.run());
      same("update", want, update.run());
      same("update direct", want, updateDirect.run());
      double p = n / median(plainPass, n) / 1e9;
      double j = n / median(javaPass, n) / 1e9;
      double u = n / median(update, n) / 1e9;
      double ud = n / median(updateDirect, n) / 1e9;
      System.out.printf("%8d %12.2f %12.2f %12.2f %12.2f %11.1fx %8.1fx%n", n, p, j, u, ud, u / p,
          u / j);
    }

    System.out.println("cut-over: ns per call, Java path against one native call:");
    System.out.printf("%8s %10s %10s %10s %10s%n", "bytes", "Java arr.", "native", "Java dir.",
        "native");
    for (int n : new int[] {16, 24, 32, 40, 48, 56, 64, 96, 128, 192, 256, 512, 1024, 4096}) {
      long want = plain(data, 0, n);
      Pass ja = () -> (long) JAVA_ARRAY.invokeExact(0L, data, 0, n);
      Pass na = () -> (long) NATIVE_ARRAY.invokeExact(0L, data, 0, n);
      Pass jd = () -> (long) JAVA_BUFFER.invokeExact(0L, direct, 0, n);
      Pass nd = () -> (long) NATIVE_DIRECT.invokeExact(0L, direct, 0, n);
      for (Pass pass : new Pass[] {ja, na, jd, nd}) {
        same("cut-over row " + n, want, pass.run());
      }
      System.out.printf("%8d %10.1f %10.1f %10.1f %10.1f%n", n, 1e9 * median(ja, n),
          1e9 * median(na, n), 1e9 * median(jd, n), 1e9 * median(nd, n));
    }
  }
}
