import java.util.zip.CRC32C;
import org.tarvik.zelkor.util.ChunkedChecksums;
import org.tarvik.zelkor.util.NativeCodeLoader;

/** zelkor.jar as module org.tarvik.zelkor on the module path; args[0] is the library file. */
public class JvmModuleConsumer {
  public static void main(String[] args) throws Exception {
    String module = NativeCodeLoader.class.getModule().getName();
    if (!"org.tarvik.zelkor".equals(module)) {
      System.err.println("NativeCodeLoader is in module " + module + ", not org.tarvik.zelkor");
      System.exit(1);
    }
    NativeCodeLoader.load(args[0]);
    byte[] data = "123456789".getBytes("US-ASCII");
    byte[] sums = new byte[4];
    ChunkedChecksums.compute(ChunkedChecksums.Type.CRC32C, 512, data, 0, 9, sums, 0);
    CRC32C jdk = new CRC32C();
    jdk.update(data);
    int want = (int) jdk.getValue();
    int got = (sums[0] & 0xFF) << 24 | (sums[1] & 0xFF) << 16 | (sums[2] & 0xFF) << 8 | (sums[3] & 0xFF);
    if (got != want) {
      System.err.printf("CRC32C of 123456789: %08x, the JDK gives %08x%n", got, want);
      System.exit(1);
    }
    ChunkedChecksums.verify(ChunkedChecksums.Type.CRC32C, 512, data, 0, 9, sums, 0, 0);
    System.out.println("JVM consumer on the module path: module " + module + " checksums agree");
  }
}
