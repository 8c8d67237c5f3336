package org.tarvik.zelkor.io.nativeio;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.FileDescriptor;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.atomic.AtomicLong;
import org.junit.jupiter.api.Test;
import org.tarvik.zelkor.util.NativeCodeLoader;
import org.tarvik.zelkor.util.TestLibraries;

/**
 * Many Java threads at once in the loader queries and, through the test JNI library, in
 * errno_to_enum, fd_create and fd_get, once both caches are initialised (their contract: init
 * and deinit only while no other thread is inside). Every answer is checked; -Xcheck:jni
 * watches every JNI call.
 */
class NativeCallsFromManyThreadsTest {
  private static final int THREADS = 8;
  private static final int ROUNDS = 20_000;

  @Test
  void everyThreadGetsRightAnswers() throws Exception {
    TestLibraries.loadZelkor();
    NativeIoTestHooks.errnoEnumInit();
    NativeIoTestHooks.fdInit();
    String library = TestLibraries.expectedLibraryFile();
    // Numbers near the table and the constants they must give.
    int[] numbers = new int[100];
    Errno[] constants = new Errno[numbers.length];
    for (int i = 0; i < numbers.length; i++) {
      numbers[i] = i - 10;
      constants[i] = Errno.UNKNOWN;
      for (var row : ErrnoTest.TABLE.entrySet()) {
        if (row.getValue() == numbers[i]) {
          constants[i] = Errno.valueOf(row.getKey());
        }
      }
    }

    ConcurrentLinkedQueue<String> wrong = new ConcurrentLinkedQueue<>();
    AtomicLong calls = new AtomicLong();
    CountDownLatch start = new CountDownLatch(1);
    List<Thread> threads = new ArrayList<>();
    for (int t = 0; t < THREADS; t++) {
      final int id = t;
      Thread thread =
          new Thread(
              () -> {
                try {
                  start.await();
                } catch (InterruptedException e) {
                  wrong.add("interrupted");
                  return;
                }
                for (int i = 0; i < ROUNDS && wrong.size() < 20; i++) {
                  int k = (i * 7 + id) % numbers.length;
                  if (NativeIoTestHooks.errnoToEnum(numbers[k]) != constants[k]) {
                    wrong.add("thread " + id + ": errno " + numbers[k]);
                  }
                  int fd = id * ROUNDS + i;
                  if (NativeIoTestHooks.fdGet(NativeIoTestHooks.fdCreate(fd)) != fd) {
                    wrong.add("thread " + id + ": descriptor " + fd);
                  }
                  if (NativeIoTestHooks.fdGet(FileDescriptor.err) != 2) {
                    wrong.add("thread " + id + ": stderr");
                  }
                  if (i % 16 == 0
                      && !(library.equals(NativeCodeLoader.getLibraryName())
                          && NativeCodeLoader.buildSupportsSnappy()
                          && NativeCodeLoader.buildSupportsZstd()
                          && NativeCodeLoader.buildSupportsOpenssl())) {
                    wrong.add("thread " + id + ": loader query");
                  }
                  calls.addAndGet(4);
                }
              });
      threads.add(thread);
      thread.start();
    }
    start.countDown();
    for (Thread thread : threads) {
      thread.join();
    }
    assertTrue(wrong.isEmpty(), wrong.toString());
    assertEquals((long) THREADS * ROUNDS * 4, calls.get());
  }
}
