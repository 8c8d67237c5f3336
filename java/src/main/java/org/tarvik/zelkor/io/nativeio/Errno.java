package org.tarvik.zelkor.io.nativeio;

/**
 * The error numbers that native I/O code reports to Java, by their POSIX names.
 *
 * <p>Native code hands a failed call's {@code errno} over as one of these constants; a
 * number without a name here arrives as {@link #UNKNOWN}. The native side finds the
 * constants by name, so each name must stay spelled as the C constant.
 */
public enum Errno {
  EPERM,
  ENOENT,
  ESRCH,
  EINTR,
  EIO,
  ENXIO,
  E2BIG,
  ENOEXEC,
  EBADF,
  ECHILD,
  EAGAIN,
  ENOMEM,
  EACCES,
  EFAULT,
  ENOTBLK,
  EBUSY,
  EEXIST,
  EXDEV,
  ENODEV,
  ENOTDIR,
  EISDIR,
  EINVAL,
  ENFILE,
  EMFILE,
  ENOTTY,
  ETXTBSY,
  EFBIG,
  ENOSPC,
  ESPIPE,
  EROFS,
  EMLINK,
  EPIPE,
  EDOM,
  ERANGE,
  ELOOP,
  ENAMETOOLONG,
  ENOTEMPTY,
  EOVERFLOW,
  /** Any number that has no name above. */
  UNKNOWN
}
