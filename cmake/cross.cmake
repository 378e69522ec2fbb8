# Builds for another Debian architecture with its multiarch libraries
# (libtiff-dev:ARCH, libgtest-dev:ARCH): configure with -DZOLT_ARCH=i386,
# armhf or arm64, and -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-... to run what it
# builds (scripts/test-cross.sh does it all).
set(CMAKE_SYSTEM_NAME Linux)
# try_compile projects need the choice too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOLT_ARCH)
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
else()
  message(FATAL_ERROR "ZOLT_ARCH must be i386, armhf or arm64")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
