package org.tarvik.zelkor.util;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.zip.CRC32;
import java.util.zip.CRC32C;
import java.util.zip.Checksum;

/**
 * The jar's main class: says whether {@code libzelkor.so} loads, from where, and what it runs,
 * and checks its checksums against {@code java.util.zip}.
 *
 * <pre>
 *   java -jar zelkor.jar [--library PATH]
 *   java -p zelkor.jar -m org.tarvik.zelkor [--library PATH]
 * </pre>
 *
 * <p>Exit status 0 when the library loaded and the self-check passed, 1 when the library cannot
 * be loaded, 2 when the self-check found a difference, 64 for a command line it does not take.
 */
public final class LibraryCheck {
  static final int LOADED = 0;
  static final int NOT_LOADED = 1;
  static final int CHECK_FAILED = 2;
  static final int USAGE = 64;

  private static final String HELP =
      String.join(
          "\n",
          "usage: java -jar zelkor.jar [--library PATH]",
          "       java -p zelkor.jar -m org.tarvik.zelkor [--library PATH]",
          "",
          "Loads libzelkor.so as NativeCodeLoader.load() does (by name, from",
          "java.library.path, else the copy for this platform that",
          "zelkor-with-natives.jar carries), or the file that --library names, and",
          "prints where it was loaded from and which copy that is, its build",
          "capabilities, the code path of each checksum type, the processor, and the",
          "result of a short self-check of its checksums against java.util.zip (one",
          "planted mismatch included, which must be reported).",
          "",
          "Exit status: 0 loaded and the self-check passed; 1 the library cannot be",
          "loaded; 2 the self-check found a difference; 64 a bad command line.",
          "");

  private LibraryCheck() {}

  public static void main(String[] args) {
    System.exit(run(args, System.out, System.err));
  }

  static int run(String[] args, PrintStream out, PrintStream err) {
    String library = null;
    for (int i = 0; i < args.length; ++i) {
      if (args[i].equals("--help") || args[i].equals("-h")) {
        out.print(HELP);
        return LOADED;
      } else if (args[i].equals("--library") && i + 1 < args.length) {
        library = args[++i];
      } else {
        err.print("zelkor: unknown argument " + args[i] + "\n" + HELP);
        return USAGE;
      }
    }
    try {
      if (library == null) {
        NativeCodeLoader.load();
      } else {
        NativeCodeLoader.load(Path.of(library).toAbsolutePath().toString());
      }
    } catch (UnsatisfiedLinkError e) {
      String what =
          library == null
              ? "library \"" + NativeCodeLoader.LIBRARY_NAME + "\" ("
                  + System.mapLibraryName(NativeCodeLoader.LIBRARY_NAME)
                  + ") on java.library.path="
                  + System.getProperty("java.library.path")
              : "file " + library;
      err.println("zelkor: cannot load " + what + ": " + e.getMessage());
      return NOT_LOADED;
    }
    out.println("library: " + NativeCodeLoader.getLibraryName());
    out.println("loaded: " + describe(NativeCodeLoader.origin()));
    out.println(
        "build supports: snappy "
            + yesNo(NativeCodeLoader.buildSupportsSnappy())
            + ", zstd "
            + yesNo(NativeCodeLoader.buildSupportsZstd())
            + ", openssl "
            + yesNo(NativeCodeLoader.buildSupportsOpenssl()));
    for (ChunkedChecksums.Type type : ChunkedChecksums.Type.values()) {
      String implementation;
      try {
        implementation = ChunkedChecksums.implementation(type);
      } catch (UnsatisfiedLinkError e) {
        implementation = "not named by this library (" + e.getMessage() + ")";
      }
      out.println(type + ": " + implementation);
    }
    out.println("CRC64/NVME: " + Crc64Nvme.implementation());
    out.println("processor: " + processor());
    List<String> differences;
    try {
      differences = selfCheck();
    } catch (RuntimeException | LinkageError e) {
      differences = List.of("the self-check stopped: " + e);
    }
    if (differences.isEmpty()) {
      out.println("self-check: passed");
      return LOADED;
    }
    out.println("self-check: FAILED");
    for (String d : differences) {
      out.println("  " + d);
    }
    return CHECK_FAILED;
  }

  static String describe(NativeCodeLoader.Origin origin) {
    switch (origin) {
      case LIBRARY_PATH:
        return "by name from java.library.path";
      case JAR:
        return "the jar's own copy for "
            + NativeCodeLoader.platform(
                System.getProperty("os.name", ""), System.getProperty("os.arch", ""))
            + ", extracted below " + NativeCodeLoader.extractionBase()
            + " and deleted once loaded";
      default:
        return "the file that --library names";
    }
  }

  private static String yesNo(boolean b) {
    return b ? "yes" : "no";
  }

  // The model name of the first processor in /proc/cpuinfo (x86), else its
  // "CPU part" or "Hardware" line (aarch64 kernels name no model).
  static String processor() {
    if (!System.getProperty("os.name", "").equals("Linux")) {
      return "unknown";
    }
    try {
      String part = null;
      for (String line : Files.readAllLines(Path.of("/proc/cpuinfo"), StandardCharsets.UTF_8)) {
        int colon = line.indexOf(':');
        if (colon < 0) {
          continue;
        }
        String key = line.substring(0, colon).trim();
        String value = line.substring(colon + 1).trim();
        if (key.equals("model name") && !value.isEmpty()) {
          return value;
        }
        if (part == null && (key.equals("Hardware") || key.equals("CPU part"))) {
          part = key + " " + value;
        }
      }
      return part != null ? part : "unknown";
    } catch (IOException | SecurityException e) {
      return "unknown";
    }
  }

  // Words of every chunk by the JDK's checksums, big-endian.
  private static byte[] jdkWords(ChunkedChecksums.Type type, byte[] data, int length, int chunk) {
    int words = (length + chunk - 1) / chunk;
    ByteBuffer out = ByteBuffer.allocate(4 * words).order(ByteOrder.BIG_ENDIAN);
    Checksum c = type == ChunkedChecksums.Type.CRC32C ? new CRC32C() : new CRC32();
    for (int off = 0; off < length; off += chunk) {
      c.reset();
      c.update(data, off, Math.min(chunk, length - off));
      out.putInt((int) c.getValue());
    }
    return out.array();
  }

  // Compute and verify over heap and direct buffers of a few lengths and
  // chunk sizes, compose and combine, and one planted mismatch; what
  // differed, in words.
  static List<String> selfCheck() {
    List<String> differences = new ArrayList<>();
    byte[] data = new byte[70000];
    new Random(0x5EED).nextBytes(data);
    int[] lengths = {1, 511, 4096, 70000};
    int[] chunks = {1, 64, 512, 4096, 65536};
    for (ChunkedChecksums.Type type : ChunkedChecksums.Type.values()) {
      for (int length : lengths) {
        for (int chunk : chunks) {
          if (chunk == 1 && length > 4096) {
            continue;
          }
          String where = type + ", " + length + " bytes in chunks of " + chunk;
          byte[] want = jdkWords(type, data, length, chunk);
          byte[] heap = new byte[want.length];
          ChunkedChecksums.compute(type, chunk, data, 0, length, heap, 0);
          ByteBuffer direct = ByteBuffer.allocateDirect(length).put(data, 0, length).flip();
          ByteBuffer directSums = ByteBuffer.allocateDirect(want.length);
          ChunkedChecksums.compute(type, chunk, direct, directSums);
          byte[] fromDirect = new byte[want.length];
          directSums.get(0, fromDirect);
          if (!java.util.Arrays.equals(heap, want)) {
            differences.add(where + ": computed words differ from java.util.zip's (byte[])");
          } else if (!java.util.Arrays.equals(fromDirect, want)) {
            differences.add(where + ": computed words differ from java.util.zip's (direct)");
          }
          try {
            ChunkedChecksums.verify(type, chunk, direct, ByteBuffer.wrap(want), 0);
          } catch (ChecksumMismatchException e) {
            differences.add(where + ": verify reported " + e.getMessage() + " on good data");
          }
          Checksum whole = type == ChunkedChecksums.Type.CRC32C ? new CRC32C() : new CRC32();
          whole.update(data, 0, length);
          long composed = ChunkedChecksums.compose(type, chunk, length, want, 0);
          if (composed != whole.getValue()) {
            differences.add(
                String.format(
                    "%s: composed CRC %08x, java.util.zip's %08x",
                    where, composed, whole.getValue()));
          }
        }
      }
      differences.addAll(plantedMismatch(type, data));
    }
    differences.addAll(crc64Check(data));
    return differences;
  }

  // CRC-64/NVME: the published check value, and long buffers in one update
  // (the library's kernel) against the same bytes one at a time (the class's
  // own tables).
  private static List<String> crc64Check(byte[] data) {
    List<String> differences = new ArrayList<>();
    Crc64Nvme crc = new Crc64Nvme();
    crc.update("123456789".getBytes(java.nio.charset.StandardCharsets.US_ASCII));
    if (crc.getValue() != 0xAE8B14860A799888L) {
      differences.add(
          String.format("CRC64/NVME of \"123456789\": %016x, want ae8b14860a799888",
              crc.getValue()));
    }
    for (int length : new int[] {100, 4096, 70000}) {
      Crc64Nvme whole = new Crc64Nvme();
      whole.update(data, 0, length);
      Crc64Nvme bytes = new Crc64Nvme();
      for (int i = 0; i < length; ++i) {
        bytes.update(data[i]);
      }
      if (whole.getValue() != bytes.getValue()) {
        differences.add(
            String.format("CRC64/NVME, %d bytes: %016x in one update, %016x byte by byte",
                length, whole.getValue(), bytes.getValue()));
      }
    }
    return differences;
  }

  // One damaged byte in chunk 5 of 10: verify must report exactly that chunk.
  private static List<String> plantedMismatch(ChunkedChecksums.Type type, byte[] data) {
    int chunk = 512;
    int length = 10 * chunk;
    byte[] sums = jdkWords(type, data, length, chunk);
    byte[] damaged = java.util.Arrays.copyOf(data, length);
    damaged[5 * chunk + 17] ^= 0x40;
    long base = 1L << 40;
    try {
      ChunkedChecksums.verify(type, chunk, damaged, 0, length, sums, 0, base);
    } catch (ChecksumMismatchException e) {
      if (e.position() != base + 5 * chunk) {
        return List.of(
            type + ": planted mismatch in the chunk at " + (base + 5 * chunk)
                + " reported at " + e.position());
      }
      return List.of();
    }
    return List.of(type + ": planted mismatch in the chunk at " + (base + 5 * chunk)
        + " not reported");
  }
}
