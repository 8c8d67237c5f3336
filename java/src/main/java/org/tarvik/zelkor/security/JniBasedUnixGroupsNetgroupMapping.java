package org.tarvik.zelkor.security;

import java.io.IOException;
import java.util.Objects;

/**
 * Lists the users of a netgroup through the system's name service, in {@code libzelkor.so}
 * (load it first with {@link org.tarvik.zelkor.util.NativeCodeLoader}).
 *
 * <p>The system library keeps a single netgroup enumeration per process, and two listings
 * running at once corrupt each other's results without any error. This class serialises its
 * listings across all instances; code that uses the netgroup functions of the C library some
 * other way must not run beside it.
 */
public class JniBasedUnixGroupsNetgroupMapping {
  // Static: the state it guards is the process's, not the instance's.
  private static final Object NETGROUP_LOCK = new Object();

  /** A mapping; every instance shares the one lock over the process's enumeration. */
  public JniBasedUnixGroupsNetgroupMapping() {}

  /**
   * The users named in the triples of a netgroup; safe to call from any number of threads.
   *
   * @param group the netgroup's name
   * @return the user names, in the reverse of the order in which the name service delivers
   *     the triples; a user named in several triples appears as often; triples without a user
   *     add nothing, so the array may be empty
   * @throws IOException if no netgroup of this name is known, or the lookup fails
   * @throws NullPointerException if {@code group} is null
   * @throws OutOfMemoryError if memory for the copies or the result runs out
   */
  public String[] getUsersForNetgroup(String group) throws IOException {
    Objects.requireNonNull(group, "group");
    synchronized (NETGROUP_LOCK) {
      return getUsersForNetgroupJNI(group);
    }
  }

  /**
   * The native listing behind {@link #getUsersForNetgroup}, with the same results; it takes no
   * lock, so it is not for callers outside this class.
   */
  native String[] getUsersForNetgroupJNI(String group) throws IOException;
}
