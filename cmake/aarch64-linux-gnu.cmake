# Cross build for 64-bit ARM Linux (glibc) with Debian's cross compiler
# (g++-aarch64-linux-gnu).  Libraries of the target come from Debian's arm64
# architecture (zlib1g-dev:arm64, in /usr/lib/aarch64-linux-gnu), the C
# library to link against from the cross sysroot; headers may be the host's
# (the JDK's jni.h, which is the same on every Linux).  Test programs run
# under qemu-aarch64 on the arm64 runtime libraries
# (tests/harness/run_aarch64.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
