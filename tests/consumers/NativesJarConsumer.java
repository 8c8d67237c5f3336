import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.zip.CRC32;
import java.util.zip.CRC32C;
import java.util.zip.Checksum;
import org.tarvik.zelkor.util.ChunkedChecksums;
import org.tarvik.zelkor.util.NativeCodeLoader;

/**
 * zelkor-with-natives.jar as module org.tarvik.zelkor on the module path, with nothing on
 * java.library.path: NativeCodeLoader.load() takes the jar's copy, below the directory that
 * org.tarvik.zelkor.tmpdir names (args[0]), and leaves nothing of it there.
 */
public class NativesJarConsumer {
  public static void main(String[] args) throws Exception {
    String module = NativeCodeLoader.class.getModule().getName();
    check("org.tarvik.zelkor".equals(module), "NativeCodeLoader is in module " + module);
    Path dir = Path.of(args[0]).toRealPath();
    NativeCodeLoader.load();
    check(NativeCodeLoader.origin() == NativeCodeLoader.Origin.JAR,
        "loaded from " + NativeCodeLoader.origin() + ", not from the jar");
    Path loaded = Path.of(NativeCodeLoader.getLibraryName());
    check(loaded.getParent().getParent().equals(dir), "extracted to " + loaded + ", not below " + dir);
    check(!Files.exists(loaded.getParent()), loaded.getParent() + " is left behind");

    byte[] data = "123456789".getBytes(StandardCharsets.US_ASCII);
    for (ChunkedChecksums.Type type : ChunkedChecksums.Type.values()) {
      byte[] sums = new byte[4];
      ChunkedChecksums.compute(type, 512, data, 0, data.length, sums, 0);
      Checksum jdk = type == ChunkedChecksums.Type.CRC32C ? new CRC32C() : new CRC32();
      jdk.update(data, 0, data.length);
      int got = (sums[0] & 0xFF) << 24 | (sums[1] & 0xFF) << 16 | (sums[2] & 0xFF) << 8
          | (sums[3] & 0xFF);
      check(got == (int) jdk.getValue(),
          String.format("%s of 123456789: %08x, the JDK gives %08x", type, got, jdk.getValue()));
    }
    System.out.println("natives jar on the module path: loaded the jar's copy, checksums agree");
  }

  private static void check(boolean ok, String what) {
    if (!ok) {
      System.err.println(what);
      System.exit(1);
    }
  }
}
