package org.tarvik.zelkor.security;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CountDownLatch;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.tarvik.zelkor.util.TestLibraries;

/**
 * The netgroup listing against the real glibc name service. Each test runs in a JVM of its
 * own, started by tests/harness/with_nss_fixture.sh inside a mount namespace whose /etc/netgroup
 * is the one of the fixture directory that the test names (see java/CMakeLists.txt).
 */
class NetgroupMappingNssTest {
  private static final String NO_SUCH_NETGROUP =
      "no netgroup of this name is known or some other error occurred";

  private final JniBasedUnixGroupsNetgroupMapping mapping = new JniBasedUnixGroupsNetgroupMapping();

  @BeforeAll
  static void load() {
    TestLibraries.loadZelkor();
  }

  /** Fails unless the run was given the fixture this test is written for. */
  static void requireFixture(String name) {
    String dir = System.getenv("ZELKOR_NSS_FIXTURE");
    assertTrue(
        dir != null && dir.endsWith("/" + name),
        "run this test under with_nss_fixture.sh with the fixture " + name + ", not " + dir);
  }

  @Test
  void usersComeInReverseAndTriplesWithoutUserAddNothing() throws IOException {
    requireFixture("netgroup-order"); // staff (h1,alice,d) (h2,bob,d) (h3,,d)
    assertArrayEquals(new String[] {"bob", "alice"}, mapping.getUsersForNetgroup("staff"));
  }

  @Test
  void userNamedTwiceIsListedTwice() throws IOException {
    requireFixture("netgroup-twice"); // twice (h1,alice,d) (h2,alice,d) (h3,bob,d)
    assertArrayEquals(
        new String[] {"bob", "alice", "alice"}, mapping.getUsersForNetgroup("twice"));
  }

  @Test
  void netgroupWithoutUsersGivesEmptyArray() throws IOException {
    requireFixture("netgroup-hosts-only");
    assertArrayEquals(new String[0], mapping.getUsersForNetgroup("hostsonly"));
  }

  @Test
  void unknownNameThrowsIOExceptionAndLeavesListingUsable() throws IOException {
    requireFixture("netgroup-unknown"); // known (h1,carol,d)
    IOException e =
        assertThrows(IOException.class, () -> mapping.getUsersForNetgroup("nosuch"));
    assertEquals(IOException.class, e.getClass());
    assertEquals(NO_SUCH_NETGROUP, e.getMessage());
    assertNull(e.getCause());
    assertArrayEquals(new String[] {"carol"}, mapping.getUsersForNetgroup("known"));
  }

  /**
   * The public method refuses a null name before it takes the lock; the native listing, handed
   * one anyway, is left with the JVM's own exception from reading the name.
   */
  @Test
  void nullNameThrowsNullPointerExceptionAndLeavesListingUsable() throws IOException {
    requireFixture("netgroup-null"); // after (h1,dave,d)
    assertThrows(NullPointerException.class, () -> mapping.getUsersForNetgroup(null));
    assertThrows(NullPointerException.class, () -> mapping.getUsersForNetgroupJNI(null));
    assertArrayEquals(new String[] {"dave"}, mapping.getUsersForNetgroup("after"));
  }

  /**
   * Threads listing different netgroups at once, each through an instance of its own, all get
   * exact answers: the C library's single enumeration is shared by the whole process, so one
   * listing running beside another mixes their users or cuts one short, silently. One thread
   * lists a netgroup without users, whose array must stay empty, and one an unknown name, whose
   * failing enumeration must not end anyone else's.
   */
  @Test
  void concurrentListingsOfDifferentNetgroupsAreExact() throws Exception {
    requireFixture("netgroup-concurrent"); // <name> (h1,<name>1,d) ... (hN,<name>N,d)
    Map<String, String[]> want = new LinkedHashMap<>();
    String[] names = {"one", "two", "three", "five", "eight", "thirteen"};
    int[] sizes = {1, 2, 3, 5, 8, 13};
    for (int g = 0; g < names.length; g++) {
      String[] users = new String[sizes[g]];
      for (int i = 0; i < users.length; i++) {
        users[i] = names[g] + (users.length - i);
      }
      want.put(names[g], users);
    }
    want.put("none", new String[0]);
    want.put("nosuch", null); // the IOException

    final int rounds = 3000;
    ConcurrentLinkedQueue<String> wrong = new ConcurrentLinkedQueue<>();
    CountDownLatch start = new CountDownLatch(1);
    List<Thread> threads = new ArrayList<>();
    for (Map.Entry<String, String[]> entry : want.entrySet()) {
      String group = entry.getKey();
      String[] expected = entry.getValue();
      JniBasedUnixGroupsNetgroupMapping own = new JniBasedUnixGroupsNetgroupMapping();
      Thread thread =
          new Thread(
              () -> {
                String expect = expected == null ? NO_SUCH_NETGROUP : Arrays.toString(expected);
                try {
                  start.await();
                  for (int i = 0; i < rounds && wrong.size() < 20; i++) {
                    String got;
                    try {
                      got = Arrays.toString(own.getUsersForNetgroup(group));
                    } catch (IOException e) {
                      got = e.getMessage();
                    }
                    if (!got.equals(expect)) {
                      wrong.add(group + " listing " + i + " gave " + got);
                    }
                  }
                } catch (Throwable e) { // anything else, or a thread that died, is wrong too
                  wrong.add(group + ": " + e);
                }
              });
      threads.add(thread);
      thread.start();
    }
    start.countDown();
    for (Thread thread : threads) {
      thread.join();
    }
    assertTrue(wrong.isEmpty(), wrong.size() + " wrong answers: " + wrong);
  }

  /** 5000 users, far past the local references a native frame is promised. */
  @Test
  void largeNetgroupComesBackWhole() throws IOException {
    requireFixture("netgroup-large"); // large (h,user0,d) ... (h,user4999,d)
    String[] want = new String[5000];
    for (int i = 0; i < want.length; i++) {
      want[i] = "user" + (want.length - 1 - i);
    }
    String[] got = mapping.getUsersForNetgroup("large");
    assertEquals(want.length, got.length);
    assertArrayEquals(want, got);
  }

  /**
   * Repeated listings leave the C heap as they found it. The fixture's 50 users have names of
   * 100 bytes and the netgroup's name is 200 bytes long, so that leaking any one kind of
   * allocation (the name's bytes from the JVM, list nodes, name copies) would add at least
   * 40 KiB per round; the JVM's own use of malloc meanwhile is noise that the best of several
   * rounds leaves out.
   */
  @Test
  void repeatedListingsLeaveNoNativeMemoryBehind() throws IOException {
    requireFixture("netgroup-memory");
    String name = "memory" + "m".repeat(194);
    int users = mapping.getUsersForNetgroup(name).length;
    assertEquals(50, users);
    for (int i = 0; i < 100; i++) {
      mapping.getUsersForNetgroup(name); // compiled code, warm caches
    }
    final int rounds = 5;
    final int calls = 200;
    long[] growth = new long[rounds];
    for (int r = 0; r < rounds; r++) {
      long before = NativeHeap.bytesInUse();
      for (int i = 0; i < calls; i++) {
        if (mapping.getUsersForNetgroup(name).length != users) {
          throw new AssertionError("listing changed");
        }
      }
      growth[r] = NativeHeap.bytesInUse() - before;
    }
    long best = Arrays.stream(growth).min().getAsLong();
    assertTrue(
        best < 8 * 1024,
        "C heap grew by " + Arrays.toString(growth) + " bytes in rounds of " + calls + " calls");
  }

  /**
   * Names no netgroup can have, or that only look like one, each get the IOException and
   * disturb nothing: an empty name, 64 KiB of name, a prefix, a name with U+0000 after a real
   * one (modified UTF-8 carries it as two bytes, so the C side does not see "staff"), with a
   * space or a newline after it. Non-ASCII names of the Basic Multilingual Plane are found.
   * A name beyond it reaches the name service as the surrogate pair that modified UTF-8 makes
   * of it, which no file spells that way: not found either.
   */
  @Test
  void oddNamesGiveClearResults() throws IOException {
    requireFixture("netgroup-odd");
    String[] unknown = {
      "", "a".repeat(64 * 1024), "sta", "staff\u0000", "staff\u0000(h9,mallory,d)", "staff ",
      "staff\n", "staff\t(h9,mallory,d)", "\uD83D\uDE00"
    };
    for (String name : unknown) {
      IOException e =
          assertThrows(
              IOException.class,
              () -> mapping.getUsersForNetgroup(name),
              "name of " + name.length() + " chars");
      assertEquals(NO_SUCH_NETGROUP, e.getMessage());
    }
    assertArrayEquals(new String[] {"\u00fcn\u00ef"}, mapping.getUsersForNetgroup("gr\u00fcppe"));
    assertArrayEquals(
        new String[] {"\u7528\u6237"}, mapping.getUsersForNetgroup("\u7528\u6237\u7ec4"));
    assertArrayEquals(new String[] {"alice"}, mapping.getUsersForNetgroup("staff"));
  }

  /**
   * User names are bytes in the file, whatever they are: each arrives as the JDK's own UTF-8
   * decoder reads those bytes (characters beyond U+FFFF whole, ill-formed parts as U+FFFD).
   */
  @Test
  void userNamesArriveAsJavaDecodesTheirBytes() throws IOException {
    requireFixture("netgroup-odd");
    byte[] file = Files.readAllBytes(Path.of("/etc/netgroup"));
    List<String> users = new ArrayList<>();
    for (String line : new String(file, StandardCharsets.ISO_8859_1).split("\n")) {
      if (!line.startsWith("odd ")) {
        continue;
      }
      // ISO-8859-1 keeps one char per byte, so the fields' bytes come back exactly.
      for (String triple : line.substring(4).trim().split(" ")) {
        String user = triple.split(",")[1];
        users.add(new String(user.getBytes(StandardCharsets.ISO_8859_1), StandardCharsets.UTF_8));
      }
    }
    assertEquals(14, users.size());
    assertTrue(users.contains("\uD83D\uDE00x"), "a character beyond U+FFFF is kept whole");
    Collections.reverse(users);
    assertArrayEquals(users.toArray(new String[0]), mapping.getUsersForNetgroup("odd"));
  }
}
