/* hwcap_shim.c -- preloaded into an aarch64 test program, hides processor
 * features from getauxval(AT_HWCAP): the bits of ZELKOR_HWCAP_CLEAR (a
 * number, as strtoul reads it) read as absent.  qemu's processor models all
 * have the CRC and PMULL instructions, so this is how the engine's choice
 * meets a processor without them.  The engine asks at load time, from its
 * constructor, which runs after this object's definition has been bound. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/auxv.h>

unsigned long getauxval(unsigned long type) {
  unsigned long (*real)(unsigned long) =
      (unsigned long (*)(unsigned long))dlsym(RTLD_NEXT, "getauxval");
  unsigned long value = real(type);
  const char *clear = getenv("ZELKOR_HWCAP_CLEAR");
  if (type == AT_HWCAP && clear != NULL) value &= ~strtoul(clear, NULL, 0);
  return value;
}
