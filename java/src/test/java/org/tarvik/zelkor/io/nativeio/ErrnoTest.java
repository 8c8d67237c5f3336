package org.tarvik.zelkor.io.nativeio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;

import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

class ErrnoTest {
  /** The names and their Linux numbers: EPERM to ERANGE are 1 to 34, then four stragglers. */
  static final Map<String, Integer> TABLE = new LinkedHashMap<>();

  static {
    String[] names = {
      "EPERM", "ENOENT", "ESRCH", "EINTR", "EIO", "ENXIO", "E2BIG", "ENOEXEC", "EBADF", "ECHILD",
      "EAGAIN", "ENOMEM", "EACCES", "EFAULT", "ENOTBLK", "EBUSY", "EEXIST", "EXDEV", "ENODEV",
      "ENOTDIR", "EISDIR", "EINVAL", "ENFILE", "EMFILE", "ENOTTY", "ETXTBSY", "EFBIG", "ENOSPC",
      "ESPIPE", "EROFS", "EMLINK", "EPIPE", "EDOM", "ERANGE"
    };
    for (int i = 0; i < names.length; i++) {
      TABLE.put(names[i], i + 1);
    }
    TABLE.put("ELOOP", 40);
    TABLE.put("ENAMETOOLONG", 36);
    TABLE.put("ENOTEMPTY", 39);
    TABLE.put("EOVERFLOW", 75);
  }

  @BeforeAll
  static void init() {
    NativeIoTestHooks.errnoEnumInit();
  }

  static Stream<Arguments> rows() {
    return TABLE.entrySet().stream().map(e -> Arguments.of(e.getKey(), e.getValue()));
  }

  @ParameterizedTest(name = "{1} -> {0}")
  @MethodSource("rows")
  void everyRowMapsToItsConstant(String name, int errnum) {
    assertSame(Errno.valueOf(name), NativeIoTestHooks.errnoToEnum(errnum));
  }

  @Test
  void theEnumHasTheTableNamesAndUnknown() {
    String[] expected = Stream.concat(TABLE.keySet().stream(), Stream.of("UNKNOWN")).sorted()
        .toArray(String[]::new);
    String[] actual = Arrays.stream(Errno.values()).map(Enum::name).sorted()
        .toArray(String[]::new);
    assertEquals(Arrays.asList(expected), Arrays.asList(actual));
  }

  @ParameterizedTest
  @ValueSource(ints = {0, -1, -2, 35, 37, 38, 41, 74, 76, Integer.MIN_VALUE, Integer.MAX_VALUE})
  void numbersWithoutARowAreUnknown(int errnum) {
    assertSame(Errno.UNKNOWN, NativeIoTestHooks.errnoToEnum(errnum));
  }

  @Test
  void everyNumberNearTheTableMapsAsTheTableSays() {
    Map<Integer, String> byNumber = new LinkedHashMap<>();
    TABLE.forEach((name, errnum) -> byNumber.put(errnum, name));
    for (int errnum = -300; errnum <= 300; errnum++) {
      Errno expected = Errno.valueOf(byNumber.getOrDefault(errnum, "UNKNOWN"));
      assertSame(expected, NativeIoTestHooks.errnoToEnum(errnum), "errno " + errnum);
    }
  }

  @Test
  void initAndDeinitRepeatAndReinitialise() {
    NativeIoTestHooks.errnoEnumInit(); // already initialised: a no-op
    assertSame(Errno.EPERM, NativeIoTestHooks.errnoToEnum(1));
    NativeIoTestHooks.errnoEnumDeinit();
    NativeIoTestHooks.errnoEnumDeinit();
    NativeIoTestHooks.errnoEnumInit();
    assertSame(Errno.ELOOP, NativeIoTestHooks.errnoToEnum(40));
    assertSame(Errno.UNKNOWN, NativeIoTestHooks.errnoToEnum(41));
  }
}
