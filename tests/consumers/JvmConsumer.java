import java.io.File;
import org.tarvik.zelkor.util.NativeCodeLoader;

/** Loads the installed library by name, as a Java host does; args[0] is the library dir. */
public class JvmConsumer {
  public static void main(String[] args) throws Exception {
    NativeCodeLoader.load();
    String expected = new File(args[0], System.mapLibraryName("zelkor")).getCanonicalPath();
    String name = NativeCodeLoader.getLibraryName();
    if (!name.equals(expected) || !NativeCodeLoader.buildSupportsZstd()) {
      System.err.println("loaded " + name + ", expected " + expected);
      System.exit(1);
    }
    System.out.println("JVM consumer loaded " + name);
  }
}
