/**
 * The Java host classes of {@code libzelkor.so}. The library is loaded from this module (by
 * {@link org.tarvik.zelkor.util.NativeCodeLoader}), so on the module path {@code
 * --enable-native-access=org.tarvik.zelkor} grants it native access; on the class path, {@code
 * ALL-UNNAMED} does.
 */
module org.tarvik.zelkor {
  exports org.tarvik.zelkor.io.nativeio;
  exports org.tarvik.zelkor.security;
  exports org.tarvik.zelkor.util;
}
