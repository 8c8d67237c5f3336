package org.tarvik.zelkor.security;

import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import org.junit.jupiter.api.Test;
import org.tarvik.zelkor.io.nativeio.Errno;
import org.tarvik.zelkor.io.nativeio.NativeIoTestHooks;
import org.tarvik.zelkor.util.TestLibraries;

/**
 * Netgroup listings and errno mappings by the hundred thousand in one JVM, with the process's
 * resident memory and the C heap sampled: neither may grow once the run is warm. Runs under
 * tests/harness/with_nss_fixture.sh with the netgroup-order fixture, in a JVM whose Java heap is
 * fixed and touched up front (-Xms = -Xmx, -XX:+AlwaysPreTouch), so that resident memory
 * shows native growth rather than the Java heap's. ZELKOR_SOAK=long runs ten times as long.
 */
class NetgroupSoakTest {
  private static final int SAMPLES = 20;
  private static final int[] NUMBERS = {1, 40, 75, 0, 11, 36, -1, 1000};
  private static final Errno[] CONSTANTS = {
    Errno.EPERM, Errno.ELOOP, Errno.EOVERFLOW, Errno.UNKNOWN, Errno.EAGAIN, Errno.ENAMETOOLONG,
    Errno.UNKNOWN, Errno.UNKNOWN
  };

  private static long residentBytes() throws IOException {
    String[] statm = Files.readString(Path.of("/proc/self/statm")).trim().split(" ");
    return Long.parseLong(statm[1]) * 4096;
  }

  private static void round(JniBasedUnixGroupsNetgroupMapping mapping, int i) throws IOException {
    String[] users = mapping.getUsersForNetgroup("staff");
    if (users.length != 2 || !users[0].equals("bob") || !users[1].equals("alice")) {
      throw new AssertionError("listing " + i + " gave " + Arrays.toString(users));
    }
    int k = i % NUMBERS.length;
    if (NativeIoTestHooks.errnoToEnum(NUMBERS[k]) != CONSTANTS[k]) {
      throw new AssertionError("mapping " + i + " of " + NUMBERS[k]);
    }
  }

  @Test
  void listingsAndMappingsLeaveMemoryFlat() throws IOException {
    NetgroupMappingNssTest.requireFixture("netgroup-order");
    TestLibraries.loadZelkor();
    NativeIoTestHooks.errnoEnumInit();
    assertSame(Errno.EPERM, NativeIoTestHooks.errnoToEnum(1));
    JniBasedUnixGroupsNetgroupMapping mapping = new JniBasedUnixGroupsNetgroupMapping();
    final int rounds = "long".equals(System.getenv("ZELKOR_SOAK")) ? 3_000_000 : 300_000;

    for (int i = 0; i < 30_000; i++) {
      round(mapping, i); // compiled code, warm caches, a settled heap
    }
    long[] resident = new long[SAMPLES];
    long[] cHeap = new long[SAMPLES];
    long began = System.nanoTime();
    for (int s = 0; s < SAMPLES; s++) {
      System.gc();
      resident[s] = residentBytes();
      cHeap[s] = NativeHeap.bytesInUse();
      for (int i = 0; i < rounds / SAMPLES; i++) {
        round(mapping, i);
      }
    }
    double seconds = (System.nanoTime() - began) / 1e9;
    System.out.printf(
        "%d listings and %d mappings in %.1f s%nresident KiB: %s%nC heap bytes: %s%n",
        rounds, rounds, seconds, Arrays.toString(Arrays.stream(resident).map(b -> b / 1024).toArray()),
        Arrays.toString(cHeap));
    long residentGrowth = Arrays.stream(resident).max().getAsLong() - resident[0];
    long cHeapGrowth = Arrays.stream(cHeap).max().getAsLong() - cHeap[0];
    // Leaking one name copy per listing would add megabytes to either figure.
    assertTrue(cHeapGrowth < 256 * 1024, "C heap grew by " + cHeapGrowth + " bytes");
    assertTrue(residentGrowth < 8 * 1024 * 1024, "resident memory grew by " + residentGrowth + " bytes");
  }
}
