package org.tarvik.zelkor.util;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class NativeCodeLoaderTest {
  @BeforeAll
  static void load() {
    TestLibraries.loadZelkor();
  }

  @Test
  void libraryNameIsTheCanonicalPathOfTheLoadedFile() throws Exception {
    String expected = TestLibraries.expectedLibraryFile();
    assertTrue(new File(expected).isFile());
    String given = System.getProperty("zelkor.library");
    if (given != null) {
      assertNotEquals(given, expected, "the run must pass a path that needs resolving");
    }
    assertEquals(expected, NativeCodeLoader.getLibraryName());
    assertEquals(expected, NativeCodeLoader.getLibraryName());
  }

  @Test
  void buildSupportsEveryOptionalFacility() {
    for (int i = 0; i < 3; i++) {
      assertTrue(NativeCodeLoader.buildSupportsSnappy());
      assertTrue(NativeCodeLoader.buildSupportsZstd());
      assertTrue(NativeCodeLoader.buildSupportsOpenssl());
    }
  }
}
