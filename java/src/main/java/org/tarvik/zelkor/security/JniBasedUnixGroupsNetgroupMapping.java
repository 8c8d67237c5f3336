package org.tarvik.zelkor.security;

import java.io.IOException;

/**
 * Lists the users of a netgroup through the system's name service, in {@code libzelkor.so}
 * (load it first with {@link org.tarvik.zelkor.util.NativeCodeLoader}).
 *
 * <p>The system library keeps a single netgroup enumeration per process: callers must
 * serialise listings, across all instances and with any other netgroup use in the process.
 */
public class JniBasedUnixGroupsNetgroupMapping {
  /**
   * The users named in the triples of a netgroup.
   *
   * @param group the netgroup's name
   * @return the user names, in the reverse of the order in which the name service delivers
   *     the triples; a user named in several triples appears as often; triples without a user
   *     add nothing, so the array may be empty
   * @throws IOException if no netgroup of this name is known, or the lookup fails
   * @throws NullPointerException if {@code group} is null
   * @throws OutOfMemoryError if memory for the copies or the result runs out
   */
  public native String[] getUsersForNetgroupJNI(String group) throws IOException;
}
