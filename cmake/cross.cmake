# Builds for another Debian architecture: configure with -DZOLT_ARCH=i386,
# armhf or arm64 (Debian's multiarch libtiff-dev:ARCH and libgtest-dev:ARCH),
# or s390x (zlib, libtiff and GoogleTest built from Debian's sources into
# ZOLT_CROSS_PREFIX, and nothing else looked for), and
# -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-... to run what it builds
# (scripts/test-cross.sh does it all).
set(CMAKE_SYSTEM_NAME Linux)
# try_compile projects need the choice too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOLT_ARCH ZOLT_CROSS_PREFIX)
if(ZOLT_ARCH STREQUAL "i386")
  set(CMAKE_SYSTEM_PROCESSOR i686)
  set(CMAKE_C_COMPILER gcc)
  set(CMAKE_CXX_COMPILER g++)
  set(CMAKE_C_FLAGS_INIT -m32)
  set(CMAKE_CXX_FLAGS_INIT -m32)
  set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
elseif(ZOLT_ARCH STREQUAL "armhf")
  set(CMAKE_SYSTEM_PROCESSOR arm)
  set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
  set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
  set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
elseif(ZOLT_ARCH STREQUAL "arm64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
  set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
  set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
elseif(ZOLT_ARCH STREQUAL "s390x")
  set(CMAKE_SYSTEM_PROCESSOR s390x)
  set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
  set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
  set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu ${ZOLT_CROSS_PREFIX})
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
else()
  message(FATAL_ERROR "ZOLT_ARCH must be i386, armhf, arm64 or s390x")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
