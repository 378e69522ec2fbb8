# Builds for another Debian architecture: configure with -DZOLT_ARCH=i386,
# armhf or arm64 (Debian's multiarch libtiff-dev:ARCH and libgtest-dev:ARCH),
# or s390x (libtiff, its codecs' libraries and GoogleTest built from Debian's
# sources into ZOLT_CROSS_PREFIX by scripts/targets/libraries.sh, and nothing else
# looked for), and
# -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-... to run what it builds
# (scripts/targets/cross.sh does it all). For Windows, -DZOLT_ARCH=win64 or
# win32: mingw-w64's compilers with POSIX threads (std::thread needs them),
# the libraries likewise (scripts/targets/windows.sh).
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
  # The libraries built from source first, before any the system has for the
  # target.
  set(CMAKE_FIND_ROOT_PATH ${ZOLT_CROSS_PREFIX} /usr/s390x-linux-gnu)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
elseif(ZOLT_ARCH STREQUAL "win64" OR ZOLT_ARCH STREQUAL "win32")
  set(CMAKE_SYSTEM_NAME Windows)
  if(ZOLT_ARCH STREQUAL "win64")
    set(zolt_mingw x86_64-w64-mingw32)
    set(CMAKE_SYSTEM_PROCESSOR AMD64)
  else()
    set(zolt_mingw i686-w64-mingw32)
    set(CMAKE_SYSTEM_PROCESSOR x86)
  endif()
  set(CMAKE_C_COMPILER ${zolt_mingw}-gcc-posix)
  set(CMAKE_CXX_COMPILER ${zolt_mingw}-g++-posix)
  set(CMAKE_RC_COMPILER ${zolt_mingw}-windres)
  # As for s390x: libz-mingw-w64-dev's zlib must not stand in for the one
  # built from source.
  set(CMAKE_FIND_ROOT_PATH ${ZOLT_CROSS_PREFIX} /usr/${zolt_mingw})
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
else()
  message(FATAL_ERROR "ZOLT_ARCH must be i386, armhf, arm64, s390x, win64 or win32")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
